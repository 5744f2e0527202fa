#include "ui/PageEnvironment.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QStandardPaths>
#include <QUrl>

#include "app/shell/ServiceLayerBridges.h"
#include "core/pasteboard/Pasteboard.h"
#include "lumvane/Version.h"
#include "runtime/Clock.h"
#include "settings/TBNSettings.h"
#include "ui/DriverSetup.h"
#include "ui/PageSupport.h"

namespace lumvane::ui {

namespace {

std::optional<PageEnvironment>& current() {
    static std::optional<PageEnvironment> environment;
    return environment;
}

QNetworkAccessManager* network() {
    static QNetworkAccessManager* manager = new QNetworkAccessManager();
    return manager;
}

std::optional<QString> askWithDialog(QWidget* parent, const FileQuestion& q) {
    QString path;
    switch (q.kind) {
        case FileQuestion::Kind::OpenFile:
            path = QFileDialog::getOpenFileName(parent, q.title, q.directory, q.filter);
            break;
        case FileQuestion::Kind::SaveFile:
            path = QFileDialog::getSaveFileName(
                parent, q.title, QDir(q.directory).filePath(q.proposedName), q.filter);
            break;
        case FileQuestion::Kind::Folder:
            path = QFileDialog::getExistingDirectory(parent, q.title, q.directory);
            break;
    }
    if (path.isEmpty()) return std::nullopt;
    return path;
}

void fetchWithNetwork(const QString& url, std::function<void(std::optional<QByteArray>)> done) {
    QNetworkRequest request{QUrl(url)};
    // Icons are a nicety: a slow site must not keep a placeholder waiting long.
    request.setTransferTimeout(4000);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    QNetworkReply* reply = network()->get(request);
    QObject::connect(reply, &QNetworkReply::finished, reply, [reply, done = std::move(done)] {
        reply->deleteLater();
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (reply->error() != QNetworkReply::NoError || status >= 400) {
            done(std::nullopt);
            return;
        }
        // A favicon larger than this is not an icon.
        QByteArray bytes = reply->read(1 << 20);
        done(bytes.isEmpty() ? std::nullopt : std::optional<QByteArray>(bytes));
    });
}

}  // namespace

PageEnvironment defaultEnvironment() {
    PageEnvironment e;
    e.clock = Clock::steady();
    e.settings = &TBNSettings::sharedSettings();
    e.pasteboard = TBNPasteboard::generalPasteboard();
    e.notifyPasswordCopied = [] {};
    e.sendRating = [](int64_t stars) {
        // Platform 1: the desktop application.
        TBNApplicationRatingRepositoryBridge::shareRepository()->sendRating(stars, 1);
    };
    e.recordRate = [](PageEnvironment::RateRecord record) {
        auto& settings = TBNSettings::sharedSettings();
        switch (record) {
            case PageEnvironment::RateRecord::Skip:
                settings.skipRate();
                break;
            case PageEnvironment::RateRecord::Cancel:
                settings.cancelRate();
                break;
            case PageEnvironment::RateRecord::Success:
                settings.successRate();
                break;
        }
    };
    e.chooseFile = askWithDialog;
    e.openUrl = [](const QString& url) { QDesktopServices::openUrl(QUrl(url)); };
    e.fetchFavicon = fetchWithNetwork;
    e.faviconCacheFolder =
        QDir(QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation))
            .filePath("Lumvane/favicons");
    e.driverSetup = TBNDriverSetup::system();
    e.startSecurityKey = [] {};
    e.version = QString::fromUtf8(kAppVersion);
    return e;
}

const PageEnvironment& environment() {
    auto& e = current();
    if (!e) e = defaultEnvironment();
    return *e;
}

void setEnvironment(PageEnvironment environment) {
    current() = std::move(environment);
}

}  // namespace lumvane::ui
