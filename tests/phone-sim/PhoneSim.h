#pragma once
// A simulated phone on the simulated radio. It advertises its device id as a
// service UUID, offers the phone service with its characteristics (values from
// its own state), reassembles request chunks and splits replies with the same
// chunk format, compression and encryption as a real phone, acknowledges whole
// requests on the delivered-id characteristic, and serves the storage and
// mobile-storage services from an in-memory vault.
//
// Faults for tests: slow replies, a silent phone, no acknowledgements, a drop
// after some reply chunks, error answers, characteristics left out.
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "PhoneVault.h"
#include "blec/BLECDataManager.h"
#include "platform/ble/SimBlePeripheral.h"

namespace lumvane {
class DispatchQueue;
}

namespace lumvane::phonesim {

class PhonePairing;

struct PhoneSimOptions {
    std::string socketPath;
    std::string address = "5A:12:9C:00:00:01";
    // Radio MTU: chunks are at most MTU - 3 bytes (23 gives 20, 185 gives 182).
    uint16_t mtu = 185;
    // Largest chunk the phone uses for replies (0: MTU - 3).
    uint16_t chunkSize = 0;
    // The link key: encrypted requests are opened with it and their replies are
    // encrypted with it. Without one, an encrypted request is dropped.
    std::optional<Bytes> key;
    // Reply compression: as the request came (auto), always tried, or never.
    enum class Compress { Auto, Always, Never } compress = Compress::Auto;
    bool deliveredId = true;     // offers A041 (acknowledgements both ways)
    bool secondChannel = false;  // offers A042 and answers on it
    std::set<std::string> omit;  // codes of characteristics left out, e.g. "A003"

    double replyDelay = 0;           // seconds before a reply starts (real time)
    double chunkPause = 0;           // seconds between reply chunks (real time)
    bool silent = false;             // takes requests, never acknowledges or answers
    bool noAck = false;              // answers but never acknowledges a request
    int disconnectAfterChunks = -1;  // drops the central after this many reply chunks
    bool advertise = true;
    // Starts asleep: no advertising until wakeUp() (a push arrived).
    bool sleeping = false;
};

struct PhoneSimStats {
    size_t requests = 0;        // whole requests received
    size_t failedRequests = 0;  // reassembly or decryption failed
    size_t replies = 0;         // replies sent
    size_t macAcks = 0;         // acknowledgements of replies from the Mac
    std::vector<uint32_t> macAckIds;
    std::vector<uint16_t> requestIds;
    bool lastRequestEncrypted = false;
    bool lastRequestCompressed = false;
    size_t largestRequestChunk = 0;
    uint16_t announcedChunkSize = 0;   // chunk size in the last request's first chunk
    std::vector<std::string> methods;  // called methods, in order
};

class PhoneSim : public ble::sim::SimPeripheralDelegate,
                 public std::enable_shared_from_this<PhoneSim> {
  public:
    static std::shared_ptr<PhoneSim> create(PhoneSimOptions options, VaultContent vault);
    ~PhoneSim() override;

    // Joins the air, publishes the service and advertises; false when the hub
    // cannot be reached.
    bool start();
    void stop();

    PhoneSimStats stats() const;
    PhoneVault& vault() { return vault_; }
    const PhoneSimOptions& options() const { return options_; }
    std::string address() const { return options_.address; }
    std::string deviceId() const;

    // Faults that tests switch while running.
    void setSilent(bool on);
    void setForcedError(std::optional<std::pair<int32_t, int64_t>> error);
    void setDisconnectAfterChunks(int n);
    // Changes a 32-bit value (battery, app state) and notifies subscribers.
    void setUInt32(const std::string& code, uint32_t value);
    // Notifies the database-changed characteristic.
    void notifyDbUpdated();

    // The reply the phone gives to one request message (compact protocol bytes).
    Bytes process(const Bytes& request);

    // ---- Pairing, link keys and sleep (PhonePairing.cpp) ----
    // Takes the invitation of a QR pairing URL: advertises its token, publishes the
    // pairing answer on A060, opens requests with the pairing key and approves the client
    // that brings the secret it handed out (then the Mac's secret key joins the link
    // keys). False, with the reason, for a URL that holds no invitation.
    bool startPairing(const std::string& pairingUrl, std::string* error = nullptr,
                      const std::string& clientSecret = {});
    std::shared_ptr<PhonePairing> pairing() const;
    // Keys a request may be encrypted with, newest first (the reply uses the one that
    // opened the request).
    std::vector<Bytes> linkKeys() const;
    void addLinkKey(const Bytes& key);
    // Asleep: not advertising, the Mac dropped. wakeUp() advertises again.
    void sleep();
    void wakeUp();
    bool asleep() const;
    size_t wakeUps() const;
    // A wake-up line "<device token hex> <payload>"; wakes the phone when the token is
    // its own. True when it was.
    bool takePush(const std::string& line);

    // SimPeripheralDelegate
    void simPeripheralCentralConnected(ble::sim::SimBlePeripheralDevice&, const std::string&,
                                       uint16_t mtu) override;
    void simPeripheralCentralDisconnected(ble::sim::SimBlePeripheralDevice&,
                                          const std::string&) override;
    std::optional<Bytes> simPeripheralRead(ble::sim::SimBlePeripheralDevice&, const std::string&,
                                           const std::string&, const std::string&) override;
    uint8_t simPeripheralWrite(ble::sim::SimBlePeripheralDevice&, const std::string& central,
                               const std::string& service, const std::string& characteristic,
                               const Bytes& value, bool withResponse) override;

    struct Token {};
    PhoneSim(Token, PhoneSimOptions options, VaultContent vault);

  private:
    void onMessage(const std::string& central, uint16_t id, std::optional<Bytes> message,
                   bool encrypted, bool compressed, std::optional<Bytes> key);
    void reply(const std::string& central, uint16_t id, const Bytes& reply,
               std::optional<Bytes> key, bool compress);
    void advertiseNow();
    std::optional<Bytes> pairingAnswer() const;
    Bytes processApproval(const Bytes& request);
    std::vector<ble::sim::SimService> services() const;
    std::optional<Bytes> valueOf(const std::string& code) const;

    const PhoneSimOptions options_;
    PhoneVault vault_;
    std::shared_ptr<TBNStorageService> storage_;
    std::shared_ptr<TBNMobileStorageService> mobile_;
    std::shared_ptr<ble::sim::SimBlePeripheralDevice> device_;
    std::shared_ptr<DispatchQueue> work_;

    mutable std::mutex mutex_;
    std::map<std::string, std::shared_ptr<BLECDataManager>> managers_;  // per central
    std::map<std::string, uint16_t> mtus_;
    std::map<std::string, uint32_t> values_;  // 32-bit characteristics by code
    PhoneSimStats stats_;
    bool silent_;
    int disconnectAfterChunks_;
    std::atomic<bool> stopped_{false};
    std::shared_ptr<PhonePairing> pairing_;
    std::vector<Bytes> linkKeys_;
    bool asleep_ = false;
    size_t wakeUps_ = 0;
};

}  // namespace lumvane::phonesim
