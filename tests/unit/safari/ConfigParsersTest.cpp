// Extension settings file and the site-parser database.
#include <gtest/gtest.h>

#include <fstream>

#include "Config.h"
#include "Parsers.h"
#include "SafariTestSupport.h"
#include "crypto/TBNCryptAES.h"
#include "runtime/AtomicFile.h"

namespace lumvane {
namespace {

using nlohmann::json;
using safaritest::LogCapture;
using safaritest::TempDir;

Bytes testKey() {
    return Bytes(32, 0x5a);
}

class SafariConfigTest : public ::testing::Test {
  protected:
    ConfigEnvironment env(std::optional<Bytes> key = testKey()) {
        ConfigEnvironment e;
        std::string dir = dir_.path;
        e.applicationSupportDirectory = [dir] { return std::optional<std::string>(dir); };
        e.settingsKey = [this, key] {
            ++keyReads_;
            return key;
        };
        return e;
    }
    std::string file() const { return dir_.path + "/config.ejson"; }
    bool fileExists() const { return std::filesystem::exists(file()); }
    json readFile() {
        std::string bytes;
        EXPECT_TRUE(readWholeFile(file(), bytes));
        Bytes plain = TBNCryptAES::decryptData(
            ByteView(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), testKey());
        return json::parse(plain.begin(), plain.end());
    }
    void writePlain(const std::string& text) {
        Bytes cipher = TBNCryptAES::encryptData(
            ByteView(reinterpret_cast<const uint8_t*>(text.data()), text.size()), testKey());
        ASSERT_TRUE(writeFileAtomically(file(), std::string(cipher.begin(), cipher.end())));
    }

    LogCapture log_;
    TempDir dir_;
    int keyReads_ = 0;
};

TEST_F(SafariConfigTest, NoFileGivesDefaultsAndTheFirstChangeWritesAllKeys) {
    Config config(env());
    config.flush();
    EXPECT_FALSE(config.autoLogin());
    EXPECT_FALSE(config.autoLogout());
    EXPECT_FALSE(config.isBlockedKey(""));
    EXPECT_FALSE(fileExists());

    config.addBlockedKey("a.b/x/y");
    EXPECT_TRUE(config.isBlockedKey("a.b/x/y"));  // queued change seen by the later lookup
    config.flush();
    EXPECT_EQ(
        readFile(),
        (json{{"autoLogin", false}, {"autoLogout", false}, {"blockedSites", {{"a.b/x/y", true}}}}));
    EXPECT_EQ(std::filesystem::status(file()).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    // Every load and save prints the folder.
    auto printed = log_.printed();
    EXPECT_GE(std::count(printed.begin(), printed.end(), dir_.path), 2);
}

TEST_F(SafariConfigTest, SettingsSurviveARestartAndTheKeyIsReadOnce) {
    {
        Config config(env());
        config.setAutoLogin(true);
        config.save();
        config.addBlockedKey("example.com");
        config.addBlockedKey("other.org");
        config.removeBlockedKey("other.org");
        config.flush();
        EXPECT_EQ(keyReads_, 1);
    }
    Config again(env());
    EXPECT_TRUE(again.autoLogin());
    EXPECT_TRUE(again.isBlockedKey("example.com"));
    EXPECT_FALSE(again.isBlockedKey("other.org"));
}

TEST_F(SafariConfigTest, BadFilesFallBackToDefaultsWhole) {
    for (const char* text :
         {R"({"autoLogin":true,"blockedSites":{}})",
          R"({"autoLogin":1,"autoLogout":false,"blockedSites":{}})",
          R"({"autoLogin":true,"autoLogout":false,"blockedSites":{"a":1}})", "not json", "[]"}) {
        writePlain(text);
        Config config(env());
        EXPECT_FALSE(config.autoLogin()) << text;
        EXPECT_TRUE(config.storeConfig().blockedSites.value.empty()) << text;
    }
    // A file made with another key reads as defaults too.
    writePlain(R"({"autoLogin":true,"autoLogout":true,"blockedSites":{}})");
    Config other(env(Bytes(32, 0x11)));
    EXPECT_FALSE(other.autoLogin());
}

TEST_F(SafariConfigTest, PresenceDecidesBlockingAndRemovingAMissingKeyStillSaves) {
    writePlain(R"({"autoLogin":false,"autoLogout":true,"blockedSites":{"x.org":false},"extra":1})");
    Config config(env());
    EXPECT_TRUE(config.autoLogout());
    EXPECT_TRUE(config.isBlockedKey("x.org"));
    std::filesystem::remove(file());
    config.removeBlockedKey("absent");
    config.flush();
    ASSERT_TRUE(fileExists());
    EXPECT_EQ(readFile()["blockedSites"], (json{{"x.org", false}}));
}

TEST_F(SafariConfigTest, SiteAndPageKeys) {
    Config config(env());
    auto root = *SafariURL::parse("https://example.com");
    EXPECT_EQ(root.pageKey(), Config::siteKey(root));  // blocking one blocks the other
    config.blockSite(root);
    EXPECT_TRUE(config.isBlockedKey(root.pageKey()));

    // Pages without a site domain all share the site key "".
    auto a = *SafariURL::parse("about:blank");
    auto b = *SafariURL::parse("file:///tmp/x.html");
    EXPECT_EQ(Config::siteKey(a), "");
    config.blockSite(a);
    EXPECT_TRUE(config.isBlocked(b));
    config.unblockSite(b);
    EXPECT_FALSE(config.isBlocked(a));
    EXPECT_EQ(b.pageKey(), "/tmp/x.html");
}

TEST_F(SafariConfigTest, TwoQuickFlipsEndWithTheLastValue) {
    Config config(env());
    config.setAutoLogin(!config.autoLogin());
    config.save();
    config.setAutoLogin(!config.autoLogin());
    config.save();
    config.flush();
    EXPECT_EQ(readFile()["autoLogin"], false);
}

// Without the key nothing is written: the settings live in memory only.
TEST_F(SafariConfigTest, MissingKeyNeverWritesAndIsNotAskedAgain) {
    Config config(env(std::nullopt));
    config.addBlockedKey("a");
    config.save();
    config.flush();
    EXPECT_FALSE(fileExists());
    EXPECT_TRUE(config.isBlockedKey("a"));
    EXPECT_EQ(keyReads_, 1);
}

// A key the cipher refuses gives no ciphertext; the old file must stay, not be emptied.
TEST_F(SafariConfigTest, FailedEncryptionKeepsThePreviousFile) {
    writePlain(R"({"autoLogin":true,"autoLogout":false,"blockedSites":{}})");
    auto before = std::filesystem::file_size(file());
    Config config(env(Bytes(7, 1)));
    config.addBlockedKey("a");
    config.flush();
    EXPECT_EQ(std::filesystem::file_size(file()), before);
}

class SafariParsersTest : public ::testing::Test {
  protected:
    std::string write(const std::string& text) {
        std::string path = dir_.path + "/parserdb.json";
        std::ofstream(path) << text;
        return path;
    }
    LogCapture log_;
    TempDir dir_;
};

TEST_F(SafariParsersTest, DefaultDescriptionComesFromHostDefaultAndEmptyPath) {
    Parsers p(write(R"({"sites":{"default":{"paths":{"":{"parser":"p1","extra":1}}},
                                 "example.com":{"paths":{"/login":{"parser":"p2"}}}},"version":3})"));
    ASSERT_TRUE(p.defaultParserInfo().has_value());
    EXPECT_EQ(p.defaultParserInfo()->dictionary(), (json{{"parser", "p1"}}));
    ASSERT_TRUE(p.sites().has_value());
    EXPECT_EQ(p.sites()->size(), 2u);
}

TEST_F(SafariParsersTest, TableWithoutTheDefaultEntryKeepsSitesOnly) {
    for (const char* text : {R"({"sites":{"default":{"paths":{"/":{"parser":"p"}}}}})",
                             R"({"sites":{"Default":{"paths":{"":{"parser":"p"}}}}})",
                             R"({"sites":{"default":{"paths":{}}}})"}) {
        Parsers p(write(text));
        EXPECT_TRUE(p.sites().has_value()) << text;
        EXPECT_FALSE(p.defaultParserInfo().has_value()) << text;
    }
}

TEST_F(SafariParsersTest, WrongTypesAndBadFilesAreLoggedAndLeaveNothing) {
    for (const char* text : {R"({"sites":{"default":{"paths":{"":{"post_page_raters_pos":"x"}}}}})",
                             "{broken", "[1,2]"}) {
        LogCapture log;
        Parsers p(write(text));
        EXPECT_FALSE(p.sites().has_value()) << text;
        EXPECT_FALSE(p.defaultParserInfo().has_value()) << text;
        EXPECT_TRUE(log.systemContains("error: ")) << text;
    }
    LogCapture quiet;
    Parsers missing(std::nullopt);
    EXPECT_FALSE(missing.sites().has_value());
    EXPECT_TRUE(quiet.system().empty());
}

}  // namespace
}  // namespace lumvane
