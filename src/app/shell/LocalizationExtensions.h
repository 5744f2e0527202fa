#pragma once
// Localised texts by key. A bundle is a folder with its strings table in "Localizable.json"
// (a JSON object of key to text) and, possibly, nested bundles: sub-folders whose names
// end in ".bundle". A key is looked up in the main bundle and the bundles directly inside
// it, then in the extra bundles registered at run time; a key that nothing translates is
// reported by the notification "LocalizationExtensions.missingTranslation" (the key is
// the notification's userInfo, a std::string) and shown as it is.
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class QAbstractButton;
class QLabel;
class QLineEdit;

namespace lumvane {

inline constexpr const char* kMissingTranslationNotification =
    "LocalizationExtensions.missingTranslation";

class LocalizationBundle {
  public:
    static constexpr const char* kStringsFile = "Localizable.json";

    static std::shared_ptr<LocalizationBundle> at(const std::filesystem::path& folder);

    const std::filesystem::path& path() const { return path_; }
    // The table's text for the key; the key itself when the table has none.
    std::string localizedStringForKey(const std::string& key) const;
    // Nested bundles directly inside this one, by name.
    std::vector<std::shared_ptr<LocalizationBundle>> nestedBundles() const;

  private:
    explicit LocalizationBundle(std::filesystem::path path) : path_(std::move(path)) {}
    const std::map<std::string, std::string>& table() const;

    std::filesystem::path path_;
    mutable std::once_flag loaded_;
    mutable std::map<std::string, std::string> table_;
};

class LocalizationExtensions {
  public:
    // The main bundle: the application's resource folder ($LUMVANE_RESOURCES, else
    // "../share/lumvane" next to the executable). Replaceable for tests.
    static std::shared_ptr<LocalizationBundle> mainBundle();
    static void setMainBundle(std::shared_ptr<LocalizationBundle> bundle);

    // Adds an extra bundle; the main bundle and bundles already in the list are ignored.
    static void registerBundle(const std::shared_ptr<LocalizationBundle>& bundle);
    static std::vector<std::shared_ptr<LocalizationBundle>> registeredBundles();

    static std::string localizedString(const std::string& key, const std::string& comment = "");
};

// Controls given a localisation key instead of a text; an absent key clears the text.
// Reading gives back the shown text.
void setLzText(QLineEdit* field, const std::optional<std::string>& key);
void setLzText(QLabel* label, const std::optional<std::string>& key);
std::string lzText(const QLineEdit* field);
std::string lzText(const QLabel* label);
void setLzTitle(QAbstractButton* button, const std::optional<std::string>& key);
std::string lzTitle(const QAbstractButton* button);
// Qt buttons have no alternate title; it is kept in the button's "alternateTitle" property.
void setLzAlternateTitle(QAbstractButton* button, const std::optional<std::string>& key);
std::string lzAlternateTitle(const QAbstractButton* button);

// The Secure Enclave switch. Linux machines have no Secure Enclave, so the switch is
// never available: `sepEnabled` answers false and `enableSep` changes nothing.
class Settings {
  public:
    static constexpr const char* kSepEnabledKey = "sepEnabled";

    static bool sepAvailable();
    static bool sepEnabled();
    static bool enableSep();
    static void disableSep();
    // The stored user default, if set (the process's defaults; not persisted).
    static std::optional<bool> storedSepEnabled();
};

}  // namespace lumvane
