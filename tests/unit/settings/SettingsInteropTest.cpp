// An independent reader (the openssl command line and the stock Python records) finds
// in the settings file what the store was told.
#include <nlohmann/json.hpp>

#include <cstdio>

#include "SettingsTestSupport.h"

namespace lumvane::settingstest {
namespace {

std::string hexOf(const Bytes& b) {
    std::string s;
    char buf[3];
    for (uint8_t c : b) {
        std::snprintf(buf, sizeof buf, "%02x", c);
        s += buf;
    }
    return s;
}

std::string run(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
    EXPECT_EQ(::pclose(pipe), 0) << command;
    return out;
}

TEST_F(SettingsTest, OpensslAndStockPythonRecordsReadTheFile) {
    auto store = startStore();
    store->setClientId(std::string("interop-client"));
    store->setLoggingLevel(13);
    store->setPaused(true);
    store->setClientSecret(std::string("interop-secret"));
    store->setClientCert(std::make_shared<TBNCertSettings>(256, "PUB", "PRIV", "CERT"));
    store->addPairedDevice(phone("HW-9", "DEV-9"));
    store->approveExtForClientId(std::string("ext-1"), std::string("ext-secret"));
    store->waitForPendingSaves();
    const auto secretKey = store->clientSecretKey();

    const std::string command = std::string("/usr/bin/python3 ") + LUMVANE_SETTINGS_READER + " " +
                                LUMVANE_THRIFT_COMPILER + " " + LUMVANE_IDL_DIR + " " +
                                filePath().string() + " " + hexOf(testKey()) + " " +
                                (root_ / "py").string();
    const auto json = nlohmann::json::parse(run(command));
    EXPECT_EQ(json["clientId"], "interop-client");
    EXPECT_EQ(json["loggingLevel"], 13);
    EXPECT_EQ(json["paused"], true);
    EXPECT_EQ(json["appVersion"], "1.2.3.4");
    EXPECT_EQ(json["pairedDevices"]["HW-9"]["deviceId"], "DEV-9");
    EXPECT_EQ(json["pairedDevices"]["HW-9"]["name"], "Phone DEV-9");
    EXPECT_EQ(json["pairedDeviceIdMap"]["DEV-9"], "HW-9");
    EXPECT_EQ(json["approvedExtIdMap"]["ext-1"], "ext-secret");
    EXPECT_EQ(json["generatorLength"], 20);
    EXPECT_EQ(json["clientSecret"], "interop-secret");
    EXPECT_EQ(json["certPublicKey"], "PUB");
    ASSERT_TRUE(secretKey);
    EXPECT_EQ(json["secretKey"], *secretKey);
}

}  // namespace
}  // namespace lumvane::settingstest
