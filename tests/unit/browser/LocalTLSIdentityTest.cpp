// The local TLS identity: its files, its certificate, its expiry and a real handshake.
#include <gtest/gtest.h>
#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "BrowserTestSupport.h"
#include "extension/browser/ChildProcess.h"
#include "extension/browser/HostsRecord.h"
#include "extension/browser/TBNBrowserExtensionManager.h"

namespace fs = std::filesystem;
using lumvane::BrowserIntegrationOptions;
using lumvane::TBNBrowserExtensionManager;
using lumvane::testing::modeOf;
using lumvane::testing::readText;
using lumvane::testing::TempRoot;

namespace {

constexpr std::time_t kNow = 1'900'000'000;  // a fixed "now" for the manager's clock

struct X509Deleter {
    void operator()(X509* x) const { X509_free(x); }
};
struct KeyDeleter {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
using X509Ptr = std::unique_ptr<X509, X509Deleter>;
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyDeleter>;

X509Ptr loadCertificate(const std::string& path) {
    FILE* file = fopen(path.c_str(), "r");
    if (!file) return nullptr;
    X509Ptr cert(PEM_read_X509(file, nullptr, nullptr, nullptr));
    fclose(file);
    return cert;
}

KeyPtr loadKey(const std::string& path) {
    FILE* file = fopen(path.c_str(), "r");
    if (!file) return nullptr;
    KeyPtr key(PEM_read_PrivateKey(file, nullptr, nullptr, nullptr));
    fclose(file);
    return key;
}

std::vector<std::string> dnsNames(X509* cert) {
    std::vector<std::string> names;
    auto* sans =
        static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(cert, NID_subject_alt_name, nullptr, nullptr));
    if (!sans) return names;
    for (int i = 0; i < sk_GENERAL_NAME_num(sans); ++i) {
        GENERAL_NAME* name = sk_GENERAL_NAME_value(sans, i);
        if (name->type == GEN_DNS) {
            names.emplace_back(
                reinterpret_cast<const char*>(ASN1_STRING_get0_data(name->d.dNSName)),
                ASN1_STRING_length(name->d.dNSName));
        } else {
            names.emplace_back("<other>");
        }
    }
    GENERAL_NAMES_free(sans);
    return names;
}

int64_t secondsBetween(const ASN1_TIME* from, const ASN1_TIME* to) {
    int days = 0, seconds = 0;
    if (ASN1_TIME_diff(&days, &seconds, from, to) != 1) return -1;
    return int64_t(days) * 86400 + seconds;
}

class LocalTLSIdentityTest : public ::testing::Test {
  protected:
    BrowserIntegrationOptions options() {
        BrowserIntegrationOptions o;
        o.environment = lumvane::BrowserEnvironment::underHome(root / "home");
        o.settingsFolder = root / "settings";
        o.hostsFile = root / "hosts";
        o.clock = [] { return kNow; };
        return o;
    }
    TempRoot root;
};

TEST_F(LocalTLSIdentityTest, MadeIdentityLoadsWithTheRightNameKeyAndValidity) {
    TBNBrowserExtensionManager manager(options());
    ASSERT_TRUE(manager.generateSSLIdentity());

    EXPECT_EQ(manager.identityFolder(), root / "settings/tls");
    EXPECT_EQ(modeOf(root / "settings"), 0700u);
    EXPECT_EQ(modeOf(manager.identityFolder()), 0700u);
    EXPECT_EQ(modeOf(manager.certificatePath()), 0600u);
    EXPECT_EQ(modeOf(manager.privateKeyPath()), 0600u);
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(manager.identityFolder())) {
        files.push_back(entry.path().filename().string());
    }
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"certificate.pem", "private.pem"}));

    X509Ptr cert = loadCertificate(manager.certificatePath());
    KeyPtr key = loadKey(manager.privateKeyPath());
    ASSERT_TRUE(cert);
    ASSERT_TRUE(key);
    EXPECT_EQ(EVP_PKEY_get_base_id(key.get()), EVP_PKEY_RSA);
    EXPECT_EQ(EVP_PKEY_get_bits(key.get()), 2048);
    EXPECT_EQ(X509_check_private_key(cert.get(), key.get()), 1);
    EXPECT_EQ(dnsNames(cert.get()), std::vector<std::string>{"local.lumvane.io"});
    char commonName[256] = {};
    X509_NAME_get_text_by_NID(X509_get_subject_name(cert.get()), NID_commonName, commonName,
                              sizeof commonName);
    EXPECT_STREQ(commonName, "local.lumvane.io");
    EXPECT_EQ(X509_NAME_cmp(X509_get_subject_name(cert.get()), X509_get_issuer_name(cert.get())),
              0);
    EXPECT_EQ(X509_get_signature_nid(cert.get()), NID_sha256WithRSAEncryption);
    EXPECT_EQ(X509_check_purpose(cert.get(), X509_PURPOSE_SSL_SERVER, 0), 1);

    ASN1_TIME* nowTime = ASN1_TIME_set(nullptr, kNow);
    EXPECT_EQ(secondsBetween(nowTime, X509_get0_notAfter(cert.get())), 3650LL * 86400);
    int64_t backdate = secondsBetween(X509_get0_notBefore(cert.get()), nowTime);
    EXPECT_GE(backdate, 0);
    EXPECT_LE(backdate, 3600);
    ASN1_TIME_free(nowTime);

    EXPECT_TRUE(manager.isExistSSLIdentity());
    EXPECT_TRUE(manager.isGeneratedSSLIdentity());
    EXPECT_FALSE(manager.isExpiredSSLIdentity());
    auto identity = manager.sslIdentity();
    ASSERT_TRUE(identity);
    EXPECT_EQ(identity->certificatePath, manager.certificatePath());
    EXPECT_EQ(identity->privateKeyPath, manager.privateKeyPath());
    EXPECT_EQ(manager.httpsCertificate(), readText(manager.certificatePath()));
}

TEST_F(LocalTLSIdentityTest, NothingThereMeansNoIdentityAndExpiring) {
    TBNBrowserExtensionManager manager(options());
    EXPECT_FALSE(manager.isExistSSLIdentity());
    EXPECT_FALSE(manager.sslIdentity());
    EXPECT_FALSE(manager.httpsCertificate());
    EXPECT_FALSE(manager.isGeneratedSSLIdentity());
    EXPECT_TRUE(manager.isExpiredSSLIdentity());
    EXPECT_FALSE(manager.isTrustedSSLIdentity());
    EXPECT_FALSE(manager.isSetupedSSLIdentity());
}

TEST_F(LocalTLSIdentityTest, ExpiringMeansWithinFortyEightHours) {
    struct Case {
        int64_t validityHours;
        bool expiring;
    };
    for (const Case& c : {Case{47, true}, Case{49, false}, Case{24, true}, Case{24 * 30, false}}) {
        BrowserIntegrationOptions o = options();
        o.identityValiditySeconds = c.validityHours * 3600;
        TBNBrowserExtensionManager manager(o);
        ASSERT_TRUE(manager.generateSSLIdentity());
        EXPECT_EQ(manager.isExpiredSSLIdentity(), c.expiring) << c.validityHours << " h";
    }
}

TEST_F(LocalTLSIdentityTest, ExpiryFollowsTheClock) {
    std::time_t now = kNow;
    BrowserIntegrationOptions o = options();
    o.clock = [&now] { return now; };
    o.identityValiditySeconds = 10 * 86400;
    TBNBrowserExtensionManager manager(o);
    ASSERT_TRUE(manager.generateSSLIdentity());
    EXPECT_FALSE(manager.isExpiredSSLIdentity());
    now += 8 * 86400 - 3600;  // 49 h left
    EXPECT_FALSE(manager.isExpiredSSLIdentity());
    now += 2 * 3600;  // 47 h left
    EXPECT_TRUE(manager.isExpiredSSLIdentity());
}

TEST_F(LocalTLSIdentityTest, MismatchedOrForeignFilesAreNoIdentity) {
    TBNBrowserExtensionManager manager(options());
    ASSERT_TRUE(manager.generateSSLIdentity());
    std::string firstKey = readText(manager.privateKeyPath());
    std::string firstCertificate = readText(manager.certificatePath());

    // A second identity replaces the first.
    ASSERT_TRUE(manager.generateSSLIdentity());
    EXPECT_NE(readText(manager.certificatePath()), firstCertificate);
    EXPECT_TRUE(manager.isExistSSLIdentity());

    // Key of one pair with the certificate of another (a torn replacement).
    lumvane::testing::writeText(manager.privateKeyPath(), firstKey, 0600);
    EXPECT_FALSE(manager.isExistSSLIdentity());
    EXPECT_FALSE(manager.sslIdentity());

    // A pair that belongs together but names another host.
    lumvane::TLSIdentityPem other =
        lumvane::makeSelfSignedIdentity("other.example", 86400 * 30, kNow);
    ASSERT_TRUE(manager.writeSSLIdentity(other));
    EXPECT_FALSE(manager.isExistSSLIdentity());

    // Garbage in the files.
    lumvane::testing::writeText(manager.certificatePath(), "not a certificate", 0600);
    EXPECT_FALSE(manager.isExistSSLIdentity());
    EXPECT_TRUE(manager.isExpiredSSLIdentity());
}

TEST_F(LocalTLSIdentityTest, DefaultFolderIsInTheSettingsFolderUnderDataHome) {
    BrowserIntegrationOptions o = options();
    o.settingsFolder.clear();
    TBNBrowserExtensionManager manager(o);
    EXPECT_EQ(manager.identityFolder(), root / "home/.local/share/Lumvane/tls");
    EXPECT_EQ(manager.nssDatabaseFolder(), root / "home/.pki/nssdb");
}

// Serves "ok" over TLS with the identity until destroyed.
class IdentityServer {
  public:
    IdentityServer(const std::string& certificate, const std::string& key)
        : server_(certificate.c_str(), key.c_str()) {
        server_.Get("/", [](const httplib::Request&, httplib::Response& response) {
            response.set_content("ok", "text/plain");
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        for (int i = 0; i < 500 && !server_.is_running(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ~IdentityServer() {
        server_.stop();
        thread_.join();
    }
    bool valid() { return server_.is_valid() && port_ > 0; }
    int port() const { return port_; }

  private:
    httplib::SSLServer server_;
    int port_ = -1;
    std::thread thread_;
};

lumvane::ChildResult curl(int port, const std::vector<std::string>& extra) {
    std::string host(lumvane::kLocalHostName);
    std::vector<std::string> argv = {"curl",
                                     "--silent",
                                     "--show-error",
                                     "--max-time",
                                     "20",
                                     "--resolve",
                                     host + ":" + std::to_string(port) + ":127.0.0.1"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.push_back("https://" + host + ":" + std::to_string(port) + "/");
    return lumvane::runChildProcess(argv);
}

TEST_F(LocalTLSIdentityTest, CurlCompletesAHandshakeTrustingOnlyTheIdentity) {
    BrowserIntegrationOptions o = options();
    o.clock = nullptr;  // the handshake checks validity against the real clock
    TBNBrowserExtensionManager realTime(o);
    ASSERT_TRUE(realTime.generateSSLIdentity());
    auto identity = realTime.sslIdentity();
    ASSERT_TRUE(identity);

    IdentityServer server(identity->certificatePath, identity->privateKeyPath);
    ASSERT_TRUE(server.valid());

    lumvane::ChildResult trusted = curl(server.port(), {"--cacert", identity->certificatePath});
    ASSERT_TRUE(trusted.started) << "curl missing";
    EXPECT_EQ(trusted.exitStatus, 0) << trusted.errors;
    EXPECT_EQ(trusted.output, "ok");

    // Another certificate for the same name is not accepted: the trust is real.
    TempRoot other;
    BrowserIntegrationOptions otherOptions = o;
    otherOptions.settingsFolder = other / "settings";
    TBNBrowserExtensionManager stranger(otherOptions);
    ASSERT_TRUE(stranger.generateSSLIdentity());
    lumvane::ChildResult refused = curl(server.port(), {"--cacert", stranger.certificatePath()});
    EXPECT_NE(refused.exitStatus, 0);
    EXPECT_NE(refused.output, "ok");
}

}  // namespace
