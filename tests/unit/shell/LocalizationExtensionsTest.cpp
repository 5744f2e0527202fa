#include "app/shell/LocalizationExtensions.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <fstream>
#include <random>

#include "runtime/NotificationCenter.h"

namespace lumvane {
namespace {

namespace fs = std::filesystem;

class LocalizationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root = fs::temp_directory_path() / ("lz-test-" + std::to_string(std::random_device{}()));
        fs::create_directories(root);
        observer = NotificationCenter::defaultCenter().addObserver(
            kMissingTranslationNotification, [this](const Notification& n) {
                missing.push_back(std::any_cast<std::string>(n.userInfo));
            });
    }
    void TearDown() override {
        NotificationCenter::defaultCenter().removeObserver(observer);
        fs::remove_all(root);
    }
    std::shared_ptr<LocalizationBundle> bundle(const fs::path& relative, const std::string& json) {
        fs::create_directories(root / relative);
        std::ofstream(root / relative / LocalizationBundle::kStringsFile) << json;
        return LocalizationBundle::at(root / relative);
    }

    fs::path root;
    NotificationCenter::ObserverId observer = 0;
    std::vector<std::string> missing;
};

TEST_F(LocalizationTest, LookupOrderDepthAndMissingKeys) {
    auto main = bundle("Main", R"({"TITLE":"Lumvane","SAME":"SAME","odd":7})");
    bundle("Main/b.bundle", R"({"NESTED":"from nested","TITLE":"not this"})");
    bundle("Main/a.bundle", R"({"NESTED":"from a, first by name"})");
    bundle("Main/b.bundle/deep.bundle", R"({"DEEP":"too deep"})");
    bundle("Main/notabundle", R"({"HIDDEN":"hidden"})");
    auto extra = bundle("Extra", R"({"EXTRA":"from extra","SAME":"same here"})");
    LocalizationExtensions::setMainBundle(main);
    LocalizationExtensions::registerBundle(extra);

    EXPECT_EQ(LocalizationExtensions::localizedString("TITLE"), "Lumvane");
    EXPECT_EQ(LocalizationExtensions::localizedString("NESTED"), "from a, first by name");
    EXPECT_EQ(LocalizationExtensions::localizedString("EXTRA"), "from extra");
    // A translation equal to its key counts as missing in that bundle.
    EXPECT_EQ(LocalizationExtensions::localizedString("SAME"), "same here");
    EXPECT_TRUE(missing.empty());

    for (const char* key : {"DEEP", "HIDDEN", "odd", "UNKNOWN"}) {
        EXPECT_EQ(LocalizationExtensions::localizedString(key), key);
    }
    EXPECT_EQ(missing, (std::vector<std::string>{"DEEP", "HIDDEN", "odd", "UNKNOWN"}));
}

TEST_F(LocalizationTest, RegisteringMainOrKnownBundleChangesNothing) {
    auto main = bundle("Main", "{}");
    LocalizationExtensions::setMainBundle(main);
    size_t before = LocalizationExtensions::registeredBundles().size();
    LocalizationExtensions::registerBundle(main);
    LocalizationExtensions::registerBundle(LocalizationBundle::at(root / "Main" / "."));
    auto other = bundle("Other", "{}");
    LocalizationExtensions::registerBundle(other);
    LocalizationExtensions::registerBundle(LocalizationBundle::at(root / "Other"));
    EXPECT_EQ(LocalizationExtensions::registeredBundles().size(), before + 1);
}

TEST_F(LocalizationTest, BrokenTablesReadAsEmpty) {
    auto main = bundle("Main", "{not json");
    bundle("Main/x.bundle", R"(["TITLE","x"])");
    LocalizationExtensions::setMainBundle(main);
    EXPECT_EQ(LocalizationExtensions::localizedString("TITLE"), "TITLE");
    LocalizationExtensions::setMainBundle(LocalizationBundle::at(root / "does-not-exist"));
    EXPECT_EQ(LocalizationExtensions::localizedString("TITLE"), "TITLE");
    EXPECT_EQ(missing.size(), 2u);
}

TEST_F(LocalizationTest, ControlsShowTranslationsAndAbsentKeysClear) {
    int argc = 1;
    char name[] = "shell_tests";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    LocalizationExtensions::setMainBundle(bundle("Main", R"({"OK":"Okay","ALT":"Other"})"));
    QLineEdit field;
    QLabel label;
    QPushButton button;
    setLzText(&field, "OK");
    setLzText(&label, "ALT");
    setLzTitle(&button, "OK");
    setLzAlternateTitle(&button, "ALT");
    EXPECT_EQ(lzText(&field), "Okay");
    EXPECT_EQ(lzText(&label), "Other");
    EXPECT_EQ(lzTitle(&button), "Okay");
    EXPECT_EQ(lzAlternateTitle(&button), "Other");
    setLzTitle(&button, std::nullopt);
    setLzAlternateTitle(&button, std::nullopt);
    setLzText(&field, std::nullopt);
    EXPECT_EQ(lzTitle(&button), "");
    EXPECT_EQ(lzAlternateTitle(&button), "");
    EXPECT_EQ(lzText(&field), "");
    EXPECT_TRUE(missing.empty());
}

TEST(SecureEnclaveSwitchTest, UnavailableOnLinuxSoItStaysOff) {
    EXPECT_FALSE(Settings::sepAvailable());
    EXPECT_FALSE(Settings::enableSep());
    EXPECT_FALSE(Settings::storedSepEnabled().has_value());
    EXPECT_FALSE(Settings::sepEnabled());
    Settings::disableSep();
    EXPECT_EQ(Settings::storedSepEnabled(), false);
    EXPECT_FALSE(Settings::sepEnabled());
}

}  // namespace
}  // namespace lumvane
