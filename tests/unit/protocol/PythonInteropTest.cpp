// A third implementation: python3-thrift reads what we write and writes it back; what
// comes back must read to the same record (python drops nothing and changes nothing).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "WireHelpers.h"
#include "idl/protocols.h"

namespace lumvane {
namespace {

using testing::decode;
using testing::encode;
using testing::Wire;

class PythonInterop : public ::testing::TestWithParam<Wire> {
protected:
    void SetUp() override {
        if (std::string(LUMVANE_PY_ORACLE_PYTHON).empty()) {
            GTEST_SKIP() << "no python3 with the thrift module";
        }
        dir_ = std::filesystem::temp_directory_path() /
               ("lumvane-py-oracle-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override {
        if (!dir_.empty()) std::filesystem::remove_all(dir_);
    }

    // Runs the python round trip on our encoding and reads python's encoding with ours.
    template <class R>
    void roundTrip(const R& record, const char* className) {
        const auto in = dir_ / "in.bin";
        const auto out = dir_ / "out.bin";
        std::ofstream(in, std::ios::binary) << encode(record, GetParam());
        std::ostringstream command;
        command << LUMVANE_PY_ORACLE_PYTHON << " " << LUMVANE_PY_ORACLE_SCRIPT << " "
                << LUMVANE_PY_ORACLE_GEN << " " << className << " "
                << testing::wireName(GetParam()) << " " << in << " " << out << " > "
                << (dir_ / "repr.txt");
        ASSERT_EQ(std::system(command.str().c_str()), 0) << command.str();
        std::ifstream result(out, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(result)), {});
        auto direct = decode<R>(encode(record, GetParam()), GetParam());
        auto back = decode<R>(bytes, GetParam());
        EXPECT_TRUE(back == direct) << className << "\nours:   " << direct.description()
                                    << "\npython: " << back.description();
    }

    std::filesystem::path dir_;
};
INSTANTIATE_TEST_SUITE_P(Wires, PythonInterop, ::testing::Values(Wire::Compact, Wire::Binary),
    [](const auto& info) { return std::string(testing::wireName(info.param)); });

std::shared_ptr<TBNLoginData> login(int i) {
    auto l = std::make_shared<TBNLoginData>();
    l->setLogin("user" + std::to_string(i));
    l->setPassword("p\xC3\xA4ss-" + std::to_string(i));
    l->setIsLoginFinal(i % 2 == 1);
    l->setPasswordStrength(static_cast<int16_t>(-i));
    l->setAccessCreateTimeStamp(-1234567890123LL);
    l->setNotes(std::nullopt);
    if (i == 0) {
        l->setTwoFactor(std::make_shared<TBNTwoFactorData>(
            0, Bytes{0xff, 0x00, 0x7f}, "SHA256", 6, 9, 0.5));
    }
    return l;
}

TEST_P(PythonInterop, StorageMessagesAndCaches) {
    auto sites = std::make_shared<std::vector<std::shared_ptr<TBNSiteData>>>();
    for (int s = 0; s < 3; ++s) {
        auto site = std::make_shared<TBNSiteData>();
        site->setSiteUrl("https://s" + std::to_string(s) + ".example");
        site->setLoginData(std::make_shared<std::vector<std::shared_ptr<TBNLoginData>>>());
        for (int i = 0; i < s; ++i) site->loginData()->push_back(login(i));
        site->setFormUrls(std::make_shared<std::set<std::string>>(std::set<std::string>{"x", "y"}));
        site->setIsFavorited(false);
        sites->push_back(site);
    }
    roundTrip(TBNGetSiteDataListResponse(std::make_shared<TBNResponseInfo>("r", 1, "q",
                                             std::make_shared<TBNError>(3, 7, "Device not available"),
                                             std::nullopt),
                  sites),
        "GetSiteDataListResponse");
    roundTrip(TBNAddLoginDataRequest(std::make_shared<TBNRequestInfo>("id", 2, "c"),
                  std::make_shared<TBNAuthentication>("cid", "sec"), "u", "d", login(0), true),
        "AddLoginDataRequest");
    roundTrip(TBNGetLoginDataRequest(nullptr, nullptr, "u", "d", false, "l"),
        "GetLoginDataRequest");
    roundTrip(TBNGet2FACodeResponse(nullptr, "1", std::nullopt, "3", -1, 0), "Get2FACodeResponse");

    auto accounts = std::make_shared<TBNAccountsCache>(1,
        std::make_shared<std::set<std::string>>(std::set<std::string>{"a"}),
        std::make_shared<std::set<std::string>>());
    roundTrip(TBNSitesCache(2, std::make_shared<std::set<std::string>>(),
                  std::make_shared<std::map<std::string, std::shared_ptr<TBNAccountsCache>>>(
                      std::map<std::string, std::shared_ptr<TBNAccountsCache>>{
                          {"k", accounts}, {"l", std::make_shared<TBNAccountsCache>()}}),
                  nullptr),
        "SitesCache");
    roundTrip(TBNHostData("s", "d", Bytes{}, Bytes{1}, std::make_shared<TBNHostUrl>(), true),
        "HostData");
}

}  // namespace
}  // namespace lumvane
