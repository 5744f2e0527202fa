#include "ui/TBNUIHelper.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QUrl>

#include "idl/settings.h"
#include "runtime/TBNUtil.h"
#include "ui/PageSupport.h"

namespace lumvane {

namespace {

QColor rgb(double r, double g, double b) {
    return QColor::fromRgbF(static_cast<float>(r), static_cast<float>(g), static_cast<float>(b),
                            1.0f);
}

QFont fontOf(QFont::Weight weight, double size) {
    QFont font;
    font.setFamilies({"Raleway", "Noto Sans", "DejaVu Sans", "Sans Serif"});
    font.setWeight(weight);
    font.setPointSizeF(size > 0 ? size : 12);
    return font;
}

// A phone seen from the front, with its screen.
QPixmap drawPhone(int size, const QColor& body, const QColor& screen) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const double w = size * 0.52, h = size * 0.9;
    QRectF outline((size - w) / 2, (size - h) / 2, w, h);
    p.setPen(Qt::NoPen);
    p.setBrush(body);
    p.drawRoundedRect(outline, size * 0.09, size * 0.09);
    p.setBrush(screen);
    p.drawRoundedRect(outline.adjusted(size * 0.05, size * 0.1, -size * 0.05, -size * 0.1),
                      size * 0.03, size * 0.03);
    return pixmap;
}

// Signal bars, `level` of four lit.
QPixmap drawSignal(int size, int level, const QColor& lit, const QColor& unlit) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    const double bar = size / 6.0;
    for (int i = 0; i < 4; ++i) {
        const double h = size * (0.25 + 0.2 * i);
        p.setBrush(i < level ? lit : unlit);
        p.drawRoundedRect(QRectF(bar * 0.5 + i * bar * 1.35, size * 0.95 - h, bar, h), 1, 1);
    }
    return pixmap;
}

QString hostOf(const QString& siteUrl) {
    QUrl url = QUrl::fromUserInput(siteUrl);
    QString host = url.host();
    if (host.startsWith("www.")) host = host.mid(4);
    return host.isEmpty() ? siteUrl : host;
}

}  // namespace

QColor TBNUIHelper::blueColor() {
    return rgb(0.0, 0.61, 0.73);
}
QColor TBNUIHelper::orangeColor() {
    return rgb(0.97, 0.58, 0.11);
}
QColor TBNUIHelper::darkRedColor() {
    return rgb(0.44, 0.14, 0.07);
}
QColor TBNUIHelper::redColor() {
    return rgb(0.95, 0.37, 0.13);
}
QColor TBNUIHelper::darkYellowColor() {
    return rgb(0.94, 0.62, 0.12);
}
QColor TBNUIHelper::yellowColor() {
    return rgb(0.95, 0.72, 0.11);
}
QColor TBNUIHelper::darkBlueColor() {
    return rgb(0.08, 0.36, 0.41);
}
QColor TBNUIHelper::lightBlueColor() {
    return rgb(0.43, 0.70, 0.80);
}
QColor TBNUIHelper::lightGreenColor() {
    return rgb(0.04, 0.82, 0.74);
}
QColor TBNUIHelper::greenColor() {
    return rgb(0.04, 0.78, 0.49);
}

QFont TBNUIHelper::lightFontWithSize(double size) {
    return fontOf(QFont::Light, size);
}
QFont TBNUIHelper::regularFontWithSize(double size) {
    return fontOf(QFont::Normal, size);
}
QFont TBNUIHelper::mediumFontWithSize(double size) {
    return fontOf(QFont::Medium, size);
}
QFont TBNUIHelper::boldFontWithSize(double size) {
    return fontOf(QFont::Bold, size);
}
QFont TBNUIHelper::blackFontWithSize(double size) {
    return fontOf(QFont::Black, size);
}

QString TBNUIHelper::menuDeviceIconNameByDevice(const TBNOSXDeviceInfo* device, bool darkMenu) {
    const bool online = device && device->online();
    return QString("menu_icon_device_%1%2_22_22")
        .arg(online ? "online" : "offline", darkMenu ? "_white" : "");
}

QString TBNUIHelper::menuRSSIIconNameByDevice(const TBNOSXDeviceInfo* device) {
    if (!device || !device->online()) return "menu_icon_empty_22_22";
    return QString("menu_icon_rssi_%1_22_22").arg(static_cast<uint32_t>(device->rssi()));
}

QString TBNUIHelper::deviceIconNameByDevice(const TBNOSXDeviceInfo*) {
    return "icon_iphone_56_56";
}
QString TBNUIHelper::rssiIconNameByDevice(const TBNOSXDeviceInfo*) {
    return "icon_rssi_4_24_24";
}
QString TBNUIHelper::deviceIconDarkNameByDevice(const TBNOSXDeviceInfo*) {
    return "icon_iphone_dark_56_56";
}
QString TBNUIHelper::rssiIconDarkNameByDevice(const TBNOSXDeviceInfo*) {
    return "icon_rssi_4_dark_24_24";
}

QPixmap TBNUIHelper::imageNamed(const QString& name) {
    const QColor white(Qt::white), dark(darkBlueColor()), grey(150, 150, 150);
    if (name == "icon_iphone_56_56") return drawPhone(56, white, lightBlueColor());
    if (name == "icon_iphone_dark_56_56") return drawPhone(56, dark, lightBlueColor());
    if (name == "icon_rssi_4_24_24") return drawSignal(24, 4, white, grey);
    if (name == "icon_rssi_4_dark_24_24") return drawSignal(24, 4, dark, grey);
    if (name == "menu_icon_empty_22_22") {
        QPixmap empty(22, 22);
        empty.fill(Qt::transparent);
        return empty;
    }
    if (name.startsWith("menu_icon_device_")) {
        const bool online = name.contains("_online");
        const QColor body = name.contains("_white") ? white : QColor(40, 40, 40);
        return drawPhone(22, online ? body : grey, online ? greenColor() : QColor(Qt::transparent));
    }
    if (name.startsWith("menu_icon_rssi_")) {
        bool ok = false;
        const int level = name.section('_', 3, 3).toInt(&ok);
        if (!ok) return {};
        return drawSignal(22, std::min(level, 4), darkMenuMode() ? white : QColor(40, 40, 40),
                          grey);
    }
    return {};
}

bool TBNUIHelper::darkMenuMode() {
    return QApplication::palette().color(QPalette::Window).lightness() < 128;
}

QPixmap TBNUIHelper::menuDeviceIconByDevice(const TBNOSXDeviceInfo* device) {
    return imageNamed(menuDeviceIconNameByDevice(device, darkMenuMode()));
}
QPixmap TBNUIHelper::menuRSSIIconByDevice(const TBNOSXDeviceInfo* device) {
    return imageNamed(menuRSSIIconNameByDevice(device));
}
QPixmap TBNUIHelper::deviceIconByDevice(const TBNOSXDeviceInfo* device) {
    return imageNamed(deviceIconNameByDevice(device));
}
QPixmap TBNUIHelper::rssiIconByDevice(const TBNOSXDeviceInfo* device) {
    return imageNamed(rssiIconNameByDevice(device));
}

QString TBNUIHelper::deviceNameByDevice(const TBNOSXDeviceInfo* device) {
    if (device && device->name()) return QString::fromStdString(*device->name());
    return ui::text("MESSAGE_UNKNOWN_DEVICE");
}

QString TBNUIHelper::deviceInfoByDevice(const TBNOSXDeviceInfo* device) {
    QString model = device && device->model() ? QString::fromStdString(*device->model())
                                              : ui::text("MESSAGE_UNKNOWN_MODEL");
    QString system;
    if (device && device->osVersion()) {
        system = ui::text("MESSAGE_OS_VERSION").arg(QString::fromStdString(*device->osVersion()));
    }
    return model + system;
}

QString TBNUIHelper::appInfoByDevice(const TBNOSXDeviceInfo* device) {
    if (!device || !device->appVersion()) return {};
    return ui::text("MESSAGE_LUMVANE_VERSION").arg(QString::fromStdString(*device->appVersion()));
}

QString TBNUIHelper::faviconCachePath(const QString& siteUrl) {
    const QByteArray digest =
        QCryptographicHash::hash(hostOf(siteUrl).toLower().toUtf8(), QCryptographicHash::Sha256);
    return QDir(ui::environment().faviconCacheFolder).filePath(digest.toHex().left(32) + ".ico");
}

QPixmap TBNUIHelper::faviconPlaceholder(const QString& siteUrl) {
    const int size = 64;
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(lightBlueColor());
    p.drawRoundedRect(QRectF(0, 0, size, size), 14, 14);
    const QString host = hostOf(siteUrl);
    const QString letter = host.isEmpty() ? QString("?") : host.left(1).toUpper();
    p.setPen(Qt::white);
    p.setFont(boldFontWithSize(26));
    p.drawText(QRectF(0, 0, size, size), Qt::AlignCenter, letter);
    return pixmap;
}

void TBNUIHelper::faviconBySiteUrl(const std::optional<std::string>& siteUrl,
                                   std::function<void(const QPixmap&)> success) {
    if (!success) return;
    if (!siteUrl || siteUrl->empty()) {
        success(faviconPlaceholder({}));
        return;
    }
    const QString url = QString::fromStdString(*siteUrl);
    const QString cached = faviconCachePath(url);
    QPixmap icon;
    if (QFileInfo::exists(cached) && icon.load(cached)) {
        success(icon);
        return;
    }
    success(faviconPlaceholder(url));
    const auto& fetch = ui::environment().fetchFavicon;
    if (!fetch) return;
    QUrl site = QUrl::fromUserInput(url);
    if (site.host().isEmpty()) return;
    const QString iconUrl =
        QString("%1://%2/favicon.ico").arg(site.scheme() == "http" ? "http" : "https", site.host());
    fetch(iconUrl, [cached, success](std::optional<QByteArray> bytes) {
        if (!bytes) return;
        QPixmap image;
        if (!image.loadFromData(*bytes)) return;
        QDir().mkpath(QFileInfo(cached).path());
        QFile file(cached);
        if (file.open(QIODevice::WriteOnly)) file.write(*bytes);
        ui::onMainNow(nullptr, [success, image] { success(image); });
    });
}

QString TBNUIHelper::css(const QColor& color) {
    return color.name(QColor::HexRgb);
}

}  // namespace lumvane
