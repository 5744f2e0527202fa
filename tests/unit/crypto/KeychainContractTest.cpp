#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <thread>

#include "TestSupport.h"
#include "crypto/CryptoTypes.h"
#include "keychain/FakeKeychain.h"
#include "platform/keychain/FileKeychain.h"
#include "platform/keychain/SecretServiceKeychain.h"

using namespace lumvane;
using namespace lumvane::test;
namespace fs = std::filesystem;

namespace {

constexpr const char* kInSessionVariable = "LUMVANE_IN_KEYRING_SESSION";

fs::path freshFolder(const std::string& name) {
    fs::path dir = fs::temp_directory_path() /
                   ("lumvane-kc-" + name + "-" + std::to_string(::getpid()) + "-" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    return dir;
}

// Each kind of store gives a fresh store and, through reopen(), a second handle on
// the same storage (a new process would see the same).
struct FakeStore {
    static constexpr const char* kName = "Fake";
    std::shared_ptr<FakeKeychain> store = std::make_shared<FakeKeychain>();
    std::shared_ptr<KeychainStore> open() { return store; }
    std::shared_ptr<KeychainStore> reopen() { return store; }
};

struct FileStore {
    static constexpr const char* kName = "File";
    fs::path folder = freshFolder("file") / "Lumvane";
    std::shared_ptr<KeychainStore> open() { return std::make_shared<FileKeychain>(folder); }
    std::shared_ptr<KeychainStore> reopen() { return open(); }
    ~FileStore() { fs::remove_all(folder.parent_path()); }
};

// The Secret Service with the file store behind it: once as a keyring that takes every
// item, once as one that refuses them all (every item then lives in the file).
template <bool kRefuses>
struct WithFileFallback {
    static constexpr const char* kName = kRefuses ? "RefusedToFile" : "TakenByKeyring";
    std::shared_ptr<FakeKeychain> keyring = [] {
        auto k = std::make_shared<FakeKeychain>();
        if (kRefuses) k->refuseToStore(kKeychainNotAvailable);
        return k;
    }();
    fs::path folder = freshFolder(kName) / "Lumvane";
    std::shared_ptr<KeychainStore> open() { return makeKeychainStore(keyring, folder); }
    std::shared_ptr<KeychainStore> reopen() { return open(); }
    ~WithFileFallback() { fs::remove_all(folder.parent_path()); }
};

struct SecretServiceStore {
    static constexpr const char* kName = "SecretService";
    std::shared_ptr<KeychainStore> open() { return SecretServiceKeychain::connect(); }
    std::shared_ptr<KeychainStore> reopen() { return open(); }
};

template <class Kind>
class KeychainContract : public ::testing::Test {
  protected:
    void SetUp() override {
        if constexpr (std::is_same_v<Kind, SecretServiceStore>) {
            if (std::getenv(kInSessionVariable) == nullptr) {
                GTEST_SKIP() << "runs inside the private keyring session that "
                                "SecretServiceKeychain.ContractInPrivateKeyringSession starts";
            }
        }
        store = kind.open();
        if (!store) {
            GTEST_SKIP() << "no Secret Service answered on the session bus";
        }
        // Items of an earlier run of the same session must not leak in.
        for (const char* s : {"a", "b", "com.tobrin.lumvane.passcode", "with space/and:colon"}) {
            store->deleteItem(service(s));
        }
    }
    std::string service(const std::string& s) const { return "lumvane.test." + s; }

    Kind kind;
    std::shared_ptr<KeychainStore> store;
};

struct KindNames {
    template <class T>
    static std::string GetName(int) {
        return T::kName;
    }
};

using Kinds = ::testing::Types<FakeStore, FileStore, WithFileFallback<false>,
                               WithFileFallback<true>, SecretServiceStore>;
TYPED_TEST_SUITE(KeychainContract, Kinds, KindNames);

TYPED_TEST(KeychainContract, MissingItemIsNotFound) {
    Bytes value = {9};
    EXPECT_EQ(this->store->copyItem(this->service("a"), value), kKeychainItemNotFound);
    EXPECT_EQ(value, Bytes{9}) << "untouched on failure";
    EXPECT_EQ(this->store->deleteItem(this->service("a")), kKeychainItemNotFound);
}

TYPED_TEST(KeychainContract, AddCopyDuplicateDelete) {
    Bytes key(32);
    for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<uint8_t>(i * 37);
    key[3] = 0;
    key[4] = 0xFF;
    const std::string s = this->service("com.tobrin.lumvane.passcode");
    ASSERT_EQ(this->store->addItem(s, key), kKeychainSuccess);
    Bytes got;
    ASSERT_EQ(this->store->copyItem(s, got), kKeychainSuccess);
    EXPECT_EQ(got, key);
    EXPECT_EQ(this->store->addItem(s, bytesOf("other")), kKeychainDuplicateItem);
    ASSERT_EQ(this->store->copyItem(s, got), kKeychainSuccess);
    EXPECT_EQ(got, key) << "a refused add leaves the old value";
    EXPECT_EQ(this->store->deleteItem(s), kKeychainSuccess);
    EXPECT_EQ(this->store->copyItem(s, got), kKeychainItemNotFound);
}

TYPED_TEST(KeychainContract, ItemsAreSeparateAndPersist) {
    const std::string a = this->service("a");
    const std::string odd = this->service("with space/and:colon");
    ASSERT_EQ(this->store->addItem(a, bytesOf("id:secret")), kKeychainSuccess);
    ASSERT_EQ(this->store->addItem(odd, Bytes{}), kKeychainSuccess);
    auto again = this->kind.reopen();
    ASSERT_TRUE(again);
    Bytes got;
    ASSERT_EQ(again->copyItem(a, got), kKeychainSuccess);
    EXPECT_EQ(got, bytesOf("id:secret"));
    ASSERT_EQ(again->copyItem(odd, got), kKeychainSuccess);
    EXPECT_TRUE(got.empty());
    EXPECT_EQ(again->copyItem(this->service("b"), got), kKeychainItemNotFound);
    EXPECT_EQ(again->deleteItem(a), kKeychainSuccess);
    EXPECT_EQ(this->store->copyItem(a, got), kKeychainItemNotFound);
    EXPECT_EQ(this->store->deleteItem(odd), kKeychainSuccess);
}

TEST(FallbackKeychain, ItemsGoWhereTheyAreKeptAndTheUseOfTheFileIsTold) {
    WithFileFallback<false> kind;
    auto store = kind.open();
    ASSERT_EQ(store->addItem("taken", bytesOf("1")), kKeychainSuccess);
    EXPECT_EQ(kind.keyring->itemCount(), 1u);
    EXPECT_FALSE(store->fallbackUse());

    // Taken without complaint but not given back (a collection that keeps nothing).
    kind.keyring->failNextWith(FakeKeychain::Operation::copy, kKeychainItemNotFound);
    ASSERT_EQ(store->addItem("kept nowhere", bytesOf("2")), kKeychainSuccess);
    EXPECT_EQ(kind.keyring->itemCount(), 1u) << "the keyring's useless copy is removed";
    auto use = store->fallbackUse();
    ASSERT_TRUE(use);
    EXPECT_EQ(use->folder, kind.folder);
    EXPECT_TRUE(use->refused);

    // Refused outright.
    kind.keyring->refuseToStore(kKeychainNotAvailable);
    ASSERT_EQ(store->addItem("refused", bytesOf("3")), kKeychainSuccess);
    EXPECT_EQ(store->fallbackUse()->refused, kKeychainNotAvailable);

    // A later process finds each item, and says the file is in use without a refusal.
    kind.keyring->refuseToStore(std::nullopt);
    auto later = kind.reopen();
    EXPECT_FALSE(later->fallbackUse());
    Bytes got;
    for (const auto& [name, value] :
         {std::pair{"taken", "1"}, std::pair{"kept nowhere", "2"}, std::pair{"refused", "3"}}) {
        ASSERT_EQ(later->copyItem(name, got), kKeychainSuccess) << name;
        EXPECT_EQ(got, bytesOf(value));
    }
    ASSERT_TRUE(later->fallbackUse());
    EXPECT_FALSE(later->fallbackUse()->refused);

    // Replacing an item the file holds, once the keyring takes items again, moves it
    // there: the file's older copy must not hide the new value.
    ASSERT_EQ(later->deleteItem("refused"), kKeychainSuccess);
    ASSERT_EQ(later->addItem("refused", bytesOf("4")), kKeychainSuccess);
    ASSERT_EQ(kind.reopen()->copyItem("refused", got), kKeychainSuccess);
    EXPECT_EQ(got, bytesOf("4"));
    EXPECT_EQ(kind.keyring->itemCount(), 2u);
}

TEST(FallbackKeychain, AnUnreadableFileIsNotAMissingItem) {
    WithFileFallback<true> kind;
    auto store = kind.open();
    ASSERT_EQ(store->addItem("key", bytesOf("v")), kKeychainSuccess);
    // The file cannot be opened (a folder stands in its place): reading must fail, not
    // answer "not found", or a caller would make a new key.
    fs::rename(kind.folder / FileKeychain::kFileName, kind.folder / "moved");
    fs::create_directories(kind.folder / FileKeychain::kFileName);
    Bytes got;
    EXPECT_EQ(store->copyItem("key", got), kKeychainIOError);
}

TEST(FileKeychain, FileAndFolderAreReadableByTheUserOnly) {
    FileStore kind;
    auto store = kind.open();
    ASSERT_EQ(store->addItem("k", bytesOf("v")), kKeychainSuccess);
    struct stat st {};
    ASSERT_EQ(::stat((kind.folder / FileKeychain::kFileName).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(kind.folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    for (const auto& entry : fs::directory_iterator(kind.folder)) {
        EXPECT_EQ(entry.path().extension(),
                  entry.path().filename() == FileKeychain::kFileName ? ".json" : ".lock")
            << "no temporary file is left: " << entry.path();
    }
}

TEST(FileKeychain, UnreadableFileIsMovedAsideNotLost) {
    FileStore kind;
    fs::create_directories(kind.folder);
    {
        std::ofstream out(kind.folder / FileKeychain::kFileName);
        out << "{ not json";
    }
    auto store = kind.open();
    Bytes got;
    EXPECT_EQ(store->copyItem("k", got), kKeychainItemNotFound);
    bool keptAside = false;
    for (const auto& entry : fs::directory_iterator(kind.folder)) {
        if (entry.path().filename().string().find(".unreadable-") != std::string::npos) {
            std::ifstream in(entry.path());
            std::string text((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
            keptAside = text == "{ not json";
        }
    }
    EXPECT_TRUE(keptAside);
    ASSERT_EQ(store->addItem("k", bytesOf("v")), kKeychainSuccess);
    ASSERT_EQ(store->copyItem("k", got), kKeychainSuccess);
    EXPECT_EQ(got, bytesOf("v"));
}

TEST(FileKeychain, EveryUnreadableFileKeepsAnAsideOfItsOwn) {
    // Several within one second: none replaces the aside of another. Items that are not
    // an object of names make the file unreadable too.
    FileStore kind;
    fs::create_directories(kind.folder);
    const std::vector<std::string> texts = {"{ one", "{ two", "[\"three\"]",
                                            "{\"version\":1,\"items\":\"ab\"}"};
    for (const auto& text : texts) {
        {
            std::ofstream out(kind.folder / FileKeychain::kFileName);
            out << text;
        }
        Bytes got;
        EXPECT_EQ(kind.open()->copyItem("k", got), kKeychainItemNotFound);
        EXPECT_FALSE(fs::exists(kind.folder / FileKeychain::kFileName));
    }
    std::multiset<std::string> kept;
    for (const auto& entry : fs::directory_iterator(kind.folder)) {
        if (entry.path().filename().string().find(".unreadable-") == std::string::npos) continue;
        std::ifstream in(entry.path());
        kept.insert(std::string((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>()));
    }
    EXPECT_EQ(kept, std::multiset<std::string>(texts.begin(), texts.end()));
}

TEST(FileKeychain, ConcurrentWritersLoseNothing) {
    FileStore kind;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&kind, t] {
            auto store = kind.open();  // separate handles, as separate processes would have
            for (int i = 0; i < 10; ++i) {
                const std::string s = "t" + std::to_string(t) + "-" + std::to_string(i);
                EXPECT_EQ(store->addItem(s, bytesOf(s)), kKeychainSuccess);
            }
        });
    }
    for (auto& t : threads) t.join();
    auto store = kind.open();
    for (int t = 0; t < 4; ++t) {
        for (int i = 0; i < 10; ++i) {
            const std::string s = "t" + std::to_string(t) + "-" + std::to_string(i);
            Bytes got;
            EXPECT_EQ(store->copyItem(s, got), kKeychainSuccess) << s;
            EXPECT_EQ(got, bytesOf(s));
        }
    }
}

TEST(FileKeychain, UnwritableFolderIsAnIOError) {
    // A path below a regular file fails for every user, root included.
    FileStore kind;
    fs::create_directories(kind.folder.parent_path());
    { std::ofstream(kind.folder.parent_path() / "plainfile") << "x"; }
    FileKeychain store(kind.folder.parent_path() / "plainfile" / "Lumvane");
    EXPECT_EQ(store.addItem("k", bytesOf("v")), kKeychainIOError);
    Bytes got;
    EXPECT_EQ(store.copyItem("k", got), kKeychainItemNotFound);
}

TEST(SystemKeychainStore, FallsBackToFileStoreWithoutSecretService) {
    if (std::getenv(kInSessionVariable) != nullptr) {
        GTEST_SKIP() << "a Secret Service runs in this session";
    }
    ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/lumvane-test-bus", 1);
    ::unsetenv("DISPLAY");
    const fs::path folder = freshFolder("fallback") / "Lumvane";
    auto store = makeSystemKeychainStore(folder);
    ASSERT_TRUE(store);
    EXPECT_EQ(store->storeName(), "file");
    ASSERT_EQ(store->addItem("k", bytesOf("v")), kKeychainSuccess);
    EXPECT_TRUE(fs::exists(folder / FileKeychain::kFileName));
    fs::remove_all(folder.parent_path());
}

TEST(SystemKeychainStore, PicksSecretServiceWhenItAnswers) {
    if (std::getenv(kInSessionVariable) == nullptr) {
        GTEST_SKIP() << "runs inside the private keyring session";
    }
    auto store = makeSystemKeychainStore(freshFolder("unused"));
    ASSERT_TRUE(store);
    EXPECT_EQ(store->storeName(), "secret-service+file");
}

// Starts a private D-Bus session with its own unlocked GNOME Keyring and runs the
// Secret Service contract cases inside it. Bounded by timeout(1) so a stuck bus
// can never hang the suite.
TEST(SecretServiceKeychain, ContractInPrivateKeyringSession) {
    if (std::getenv(kInSessionVariable) != nullptr) {
        GTEST_SKIP() << "already inside the keyring session";
    }
    for (const char* tool : {"dbus-run-session", "gnome-keyring-daemon", "timeout"}) {
        const std::string probe = std::string("command -v ") + tool + " >/dev/null 2>&1";
        if (std::system(probe.c_str()) != 0) {
            GTEST_SKIP() << tool << " is not installed: the Secret Service store is not exercised";
        }
    }
    const fs::path home = freshFolder("secret-home");
    fs::create_directories(home / "run");
    fs::permissions(home / "run", fs::perms::owner_all);
    const fs::path self = fs::read_symlink("/proc/self/exe");
    const fs::path log = home / "inner.log";
    const std::string cmd = "cd " + home.string() + " && env HOME=" + home.string() +
                            " XDG_DATA_HOME=" + (home / "data").string() +
                            " XDG_RUNTIME_DIR=" + (home / "run").string() +
                            " timeout -k 5 90 dbus-run-session -- sh -c '"
                            "printf lumvane-test | gnome-keyring-daemon --unlock "
                            "--components=secrets >/dev/null 2>&1; " +
                            kInSessionVariable +
                            "=1 exec \"$0\" "
                            "--gtest_filter=KeychainContract/"
                            "SecretService.*:SystemKeychainStore.PicksSecretService*' " +
                            self.string() + " > " + log.string() + " 2>&1";
    const int rc = std::system(cmd.c_str());
    std::ifstream in(log);
    const std::string output((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
    fs::remove_all(home);
    ASSERT_TRUE(WIFEXITED(rc)) << output;
    const int code = WEXITSTATUS(rc);
    ASSERT_NE(code, 124) << "the keyring session timed out\n" << output;
    if (output.find("no Secret Service answered") != std::string::npos) {
        GTEST_SKIP() << "gnome-keyring-daemon did not start a Secret Service here:\n" << output;
    }
    EXPECT_EQ(code, 0) << output;
    EXPECT_NE(output.find("[  PASSED  ] 4 tests"), std::string::npos) << output;
}

}  // namespace
