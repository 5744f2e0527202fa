#include "uninstaller/RunningPrograms.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace lumvane {
namespace {

class FakeProc : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/lumvane-proc-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        fs::create_directories(root_ / "bin");
        std::ofstream(root_ / "bin" / "lumvane") << "#!";
    }
    void TearDown() override { fs::remove_all(root_); }

    // A process folder whose stat file says `state` and whose exe points at `exe`.
    void addProcess(int pid, char state, const fs::path& exe) {
        fs::path folder = root_ / std::to_string(pid);
        fs::create_directories(folder);
        std::ofstream(folder / "stat") << pid << " (lumvane) " << state << " 1 1 1";
        fs::create_symlink(exe, folder / "exe");
    }

    fs::path root_;
};

TEST_F(FakeProc, ProcessesThatEndWhileTheScanReadsThemAreSkipped) {
    addProcess(101, 'S', root_ / "bin" / "lumvane");
    addProcess(102, 'Z', root_ / "bin" / "lumvane");
    // A stat that cannot be read as a file (as when the process ended between open and
    // read) is skipped instead of ending the scan with an exception.
    fs::create_directories(root_ / "103" / "stat");
    fs::create_symlink(root_ / "bin" / "lumvane", root_ / "103" / "exe");
    addProcess(104, 'R', root_ / "bin" / "other");

    std::vector<RunningProgram> found;
    ASSERT_NO_THROW(found = findRunningPrograms("lumvane", std::nullopt, root_));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].pid, 101);
    EXPECT_EQ(found[0].executable, root_ / "bin" / "lumvane");

    EXPECT_EQ(findRunningPrograms("lumvane", root_ / "elsewhere", root_).size(), 0u);
}

}  // namespace
}  // namespace lumvane
