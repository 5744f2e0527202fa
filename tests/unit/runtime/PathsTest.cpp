#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "runtime/Paths.h"

using namespace lumvane;
namespace fs = std::filesystem;

namespace {

class PathsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root = fs::temp_directory_path() /
               ("lumvane-paths-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root);
        fs::create_directories(root);
    }
    void TearDown() override {
        Paths::setRootOverride(std::nullopt);
        fs::remove_all(root);
    }
    void writeUserDirs(const fs::path& configHome, const std::string& text) {
        fs::create_directories(configHome);
        std::ofstream(configHome / "user-dirs.dirs") << text;
    }
    fs::path root;
};

TEST_F(PathsTest, RootOverrideStandsForTheHomeFolderAndIgnoresTheEnvironment) {
    ::setenv("XDG_DATA_HOME", "/somewhere/else", 1);
    Paths::setRootOverride(root);
    EXPECT_EQ(Paths::settingsFolder(), root / ".local/share/Lumvane");
    EXPECT_EQ(Paths::logsFolder(), root / ".local/share/Lumvane/logs");
    EXPECT_EQ(Paths::oldSettingsFolder(), root / ".local/share/Tobrin/Lumvane");
    EXPECT_EQ(Paths::documentsFolder(), root / "Documents");
}

TEST_F(PathsTest, XdgDataHomeIsUsedWhenAbsolute) {
    ::setenv("XDG_DATA_HOME", root.c_str(), 1);
    EXPECT_EQ(Paths::settingsFolder(), root / "Lumvane");
    EXPECT_EQ(Paths::oldSettingsFolder(), root / "Tobrin/Lumvane");
    ::setenv("HOME", root.c_str(), 1);
    ::setenv("XDG_DATA_HOME", "relative/dir", 1);
    EXPECT_EQ(Paths::settingsFolder(), root / ".local/share/Lumvane");
    ::unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(Paths::logsFolder(), root / ".local/share/Lumvane/logs");
}

TEST_F(PathsTest, DocumentsFolderComesFromUserDirs) {
    Paths::setRootOverride(root);
    struct Case {
        const char* file;
        fs::path expected;
    };
    const Case cases[] = {
        {"XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n", root / "Dokumente"},
        {"# comment\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n  XDG_DOCUMENTS_DIR=\"/data/docs\"\n",
         "/data/docs"},
        {"XDG_DOCUMENTS_DIR=\"$HOME/\"\n", root / "Documents"},
        {"XDG_DOCUMENTS_DIR=\"relative\"\n", root / "Documents"},
        {"XDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n", root / "Documents"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        writeUserDirs(root / ".config", c.file);
        EXPECT_EQ(Paths::documentsFolder(), c.expected);
    }
    fs::remove(root / ".config/user-dirs.dirs");
    EXPECT_EQ(Paths::documentsFolder(), root / "Documents");
}

TEST_F(PathsTest, PrivateFoldersAreCreatedOwnerOnly) {
    Paths::setRootOverride(root);
    Paths::createPrivateFolder(Paths::logsFolder());
    for (const auto& p : {Paths::settingsFolder(), Paths::logsFolder(), root / ".local"}) {
        ASSERT_TRUE(fs::is_directory(p)) << p;
        EXPECT_EQ(fs::status(p).permissions() & fs::perms::all, fs::perms::owner_all) << p;
    }
    Paths::createPrivateFolder(Paths::logsFolder());  // existing: fine
    std::ofstream(root / "file") << "x";
    EXPECT_THROW(Paths::createPrivateFolder(root / "file"), fs::filesystem_error);
    EXPECT_THROW(Paths::createPrivateFolder(root / "file" / "sub"), fs::filesystem_error);
}

}  // namespace
