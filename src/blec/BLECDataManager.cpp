#include "blec/BLECDataManager.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <string>

#include "blec/BLECLog.h"
#include "crypto/TBNCryptThrift.h"
#include "runtime/BZip2.h"

namespace lumvane {

namespace {

uint16_t readLE16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t readLE32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void putLE16(Bytes& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void putLE32(Bytes& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

constexpr uint64_t kInitialRoom = 64 * 1024;

void logError(const std::string& text) {
    blec::log(blec::LogLevel::Error, "", text);
}

}  // namespace

BLECDataManager::BLECDataManager() = default;

BLECDataManager::BLECDataManager(Central central) : central_(std::move(central)) {}

void BLECDataManager::updateCentral(Central central) {
    std::lock_guard<std::mutex> lock(mutex_);
    central_ = std::move(central);
}

uint16_t BLECDataManager::dataId() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return dataId_;
}

uint16_t BLECDataManager::chunkSize() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return chunkSize_;
}

bool BLECDataManager::isEncrypted() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return isEncrypted_;
}

bool BLECDataManager::isCompressed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return isCompressed_;
}

bool BLECDataManager::hasMessageInProgress() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return data_.has_value();
}

BLECDataManager::Central BLECDataManager::central() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return central_;
}

void BLECDataManager::setMaxMessageLength(size_t length) {
    std::lock_guard<std::mutex> lock(mutex_);
    maxMessageLength_ = length;
}

size_t BLECDataManager::maxMessageLength() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return maxMessageLength_;
}

size_t BLECDataManager::chunkCountFor(uint64_t total, size_t chunkSize) {
    if (chunkSize < kMinChunkSize) return 0;
    const uint64_t firstRoom = chunkSize - kFirstHeaderSize;
    if (total <= firstRoom) return 1;
    const uint64_t room = chunkSize - kContinuationHeaderSize;
    return static_cast<size_t>(1 + (total - firstRoom + room - 1) / room);
}

std::vector<Bytes> BLECDataManager::splitDataToChunks(const Bytes& data, uint16_t dataId,
                                                      uint16_t maxChunkSize,
                                                      const std::optional<Bytes>& encryptKey,
                                                      bool supportCompress) const {
    const size_t c = maxChunkSize;
    if (c < kMinChunkSize) {
        logError("split: chunk size " + std::to_string(c) + " is below the header size");
        return {};
    }

    const Bytes* payload = &data;
    Bytes compressed;
    bool isCompressed = false;
    if (supportCompress) {
        if (auto z = bz2::compressIfSmaller(data)) {
            compressed = std::move(*z);
            payload = &compressed;
            isCompressed = true;
        }
    }

    Bytes encrypted;
    bool isEncrypted = false;
    if (encryptKey) {
        try {
            encrypted = TBNCryptThrift::encryptData(*payload, *encryptKey);
        } catch (const std::exception&) {
            encrypted.clear();
        }
        if (encrypted.empty()) {
            // Sending an empty "encrypted" message would only make the phone fail
            // it later; the request fails here instead.
            logError("split: encryption of request " + std::to_string(dataId) +
                     " produced nothing");
            return {};
        }
        payload = &encrypted;
        isEncrypted = true;
    }

    const uint64_t total = payload->size();
    const size_t count = chunkCountFor(total, c);
    if (total > UINT32_MAX || count - 1 > kMaxContinuationChunks) {
        logError("split: request " + std::to_string(dataId) + " of " + std::to_string(total) +
                 " bytes does not fit the chunk format at chunk size " + std::to_string(c));
        return {};
    }

    std::vector<Bytes> chunks;
    chunks.reserve(count);
    const uint8_t* p = payload->data();
    size_t remaining = payload->size();

    const size_t firstPart = std::min(remaining, c - kFirstHeaderSize);
    uint16_t flags = kFirstChunkFlag;
    if (remaining <= c - kFirstHeaderSize) flags |= kLastChunkFlag;
    if (isEncrypted) flags |= kEncryptedFlag;
    if (isCompressed) flags |= kCompressedFlag;
    Bytes first;
    first.reserve(kFirstHeaderSize + firstPart);
    putLE16(first, flags);
    putLE16(first, dataId);
    putLE16(first, maxChunkSize);
    putLE32(first, static_cast<uint32_t>(total));
    first.insert(first.end(), p, p + firstPart);
    chunks.push_back(std::move(first));
    p += firstPart;
    remaining -= firstPart;

    for (uint32_t k = 1; remaining > 0; ++k) {
        const size_t part = std::min(remaining, c - kContinuationHeaderSize);
        uint16_t word = static_cast<uint16_t>(k & kSequenceMask);
        if (part == remaining) word |= kLastChunkFlag;
        Bytes chunk;
        chunk.reserve(kContinuationHeaderSize + part);
        putLE16(chunk, word);
        chunk.insert(chunk.end(), p, p + part);
        chunks.push_back(std::move(chunk));
        p += part;
        remaining -= part;
    }
    return chunks;
}

void BLECDataManager::resetLocked() {
    data_.reset();
    early_.clear();
    total_ = 0;
    received_.clear();
    receivedCount_ = 0;
}

void BLECDataManager::placeLocked(size_t sequence, const uint8_t* bytes, size_t length) {
    const size_t c = chunkSize_;
    const size_t offset = (c - kFirstHeaderSize) + (sequence - 1) * (c - kContinuationHeaderSize);
    Bytes& data = *data_;
    if (offset + length <= data.size()) {
        // A chunk sent again overwrites its place.
        std::memcpy(data.data() + offset, bytes, length);
    } else if (offset == data.size() && received_[0]) {
        data.insert(data.end(), bytes, bytes + length);
        // The chunks that waited for this one follow it now.
        for (size_t next = sequence + 1;; ++next) {
            auto it = early_.find(next);
            if (it == early_.end()) break;
            data.insert(data.end(), it->second.begin(), it->second.end());
            early_.erase(it);
        }
    } else {
        early_[sequence] = Bytes(bytes, bytes + length);
    }
}

void BLECDataManager::failMessageLocked(uint16_t id, const CompletionDataBlock& completion) {
    if (completion) completion(id, std::nullopt, false, false, std::nullopt, central_);
}

void BLECDataManager::proccessChunk(const Bytes& chunk, const DecryptKeysBlock& getDecryptKeysBlock,
                                    const CompletionDataBlock& completionDataBlock) {
    std::lock_guard<std::mutex> lock(mutex_);
    try {
        // Shorter than any header: ignored whatever its first byte says.
        if (chunk.size() < kContinuationHeaderSize) return;
        const uint8_t* bytes = chunk.data();
        const uint16_t w = readLE16(bytes);

        if (w & kFirstChunkFlag) {
            if (chunk.size() < kFirstHeaderSize) return;
            if (data_) {
                const uint16_t oldId = dataId_;
                resetLocked();
                failMessageLocked(oldId, completionDataBlock);
            }
            const uint16_t id = readLE16(bytes + 2);
            const size_t c = readLE16(bytes + 4);
            const uint64_t total = readLE32(bytes + 6);
            const size_t n = chunk.size() - kFirstHeaderSize;
            // Everything the peer announces is checked before anything is allocated.
            const size_t count = chunkCountFor(total, c);
            std::string refusal;
            if (c < kMinChunkSize) {
                refusal = "chunk size " + std::to_string(c) + " below the header size";
            } else if (total > maxMessageLength_) {
                refusal = "total length " + std::to_string(total) + " above the limit of " +
                          std::to_string(maxMessageLength_);
            } else if (count - 1 > kMaxContinuationChunks) {
                refusal = "total length " + std::to_string(total) +
                          " needs more chunks than "
                          "the format numbers";
            } else if (n > c - kFirstHeaderSize) {
                refusal = "first chunk longer than its chunk size";
            }
            if (!refusal.empty()) {
                logError("refused message " + std::to_string(id) + ": " + refusal);
                failMessageLocked(id, completionDataBlock);
                return;
            }

            dataId_ = id;
            chunkSize_ = static_cast<uint16_t>(c);
            isEncrypted_ = (w & kEncryptedFlag) != 0;
            isCompressed_ = (w & kCompressedFlag) != 0;
            total_ = total;
            received_.assign(count, false);
            receivedCount_ = 0;
            // Bytes past the announced total belong to no message and are left out.
            const size_t copy = std::min<size_t>(n, static_cast<size_t>(total));
            data_.emplace();
            // Room for what usually follows, not for whatever the peer announces.
            data_->reserve(static_cast<size_t>(std::min<uint64_t>(total, kInitialRoom)));
            data_->assign(bytes + kFirstHeaderSize, bytes + kFirstHeaderSize + copy);
            if (copy == std::min<uint64_t>(total, c - kFirstHeaderSize)) {
                received_[0] = true;
                receivedCount_ = 1;
            } else {
                // A short first chunk fails the message when it ends; nothing is
                // placed after it.
                data_->clear();
            }
        } else {
            if (chunk.size() < kContinuationHeaderSize || !data_) return;
            const size_t s = w & kSequenceMask;
            const size_t m = chunk.size() - kContinuationHeaderSize;
            const size_t c = chunkSize_;
            const uint64_t total = total_;
            const uint64_t offset = (c - kFirstHeaderSize) + uint64_t(s ? s - 1 : 0) * (c - 2);
            std::string problem;
            if (s == 0) {
                problem = "sequence number 0";
            } else if (s >= received_.size()) {
                problem = "sequence number " + std::to_string(s) + " beyond the announced total";
            } else if (m > c - kContinuationHeaderSize) {
                problem = "chunk of " + std::to_string(chunk.size()) +
                          " bytes longer than its chunk size";
            } else if (m < std::min<uint64_t>(c - kContinuationHeaderSize, total - offset)) {
                problem = "chunk " + std::to_string(s) + " shorter than its place";
            }
            if (!problem.empty()) {
                logError("dropped chunk of message " + std::to_string(dataId_) + ": " + problem);
                // A last chunk still ends the message; what is missing fails it.
                if (w & kLastChunkFlag)
                    finishMessageLocked(getDecryptKeysBlock, completionDataBlock);
                return;
            }
            const size_t copy = static_cast<size_t>(std::min<uint64_t>(m, total - offset));
            if (copy > 0) placeLocked(s, bytes + kContinuationHeaderSize, copy);
            if (!received_[s]) {
                received_[s] = true;
                ++receivedCount_;
            }
        }

        if (w & kLastChunkFlag) finishMessageLocked(getDecryptKeysBlock, completionDataBlock);
    } catch (const std::exception& e) {
        logError(std::string("exception = '") + e.what() + "'");
    }
}

void BLECDataManager::finishMessageLocked(const DecryptKeysBlock& getDecryptKeysBlock,
                                          const CompletionDataBlock& completion) {
    const uint16_t id = dataId_;
    const bool encrypted = isEncrypted_;
    const bool compressed = isCompressed_;
    const size_t expected = received_.size();
    const size_t got = receivedCount_;
    const uint64_t total = total_;
    Bytes message = std::move(*data_);
    resetLocked();

    if (got != expected || message.size() != total) {
        logError("message " + std::to_string(id) + " ended with " + std::to_string(got) + " of " +
                 std::to_string(expected) + " chunks");
        failMessageLocked(id, completion);
        return;
    }

    std::optional<Bytes> winningKey;
    if (encrypted) {
        std::optional<std::vector<Bytes>> keys;
        if (getDecryptKeysBlock) keys = getDecryptKeysBlock();
        if (keys) {
            for (const Bytes& key : *keys) {
                try {
                    if (auto plain = TBNCryptThrift::decryptData(message, key)) {
                        message = std::move(*plain);
                        winningKey = key;
                        break;
                    }
                } catch (const std::exception&) {
                    // A wrong key shows itself as a failure; try the next one.
                }
            }
        }
        if (!winningKey) {
            logError("message " + std::to_string(id) + ": no key opens it");
            failMessageLocked(id, completion);
            return;
        }
    }

    if (compressed) {
        auto plain = bz2::decompress(message, maxMessageLength_);
        if (!plain) {
            logError("message " + std::to_string(id) + ": does not decompress");
            failMessageLocked(id, completion);
            return;
        }
        message = std::move(*plain);
    }

    if (completion) {
        completion(id, std::move(message), encrypted, compressed, std::move(winningKey), central_);
    }
}

}  // namespace lumvane
