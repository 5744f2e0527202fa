#include "app/shell/LocalizationExtensions.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QVariant>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <system_error>

#include "runtime/NotificationCenter.h"

namespace lumvane {

namespace fs = std::filesystem;

namespace {

// Strings tables are small; a larger file is not read.
constexpr std::uintmax_t kMaxStringsFileSize = 4 << 20;

struct BundleRegistry {
    std::mutex mutex;
    std::shared_ptr<LocalizationBundle> main;
    bool mainSet = false;
    std::vector<std::shared_ptr<LocalizationBundle>> extra;
};

BundleRegistry& registry() {
    static BundleRegistry instance;
    return instance;
}

fs::path defaultResourceFolder() {
    if (const char* env = std::getenv("LUMVANE_RESOURCES"); env && *env) return env;
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return fs::current_path(ec);
    return exe.parent_path() / ".." / "share" / "lumvane";
}

bool sameBundle(const std::shared_ptr<LocalizationBundle>& a,
                const std::shared_ptr<LocalizationBundle>& b) {
    if (!a || !b) return false;
    if (a == b) return true;
    std::error_code ec1, ec2;
    auto pa = fs::weakly_canonical(a->path(), ec1);
    auto pb = fs::weakly_canonical(b->path(), ec2);
    return !ec1 && !ec2 && pa == pb;
}

std::optional<std::string> lookUp(const std::shared_ptr<LocalizationBundle>& bundle,
                                  const std::string& key, int depth) {
    if (!bundle) return std::nullopt;
    std::string answer = bundle->localizedStringForKey(key);
    if (answer != key) return answer;
    if (depth > 0) {
        for (const auto& nested : bundle->nestedBundles()) {
            if (auto found = lookUp(nested, key, depth - 1)) return found;
        }
    }
    return std::nullopt;
}

std::string fromQt(const QString& text) {
    return text.toStdString();
}
QString toQt(const std::optional<std::string>& key) {
    if (!key) return QString();
    return QString::fromStdString(LocalizationExtensions::localizedString(*key));
}

// In-process user defaults of the shell.
struct Defaults {
    std::mutex mutex;
    std::map<std::string, bool> values;
};
Defaults& defaults() {
    static Defaults instance;
    return instance;
}

}  // namespace

std::shared_ptr<LocalizationBundle> LocalizationBundle::at(const fs::path& folder) {
    return std::shared_ptr<LocalizationBundle>(new LocalizationBundle(folder));
}

const std::map<std::string, std::string>& LocalizationBundle::table() const {
    std::call_once(loaded_, [this] {
        fs::path file = path_ / kStringsFile;
        std::error_code ec;
        auto size = fs::file_size(file, ec);
        if (ec || size > kMaxStringsFileSize) return;
        std::ifstream in(file, std::ios::binary);
        auto parsed = nlohmann::json::parse(in, nullptr, false);
        if (!parsed.is_object()) return;
        for (const auto& [key, value] : parsed.items()) {
            if (value.is_string()) table_[key] = value.get<std::string>();
        }
    });
    return table_;
}

std::string LocalizationBundle::localizedStringForKey(const std::string& key) const {
    const auto& strings = table();
    auto it = strings.find(key);
    return it == strings.end() ? key : it->second;
}

std::vector<std::shared_ptr<LocalizationBundle>> LocalizationBundle::nestedBundles() const {
    std::vector<fs::path> folders;
    std::error_code ec;
    for (fs::directory_iterator it(path_, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (it->path().extension() == ".bundle" && it->is_directory(typeError)) {
            folders.push_back(it->path());
        }
    }
    std::sort(folders.begin(), folders.end());
    std::vector<std::shared_ptr<LocalizationBundle>> bundles;
    for (const auto& folder : folders) bundles.push_back(at(folder));
    return bundles;
}

std::shared_ptr<LocalizationBundle> LocalizationExtensions::mainBundle() {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    if (!r.mainSet) {
        r.main = LocalizationBundle::at(defaultResourceFolder());
        r.mainSet = true;
    }
    return r.main;
}

void LocalizationExtensions::setMainBundle(std::shared_ptr<LocalizationBundle> bundle) {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    r.main = std::move(bundle);
    r.mainSet = true;
}

void LocalizationExtensions::registerBundle(const std::shared_ptr<LocalizationBundle>& bundle) {
    if (!bundle) return;
    auto main = mainBundle();
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    if (sameBundle(bundle, main)) return;
    for (const auto& known : r.extra) {
        if (sameBundle(known, bundle)) return;
    }
    r.extra.push_back(bundle);
}

std::vector<std::shared_ptr<LocalizationBundle>> LocalizationExtensions::registeredBundles() {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    return r.extra;
}

std::string LocalizationExtensions::localizedString(const std::string& key,
                                                    const std::string& /*comment*/) {
    auto main = mainBundle();
    if (auto found = lookUp(main, key, 1)) return *found;
    for (const auto& bundle : registeredBundles()) {
        if (sameBundle(bundle, main)) continue;
        if (auto found = lookUp(bundle, key, 1)) return *found;
    }
    NotificationCenter::defaultCenter().postNotification(kMissingTranslationNotification, nullptr,
                                                         key);
    return key;
}

void setLzText(QLineEdit* field, const std::optional<std::string>& key) {
    if (field) field->setText(toQt(key));
}
void setLzText(QLabel* label, const std::optional<std::string>& key) {
    if (label) label->setText(toQt(key));
}
std::string lzText(const QLineEdit* field) {
    return field ? fromQt(field->text()) : std::string();
}
std::string lzText(const QLabel* label) {
    return label ? fromQt(label->text()) : std::string();
}
void setLzTitle(QAbstractButton* button, const std::optional<std::string>& key) {
    if (button) button->setText(toQt(key));
}
std::string lzTitle(const QAbstractButton* button) {
    return button ? fromQt(button->text()) : std::string();
}
void setLzAlternateTitle(QAbstractButton* button, const std::optional<std::string>& key) {
    if (button) button->setProperty("alternateTitle", toQt(key));
}
std::string lzAlternateTitle(const QAbstractButton* button) {
    return button ? fromQt(button->property("alternateTitle").toString()) : std::string();
}

bool Settings::sepAvailable() {
    return false;
}

bool Settings::sepEnabled() {
    if (!sepAvailable()) return false;
    return storedSepEnabled().value_or(false);
}

bool Settings::enableSep() {
    if (!sepAvailable()) return false;
    auto& d = defaults();
    std::lock_guard lock(d.mutex);
    d.values[kSepEnabledKey] = true;
    return true;
}

void Settings::disableSep() {
    auto& d = defaults();
    std::lock_guard lock(d.mutex);
    d.values[kSepEnabledKey] = false;
}

std::optional<bool> Settings::storedSepEnabled() {
    auto& d = defaults();
    std::lock_guard lock(d.mutex);
    auto it = d.values.find(kSepEnabledKey);
    if (it == d.values.end()) return std::nullopt;
    return it->second;
}

}  // namespace lumvane
