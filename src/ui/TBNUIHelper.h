#pragma once
// The product's named colours, its font family at five weights, the icons and display
// texts of a phone, the length limit of credential texts, and the site icons.
// Main (GUI) thread only.
#include <QColor>
#include <QFont>
#include <QPixmap>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "ui/PageEnvironment.h"

namespace lumvane {

class TBNOSXDeviceInfo;

class TBNUIHelper {
  public:
    TBNUIHelper() = delete;

    static QColor blueColor();
    static QColor orangeColor();
    static QColor darkRedColor();
    static QColor redColor();
    static QColor darkYellowColor();
    static QColor yellowColor();
    static QColor darkBlueColor();
    static QColor lightBlueColor();
    static QColor lightGreenColor();
    static QColor greenColor();

    // "Raleway" at five weights, falling back to the desktop's sans-serif font.
    static QFont lightFontWithSize(double size);
    static QFont regularFontWithSize(double size);
    static QFont mediumFontWithSize(double size);
    static QFont boldFontWithSize(double size);
    static QFont blackFontWithSize(double size);

    // Image names of a phone's icons; imageNamed() draws them.
    static QString menuDeviceIconNameByDevice(const TBNOSXDeviceInfo* device, bool darkMenu);
    static QString menuRSSIIconNameByDevice(const TBNOSXDeviceInfo* device);
    static QString deviceIconNameByDevice(const TBNOSXDeviceInfo* device);
    static QString rssiIconNameByDevice(const TBNOSXDeviceInfo* device);
    static QString deviceIconDarkNameByDevice(const TBNOSXDeviceInfo* device);
    static QString rssiIconDarkNameByDevice(const TBNOSXDeviceInfo* device);
    // A picture for one of the names above (null for a name we do not know).
    static QPixmap imageNamed(const QString& name);
    // Whether the desktop draws light text on dark panels.
    static bool darkMenuMode();

    static QPixmap menuDeviceIconByDevice(const TBNOSXDeviceInfo* device);
    static QPixmap menuRSSIIconByDevice(const TBNOSXDeviceInfo* device);
    static QPixmap deviceIconByDevice(const TBNOSXDeviceInfo* device);
    static QPixmap rssiIconByDevice(const TBNOSXDeviceInfo* device);

    static QString deviceNameByDevice(const TBNOSXDeviceInfo* device);
    static QString deviceInfoByDevice(const TBNOSXDeviceInfo* device);
    static QString appInfoByDevice(const TBNOSXDeviceInfo* device);

    static constexpr int maxCredentialLenght() { return 256; }

    // The site's icon: at once the cached icon, or else a letter placeholder followed,
    // when the download succeeds, by the downloaded icon (on the GUI thread).
    static void faviconBySiteUrl(const std::optional<std::string>& siteUrl,
                                 std::function<void(const QPixmap&)> success);
    // The placeholder: the first letter of the site's host on a rounded square.
    static QPixmap faviconPlaceholder(const QString& siteUrl);
    // Where the icon of a site's host is cached.
    static QString faviconCachePath(const QString& siteUrl);

    // A style sheet colour ("#rrggbb").
    static QString css(const QColor& color);
};

}  // namespace lumvane
