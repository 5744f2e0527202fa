// The uninstaller's window, driven the way a user clicks it (offscreen).
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>

#include "UninstallTestSupport.h"
#include "uninstaller/ViewController.h"

namespace lumvane::testing {
namespace {

QApplication& application() {
    static int argc = 1;
    static char name[] = "uninstaller_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

class ViewControllerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        application();
        controller = std::make_unique<ViewController>(install.environment());
        controller->setConfirmation([this] {
            ++questions;
            return answer;
        });
        controller->setFailureNotice([this](const UninstallReport&) { ++notices; });
        controller->setFinish([this](int status) { finished.push_back(status); });
    }

    FakeInstall install;
    std::unique_ptr<ViewController> controller;
    bool answer = true;
    int questions = 0;
    int notices = 0;
    std::vector<int> finished;
};

TEST_F(ViewControllerTest, SwitchesEnableUninstallAndLeaveLogs) {
    auto& c = *controller;
    EXPECT_FALSE(c.uninstallPressButton->isEnabled());
    EXPECT_FALSE(c.leaveLogsSwith->isEnabled());
    EXPECT_EQ(c.removeBackupsTextField->text().toStdString(),
              "remove backup directory:\n'~/Documents/Lumvane'");

    c.removeAppSwith->click();
    EXPECT_TRUE(c.uninstallPressButton->isEnabled());
    c.removeAppSwith->click();
    EXPECT_FALSE(c.uninstallPressButton->isEnabled());

    c.removePreferencesSwith->click();
    EXPECT_TRUE(c.uninstallPressButton->isEnabled());
    EXPECT_TRUE(c.leaveLogsSwith->isEnabled());
    c.leaveLogsSwith->click();
    c.removePreferencesSwith->click();
    // Disabled, the leave-logs switch keeps its value but no longer counts.
    EXPECT_FALSE(c.leaveLogsSwith->isEnabled());
    EXPECT_TRUE(c.leaveLogsSwith->isChecked());
    EXPECT_FALSE(c.options().choices().leaveLogs);
    EXPECT_TRUE(finished.empty());
}

TEST_F(ViewControllerTest, BackupsSwitchAsksOnEveryChange) {
    auto& c = *controller;
    answer = false;
    c.removeBackupsSwith->click();
    EXPECT_EQ(questions, 1);
    EXPECT_FALSE(c.removeBackupsSwith->isChecked());
    EXPECT_FALSE(c.uninstallPressButton->isEnabled());

    answer = true;
    c.removeBackupsSwith->click();
    EXPECT_EQ(questions, 2);
    EXPECT_TRUE(c.removeBackupsSwith->isChecked());
    EXPECT_TRUE(c.uninstallPressButton->isEnabled());

    c.removeBackupsSwith->click();  // off, and "Yes" keeps it off
    EXPECT_EQ(questions, 3);
    EXPECT_FALSE(c.removeBackupsSwith->isChecked());
    EXPECT_FALSE(c.uninstallPressButton->isEnabled());
}

TEST_F(ViewControllerTest, UninstallRemovesTheChoiceAndEndsWithItsStatus) {
    install.populate(false);
    auto& c = *controller;
    c.removePreferencesSwith->click();
    c.leaveLogsSwith->click();
    c.uninstallPressButton->click();
    EXPECT_EQ(finished, std::vector<int>{0});
    EXPECT_EQ(notices, 0);
    EXPECT_FALSE(present(install.settings() / "settings.tbnlmveprf"));
    EXPECT_TRUE(present(install.settings() / "logs"));
    EXPECT_TRUE(present(install.backups()));
    EXPECT_TRUE(present(install.program()));
}

TEST_F(ViewControllerTest, FailuresAreShownAndEndTheRunWithStatusOne) {
    install.populate(false);
    install.keychain->failNextWith(FakeKeychain::Operation::remove, kKeychainIOError);
    controller->removePreferencesSwith->click();
    controller->uninstallPressButton->click();
    EXPECT_EQ(notices, 1);
    EXPECT_EQ(finished, std::vector<int>{1});
    EXPECT_FALSE(controller->lastReport().succeeded());
}

TEST_F(ViewControllerTest, CancelEndsWithoutRemovingAnything) {
    install.populate(false);
    controller->removeAppSwith->click();
    controller->cancelButton->click();
    EXPECT_EQ(finished, std::vector<int>{0});
    EXPECT_TRUE(present(install.program()));
    EXPECT_TRUE(present(install.chromeManifest()));
}

}  // namespace
}  // namespace lumvane::testing
