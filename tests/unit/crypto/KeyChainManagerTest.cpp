#include <gtest/gtest.h>

#include "TestSupport.h"
#include "crypto/TBNKeyChainManager.h"
#include "keychain/FakeKeychain.h"

using namespace lumvane;
using namespace lumvane::test;

namespace {

class KeyChainManagerTest : public ::testing::Test {
  protected:
    std::shared_ptr<FakeKeychain> fake = std::make_shared<FakeKeychain>();
    TBNKeyChainManager manager{fake};
};

template <class E, class F>
E expectThrow(F f) {
    try {
        f();
    } catch (const E& e) {
        return e;
    }
    ADD_FAILURE() << "expected exception not thrown";
    throw std::logic_error("unreachable");
}

TEST_F(KeyChainManagerTest, SetReplacesAndReadsBack) {
    manager.setData(bytesOf("first"), "com.tobrin.lumvane.passcode");
    manager.setData(bytesOf("second"), "com.tobrin.lumvane.passcode");
    EXPECT_EQ(manager.dataForKey("com.tobrin.lumvane.passcode"), bytesOf("second"));
    EXPECT_EQ(fake->itemCount(), 1u);
    manager.setString("client:secret", "com.tobrin.lumvane.safariauth");
    EXPECT_EQ(manager.stringForKey("com.tobrin.lumvane.safariauth"), "client:secret");
    manager.setData(Bytes{0xC3, 0x28}, "bin");
    EXPECT_EQ(manager.stringForKey("bin"), std::nullopt) << "not UTF-8: nothing, no exception";
    manager.removeObjectForKey("bin");
    manager.removeObjectForKey("bin");  // missing: no error
    EXPECT_EQ(fake->itemCount(), 2u);
}

TEST_F(KeyChainManagerTest, MissingItemAndUnavailableKeychainStayDistinct) {
    auto notFound =
        expectThrow<TBNKeyChainItemNotFoundException>([&] { manager.dataForKey("none"); });
    EXPECT_STREQ(notFound.what(),
                 "*** [TBNKeyChainManager:dataForKey:] - SecItemCopyMatching can't copy:  "
                 "The specified item could not be found in the keychain.");
    EXPECT_EQ(notFound.statusCode(), -25300);
    EXPECT_STREQ(notFound.name(), "NSGenericException");

    manager.setData(bytesOf("v"), "k");
    fake->setAvailable(false);
    auto unavailable =
        expectThrow<TBNKeyChainUnavailableException>([&] { manager.dataForKey("k"); });
    EXPECT_EQ(unavailable.statusCode(), -25291);
    EXPECT_STREQ(unavailable.what(),
                 "*** [TBNKeyChainManager:dataForKey:] - SecItemCopyMatching can't copy:  "
                 "No keychain is available. You may need to restart your computer.");
    // Deleting from an unreachable keychain is a failure, not "nothing to delete".
    auto removeFailure =
        expectThrow<TBNKeyChainUnavailableException>([&] { manager.removeObjectForKey("k"); });
    EXPECT_STREQ(removeFailure.what(),
                 "*** [TBNKeyChainManager:removeObjectForKey:] - SecItemDelete can't delete:  "
                 "No keychain is available. You may need to restart your computer.");
    auto addFailure =
        expectThrow<TBNKeyChainUnavailableException>([&] { manager.setData(bytesOf("x"), "k"); });
    EXPECT_STREQ(addFailure.what(),
                 "*** [TBNKeyChainManager:setData:forKey:] - SecItemAdd can't add:  "
                 "No keychain is available. You may need to restart your computer.");
    fake->setAvailable(true);
    EXPECT_EQ(manager.dataForKey("k"), bytesOf("v")) << "nothing was lost";
}

TEST_F(KeyChainManagerTest, MissingArguments) {
    struct Case {
        std::function<void()> call;
        const char* reason;
    };
    const Case cases[] = {
        {[&] { manager.setData(std::nullopt, "k"); },
         "*** [TBNKeyChainManager:setData:forKey:] - the data argument is nil"},
        {[&] { manager.setData(std::nullopt, std::nullopt); },
         "*** [TBNKeyChainManager:setData:forKey:] - the data argument is nil"},
        {[&] { manager.setData(Bytes{}, std::nullopt); },
         "*** [TBNKeyChainManager:setData:forKey:] - the key argument is nil"},
        {[&] { manager.setString(std::nullopt, "k"); },
         "*** [TBNKeyChainManager:setData:forKey:] - the data argument is nil"},
        {[&] { manager.dataForKey(std::nullopt); },
         "*** [TBNKeyChainManager:dataForKey:] - the key argument is nil"},
        {[&] { manager.stringForKey(std::nullopt); },
         "*** [TBNKeyChainManager:dataForKey:] - the key argument is nil"},
        {[&] { manager.removeObjectForKey(std::nullopt); },
         "*** [TBNKeyChainManager:removeObjectForKey:] - the key argument is nil"},
    };
    for (const auto& c : cases) {
        fake->setAvailable(false);  // arguments are checked before the keychain is touched
        auto e = expectThrow<std::invalid_argument>(c.call);
        EXPECT_STREQ(e.what(), c.reason);
    }
}

TEST_F(KeyChainManagerTest, FailedDeleteInsideReplaceAddsNothing) {
    manager.setData(bytesOf("old"), "k");
    fake->failNextWith(FakeKeychain::Operation::remove, kKeychainIOError);
    auto e = expectThrow<TBNKeyChainException>([&] { manager.setData(bytesOf("new"), "k"); });
    EXPECT_EQ(e.statusCode(), -36);
    EXPECT_STREQ(e.what(),
                 "*** [TBNKeyChainManager:removeObjectForKey:] - SecItemDelete can't delete:  "
                 "I/O error (bummers).");
    EXPECT_EQ(manager.dataForKey("k"), bytesOf("old"));
}

TEST_F(KeyChainManagerTest, StatusTable) {
    const std::pair<int32_t, const char*> table[] = {
        {-4, "Function or operation not implemented."},
        {-36, "I/O error (bummers)."},
        {-49, "File already open with with write permission."},
        {-50, "One or more parameters passed to a function where not valid."},
        {-108, "Failed to allocate memory."},
        {-128, "User canceled the operation."},
        {-909, "Bad parameter or invalid state for operation."},
        {-2070, "Internal component"},
        {-25291, "No keychain is available. You may need to restart your computer."},
        {-25293, "The user name or passphrase you entered is not correct."},
        {-25299, "The specified item already exists in the keychain."},
        {-25300, "The specified item could not be found in the keychain."},
        {-25308, "User interaction is not allowed."},
        {-26275, "Unable to decode the provided data."},
    };
    for (auto [status, text] : table) {
        auto e = TBNKeyChainManager::exceptionByStatus(status, "P: ");
        ASSERT_TRUE(e) << status;
        EXPECT_EQ(std::string(e->what()), std::string("P:  ") + text);
        EXPECT_EQ(e->statusCode(), status);
    }
    EXPECT_FALSE(TBNKeyChainManager::exceptionByStatus(0, "P: "));
    EXPECT_FALSE(TBNKeyChainManager::exceptionByStatus(-1234, "P: "));
    // A status outside the table still raises, with its number.
    fake->failNextWith(FakeKeychain::Operation::copy, -1234);
    auto e = expectThrow<TBNKeyChainException>([&] { manager.dataForKey("k"); });
    EXPECT_EQ(e.statusCode(), -1234);
    EXPECT_STREQ(e.what(),
                 "*** [TBNKeyChainManager:dataForKey:] - SecItemCopyMatching can't copy:  "
                 "Unknown keychain error -1234.");
}

}  // namespace
