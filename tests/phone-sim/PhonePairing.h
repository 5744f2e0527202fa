#pragma once
// The phone's side of a QR pairing, as the phone application does it:
//
//   1. read the invitation from the QR code: the pairing URL's "auth" value is the
//      Base64 of AES-256-CBC (zero IV, PKCS#7) under SHA-256("nu.bafrimo.tosxwed") of
//      the 16 token characters followed by the 32-byte pairing key;
//   2. advertise the token as a service UUID (its 16 UTF-8 bytes, upper-cased, as the
//      128 bits of the UUID) and publish the pairing answer on A060: the client secret
//      the phone made for the Mac, encrypted under the pairing key;
//   3. open the Mac's requests with the pairing key and approve the client whose
//      credentials carry that secret; from then on the Mac's secret key (sent in the
//      approval) is the link key, and the phone advertises its device id again.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "idl/protocols.h"
#include "runtime/Bytes.h"

namespace lumvane::phonesim {

struct PairingInvitation {
    std::string clientName;  // the Mac's computer name
    std::string token;       // 16 characters, upper-case hex
    Bytes key;               // 32 bytes
};

// Reads a pairing URL (".../auth/appinstall.html?client=...&auth=..."); nothing, with
// the reason in `error`, when it is not a readable invitation.
std::optional<PairingInvitation> readPairingUrl(const std::string& url,
                                                std::string* error = nullptr);

// The service UUID text a phone advertises for a pairing token (upper-case).
std::string tokenServiceUuid(const std::string& token);

// A pairing in progress on the phone and its outcome.
class PhonePairing {
  public:
    // `clientSecret` empty: the phone makes a random one.
    explicit PhonePairing(PairingInvitation invitation, std::string clientSecret = {});

    const PairingInvitation& invitation() const { return invitation_; }
    const std::string& clientSecret() const { return clientSecret_; }
    // What A060 holds: the client secret encrypted under the pairing key.
    const Bytes& authResponseData() const { return authResponseData_; }

    // Judges an approval request: nothing when it carries the handed-out secret (and a
    // client id), else the error the phone answers with.
    std::shared_ptr<TBNError> check(const TBNApproveClientRequest& request) const;

    // After a successful approval: the client, the Mac's secret key (the new link key)
    // and what the Mac told about itself.
    struct Approved {
        std::string clientId;
        std::string clientSecret;
        Bytes secretKey;
        std::string clientName, clientModel, osVersion;
        std::optional<std::string> appVersion;
        std::optional<std::string> publicKey;
        int64_t lastBackupTime = 0;
    };
    std::optional<Approved> approved() const;
    // Records the approval; false (nothing recorded) when the secret key is not 32
    // Base64-encoded bytes.
    bool approve(const TBNApproveClientRequest& request);

  private:
    PairingInvitation invitation_;
    std::string clientSecret_;
    Bytes authResponseData_;
    mutable std::mutex mutex_;  // the approval is recorded on the phone's work queue
    std::optional<Approved> approved_;
};

}  // namespace lumvane::phonesim
