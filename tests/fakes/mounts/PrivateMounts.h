#pragma once
// File systems that fail the way real disks do (full, read-only), for tests. They live in
// a mount namespace of the test process's own: nobody else sees them, and they vanish
// with the process even when it is killed.
#include <cstddef>
#include <filesystem>
#include <string>

namespace lumvane::test {

// Moves this process into a mount namespace of its own, with no mount propagating back.
// Call at the start of main, before any thread exists (threads started earlier would stay
// in the old namespace). Needs CAP_SYS_ADMIN (root in CI); false when not allowed.
bool enterPrivateMountNamespace();
// Whether enterPrivateMountNamespace() succeeded in this process.
bool inPrivateMountNamespace();
// Why the namespace could not be entered (for a test's skip message).
std::string privateMountNamespaceProblem();

// A tmpfs of a few pages on a fresh folder under the temporary folder; unmounted and
// removed by the destructor. mounted() is false outside a private mount namespace.
class SmallTmpfs {
  public:
    explicit SmallTmpfs(size_t bytes = 64 * 1024);
    ~SmallTmpfs();
    SmallTmpfs(const SmallTmpfs&) = delete;
    SmallTmpfs& operator=(const SmallTmpfs&) = delete;

    bool mounted() const { return mounted_; }
    const std::filesystem::path& path() const { return path_; }

    // Takes every free byte with a filler file (writes then fail with ENOSPC), and gives
    // them back.
    void fill();
    void release();
    // Mounts the file system read-only (writes fail with EROFS), and writable again.
    void setReadOnly(bool readOnly);

  private:
    std::filesystem::path path_;
    size_t bytes_;
    bool mounted_ = false;
};

}  // namespace lumvane::test
