// What "Check for Updates" tells: the package manager for a copy of the Debian package,
// building again for a copy built from the sources.
#include "app/desktop/SoftwareUpdater.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace lumvane {
namespace {

namespace fs = std::filesystem;

TEST(SoftwareUpdater, ThePackageManagerOnlyForTheProgramOfThePackage) {
    const fs::path info =
        fs::temp_directory_path() / ("updater-dpkg-" + std::to_string(::getpid()));
    fs::remove_all(info);
    fs::create_directories(info);
    std::ofstream(info / "lumvane.list") << "/.\n/usr\n/usr/bin\n/usr/bin/lumvane\n";
    std::ofstream(info / "other.list") << "/usr/local/bin/lumvane\n";

    struct Case {
        const char* program;
        bool packaged;
    };
    for (const Case& c : {Case{"/usr/bin/lumvane", true},
                          Case{"/usr/local/bin/lumvane", false},  // another package's list
                          Case{"/home/me/.local/bin/lumvane", false},
                          Case{"/home/me/lumvane/build/release/src/app/lumvane", false}}) {
        SCOPED_TRACE(c.program);
        const std::string text = updateCheckText(c.program, info);
        EXPECT_EQ(text.find("package manager") != std::string::npos, c.packaged) << text;
        EXPECT_EQ(text.find("built from its sources") != std::string::npos, !c.packaged) << text;
        if (!c.packaged) EXPECT_NE(text.find(c.program), std::string::npos) << text;
    }
    // Without dpkg at all: a copy built from the sources.
    EXPECT_NE(updateCheckText("/usr/bin/lumvane", info / "missing").find("built from its sources"),
              std::string::npos);
    fs::remove_all(info);
}

}  // namespace
}  // namespace lumvane
