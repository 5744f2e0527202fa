#include <gtest/gtest.h>

#include "U2FTestSupport.h"
#include "crypto/TBNKeyChainManager.h"
#include "keychain/FakeKeychain.h"
#include "u2f/HexEncoding.h"
#include "u2f/KeyPair.h"
#include "u2f/U2FRegistration.h"

using namespace lumvane;
using namespace lumvane::u2ftest;

namespace {

class KeyPairTest : public ::testing::Test {
  protected:
    void SetUp() override {
        store = std::make_shared<FakeKeychain>();
        Keychain::setManager(std::make_shared<TBNKeyChainManager>(store));
    }
    void TearDown() override { Keychain::setManager(nullptr); }

    // Runs f and answers what it printed.
    template <class F>
    std::string printed(F&& f) {
        ::testing::internal::CaptureStdout();
        f();
        return ::testing::internal::GetCapturedStdout();
    }

    std::shared_ptr<FakeKeychain> store;
    const std::string label = "test label";
};

TEST_F(KeyPairTest, GeneratedPairSignsVerifiesAndIsFoundAgain) {
    auto pair = KeyPair::generate(label, false);
    ASSERT_TRUE(pair.has_value());
    EXPECT_EQ(pair->applicationLabel().size(), 20u);
    EXPECT_FALSE(pair->isInSecureEnclave());
    auto publicData = pair->publicKeyData();
    auto privateData = pair->privateKeyData();
    ASSERT_TRUE(publicData && privateData);
    EXPECT_EQ(publicData->size(), 65u);
    EXPECT_EQ(privateData->size(), 97u);
    EXPECT_EQ(Bytes(privateData->begin(), privateData->begin() + 65), *publicData);

    auto signature = pair->sign(hex("0102"));
    ASSERT_TRUE(signature.has_value());
    EXPECT_TRUE(pair->verify(hex("0102"), *signature));
    EXPECT_NE(printed([&] { EXPECT_FALSE(pair->verify(hex("0103"), *signature)); }), "");

    auto found = KeyPair::findByApplicationLabel("other", pair->applicationLabel(), "prompt");
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->label(), "other");  // stored as given, not compared
    EXPECT_EQ(found->publicKeyData(), publicData);
    EXPECT_TRUE(found->verify(hex("0102"), *signature));
}

TEST_F(KeyPairTest, TagsAreWrittenReadAndSearched) {
    auto pair = KeyPair::generate(label, false);
    ASSERT_TRUE(pair);
    EXPECT_FALSE(pair->applicationTag().has_value());
    pair->setApplicationTag(hex("aabb"));
    EXPECT_EQ(pair->applicationTag(), hex("aabb"));
    auto byTag = KeyPair::findByApplicationTag(label, hex("aabb"), "");
    ASSERT_TRUE(byTag);
    EXPECT_EQ(byTag->applicationLabel(), pair->applicationLabel());
    // Writing nothing writes empty bytes; the attribute stays.
    pair->setApplicationTag(std::nullopt);
    EXPECT_EQ(pair->applicationTag(), Bytes{});

    std::string out =
        printed([&] { EXPECT_FALSE(KeyPair::findByApplicationTag(label, hex("cc"), "")); });
    EXPECT_EQ(out, "Error from keychain: -25300\n");
}

TEST_F(KeyPairTest, CountsDeletesAndLists) {
    EXPECT_EQ(KeyPair::countForLabel(label), 0);
    EXPECT_EQ(printed([&] { EXPECT_FALSE(KeyPair::deleteAllForLabel(label)); }), "");
    auto a = KeyPair::generate(label, false);
    auto b = KeyPair::generate(label, false);
    auto other = KeyPair::generate("other", false);
    ASSERT_TRUE(a && b && other);
    EXPECT_EQ(KeyPair::countForLabel(label), 2);
    auto all = KeyPair::allForLabel(label);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].applicationLabel(), a->applicationLabel());
    EXPECT_EQ(all[1].applicationLabel(), b->applicationLabel());

    EXPECT_TRUE(a->deleteFromKeychain());
    EXPECT_EQ(KeyPair::countForLabel(label), 1);
    EXPECT_TRUE(KeyPair::deleteAllForLabel(label));
    EXPECT_EQ(KeyPair::countForLabel(label), 0);
    EXPECT_EQ(KeyPair::countForLabel("other"), 1);
    EXPECT_FALSE(b->sign(hex("00")) == std::nullopt);  // the key object outlives its item
    EXPECT_FALSE(KeyPair::findByApplicationLabel(label, b->applicationLabel(), ""));
}

TEST_F(KeyPairTest, CountStopsAtLimit) {
    for (int i = 0; i < Keychain::kCountLimit + 2; ++i)
        ASSERT_TRUE(KeyPair::generate(label, false));
    EXPECT_EQ(KeyPair::countForLabel(label), Keychain::kCountLimit);
    EXPECT_EQ(KeyPair::allForLabel(label).size(), size_t(Keychain::kCountLimit + 2));
}

TEST_F(KeyPairTest, SecureElementIsRefusedWithoutCreatingAnything) {
    std::string out = printed([&] { EXPECT_FALSE(KeyPair::generate(label, true)); });
    EXPECT_NE(out, "");
    EXPECT_EQ(store->itemCount(), 0u);
}

TEST_F(KeyPairTest, KeychainFailuresGiveEmptyResults) {
    store->setAvailable(false);
    std::string out = printed([&] {
        EXPECT_FALSE(KeyPair::generate(label, false));
        EXPECT_FALSE(KeyPair::countForLabel(label).has_value());
        EXPECT_TRUE(KeyPair::allForLabel(label).empty());
    });
    EXPECT_NE(out.find("Error from keychain: -25291"), std::string::npos);
    store->setAvailable(true);
    EXPECT_EQ(KeyPair::countForLabel(label), 0);
}

TEST_F(KeyPairTest, UnreadableIndexIsNeverOverwritten) {
    ASSERT_TRUE(KeyPair::generate(label, false));
    TBNKeyChainManager(store).setString(std::string("not json"), std::string(Keychain::kIndexItem));
    std::string out = printed([&] { EXPECT_FALSE(KeyPair::generate(label, false)); });
    EXPECT_NE(out.find("Error from keychain: -26275"), std::string::npos);
    EXPECT_EQ(*TBNKeyChainManager(store).stringForKey(std::string(Keychain::kIndexItem)),
              "not json");
}

TEST_F(KeyPairTest, ExportImportByTag) {
    auto a = KeyPair::generate(label, false);
    auto untagged = KeyPair::generate(label, false);
    ASSERT_TRUE(a && untagged);
    a->setApplicationTag(hex("01"));
    auto records = KeyPair::exportForLabel(label);
    ASSERT_EQ(records.size(), 1u);  // the untagged pair is left out
    EXPECT_EQ(records[0].at(KeyPair::kExportAppTag), hex("01"));
    EXPECT_EQ(records[0].at(KeyPair::kExportPrivateKey), *a->privateKeyData());

    // Same label: the tag exists, nothing changes.
    EXPECT_TRUE(KeyPair::importForLabel(label, records));
    EXPECT_EQ(KeyPair::countForLabel(label), 2);

    // Into a fresh keychain: the key comes back with its tag and signs the same.
    auto fresh = std::make_shared<FakeKeychain>();
    Keychain::setManager(std::make_shared<TBNKeyChainManager>(fresh));
    std::vector<KeyPair::ExportRecord> withBroken = records;
    withBroken.push_back({{KeyPair::kExportAppTag, hex("02")}});
    withBroken.push_back(
        {{KeyPair::kExportAppTag, hex("03")}, {KeyPair::kExportPrivateKey, hex("04ff")}});
    printed([&] { EXPECT_TRUE(KeyPair::importForLabel(label, withBroken)); });
    auto back = KeyPair::findByApplicationTag(label, hex("01"), "");
    ASSERT_TRUE(back);
    EXPECT_EQ(back->applicationLabel(), a->applicationLabel());
    auto signature = back->sign(hex("99"));
    EXPECT_TRUE(a->verify(hex("99"), *signature));
    EXPECT_EQ(KeyPair::countForLabel(label), 1);
}

TEST_F(KeyPairTest, ImportRefusesKeysNotOnTheCurve) {
    Bytes data = *KeyPair::generate(label, false)->privateKeyData();
    Bytes otherScalar = data;
    otherScalar.back() ^= 1;  // the point no longer belongs to the scalar
    std::string out = printed([&] {
        EXPECT_FALSE(Keychain::importPrivateKey(label, otherScalar));
        EXPECT_FALSE(Keychain::importPrivateKey(label, hex("0401")));
    });
    EXPECT_NE(out.find("Error importing key:"), std::string::npos);
    // The same key twice is a duplicate.
    out = printed([&] { EXPECT_FALSE(Keychain::importPrivateKey(label, data)); });
    EXPECT_NE(out.find("Error add key:"), std::string::npos);
}

TEST_F(KeyPairTest, DumpsAndAbbreviation) {
    EXPECT_EQ(abbreviateForDump(std::string(30, 'a')), std::string(30, 'a'));
    std::string sixtyFour = std::string(14, '1') + std::string(36, '2') + std::string(14, '3');
    EXPECT_EQ(abbreviateForDump(sixtyFour), std::string(14, '1') + ".." + std::string(14, '3'));

    auto pair = KeyPair::generate(label, false);
    std::string out = printed([&] { KeyPair::dumpForLabel(label); });
    EXPECT_EQ(
        out.rfind("------------------------  kcdb  ---------------------------- 1\n<unknown> ", 0),
        0u)
        << out;
    EXPECT_NE(out.find("\n" + std::string(60, '-') + "\n"), std::string::npos);
    out = printed([&] { KeyPair::dumpVerboseForLabel(label); });
    EXPECT_NE(out.find("  publicKey: " + hexString(*pair->publicKeyData())), std::string::npos);
}

// ---- registrations ----

TEST_F(KeyPairTest, RegisterTwiceUsesOnePair) {
    Bytes app = repeat(0x11, 32);
    auto first = U2FRegistration::registerFor(app, false);
    ASSERT_TRUE(first);
    std::string out;
    auto second = U2FRegistration::registerFor(app, false);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->keyPair().applicationLabel(), first->keyPair().applicationLabel());
    EXPECT_EQ(KeyPair::countForLabel(U2FRegistration::keyLabel()), 1);
    EXPECT_EQ(first->keyPair().applicationTag(), app);
}

TEST_F(KeyPairTest, KeyHandleFindsTheRegistrationOfItsParameterOnly) {
    Bytes app = repeat(0x11, 32);
    auto registration = U2FRegistration::registerFor(app, false);
    ASSERT_TRUE(registration);
    Bytes handle = registration->keyHandle();
    EXPECT_EQ(handle, concat({registration->keyPair().applicationLabel(), Bytes(50, 0)}));

    auto found = U2FRegistration::find(handle, app);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->keyPair().applicationLabel(), registration->keyPair().applicationLabel());
    auto signature = found->sign(hex("abcd"));
    ASSERT_TRUE(signature);
    EXPECT_TRUE(registration->keyPair().verify(hex("abcd"), *signature));

    std::string out =
        printed([&] { EXPECT_FALSE(U2FRegistration::find(handle, repeat(0x22, 32))); });
    EXPECT_EQ(out, "Bad applicationParameter\n");
}

TEST_F(KeyPairTest, KeyHandlePaddingAndPrompts) {
    EXPECT_EQ(unpadKeyHandle(repeat(7, 50)), repeat(7, 50));
    EXPECT_EQ(unpadKeyHandle(concat({hex("0102"), Bytes(50, 0)})), hex("0102"));
    EXPECT_EQ(padKeyHandle(hex("01")).size(), 51u);
    EXPECT_EQ(registrationPrompt(Bytes(32, 0x41)), "authenticate with bogus");
    EXPECT_EQ(registrationPrompt(Bytes(32, 0x42)), "authenticate with site");
    // A short handle is looked up whole and finds nothing.
    printed([&] { EXPECT_FALSE(U2FRegistration::find(repeat(7, 20), Bytes(32, 0x41))); });
}

}  // namespace
