#pragma once
// Cuts one RPC message into chunks that each fit one characteristic write, and
// puts received chunks back together, with optional bzip2 compression and
// encryption of the payload.
//
// Wire format (little-endian):
//   first chunk:        flags u16 | request id u16 | chunk size c u16 | total T u32 | payload
//   continuation chunk: sequence word u16 (bits 0-13 sequence, 0x4000 last) | payload
// flags: 0x8000 first, 0x4000 last, 0x0800 encrypted, 0x0400 compressed.
// Every chunk but the last is exactly c bytes long.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "crypto/CryptoTypes.h"

namespace lumvane {

// The remote central when a manager serves the peripheral role; this program is
// only ever the central, so it stays empty.
struct BLECRemoteCentral;

class BLECDataManager {
  public:
    using Central = std::shared_ptr<BLECRemoteCentral>;
    // The keys to try on an encrypted message, in order, or nothing.
    using DecryptKeysBlock = std::function<std::optional<std::vector<Bytes>>()>;
    // requestId, message (nothing when the message failed), encrypted, compressed,
    // the key that opened it, the manager's central.
    using CompletionDataBlock = std::function<void(uint16_t, std::optional<Bytes>, bool, bool,
                                                   std::optional<Bytes>, Central)>;

    static constexpr uint16_t kFirstChunkFlag = 0x8000;
    static constexpr uint16_t kLastChunkFlag = 0x4000;
    static constexpr uint16_t kEncryptedFlag = 0x0800;
    static constexpr uint16_t kCompressedFlag = 0x0400;
    static constexpr uint16_t kSequenceMask = 0x3FFF;
    static constexpr size_t kFirstHeaderSize = 10;
    static constexpr size_t kContinuationHeaderSize = 2;
    static constexpr size_t kMinChunkSize = 10;
    static constexpr size_t kMaxContinuationChunks = 16383;
    // Largest message (announced total and decompressed size) a manager accepts
    // unless told otherwise: far above any vault the link carries, far below
    // what a hostile length field could make us allocate.
    static constexpr size_t kDefaultMaxMessageLength = 32u * 1024 * 1024;

    BLECDataManager();
    explicit BLECDataManager(Central central);  // initWithCentral:
    BLECDataManager(const BLECDataManager&) = delete;
    BLECDataManager& operator=(const BLECDataManager&) = delete;

    void updateCentral(Central central);

    // Chunks of `data`, first chunk first. An empty list means the message cannot
    // be sent: the chunk size is below 10, the message needs more chunks than
    // the format numbers, or a key was given and encryption produced nothing.
    // The caller fails the request. Touches none of the manager's state.
    std::vector<Bytes> splitDataToChunks(const Bytes& data, uint16_t dataId, uint16_t maxChunkSize,
                                         const std::optional<Bytes>& encryptKey,
                                         bool supportCompress) const;

    // Takes one received chunk. The completion runs (on this thread, under the
    // manager's lock: it must not call back into this manager) when a message
    // ends, is given up by a new first chunk, or is refused. A message that is
    // incomplete when its last chunk arrives, or that no key opens, or that does
    // not decompress, is reported with no bytes and both flags clear.
    void proccessChunk(const Bytes& chunk, const DecryptKeysBlock& getDecryptKeysBlock,
                       const CompletionDataBlock& completionDataBlock);

    // Reassembly state of the message in progress.
    uint16_t dataId() const;
    uint16_t chunkSize() const;
    bool isEncrypted() const;
    bool isCompressed() const;
    bool hasMessageInProgress() const;
    Central central() const;
    std::optional<std::string> peerPublicKey() const { return std::nullopt; }

    // Cap on announced totals and on decompressed output, for this manager.
    void setMaxMessageLength(size_t length);
    size_t maxMessageLength() const;

    // Number of chunks a payload of `total` bytes takes at chunk size `chunkSize`
    // (0 when the chunk size is below 10).
    static size_t chunkCountFor(uint64_t total, size_t chunkSize);

  private:
    void failMessageLocked(uint16_t id, const CompletionDataBlock& completion);
    void finishMessageLocked(const DecryptKeysBlock& keys, const CompletionDataBlock& completion);
    void resetLocked();
    void placeLocked(size_t sequence, const uint8_t* bytes, size_t length);

    mutable std::mutex mutex_;
    Central central_;
    size_t maxMessageLength_ = kDefaultMaxMessageLength;

    uint16_t dataId_ = 0;
    uint16_t chunkSize_ = 0;
    // The message in progress grows as its chunks arrive, never to the announced total
    // up front: `data_` holds the bytes up to the first chunk still missing, and chunks
    // that arrive ahead of it wait in `early_` until the gap before them is filled.
    std::optional<Bytes> data_;
    uint64_t total_ = 0;
    std::map<size_t, Bytes> early_;  // by sequence number
    bool isEncrypted_ = false;
    bool isCompressed_ = false;
    std::vector<bool> received_;  // one slot per chunk of the message in progress
    size_t receivedCount_ = 0;
};

}  // namespace lumvane
