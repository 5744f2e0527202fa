#pragma once

#include <cstdint>
#include <deque>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "crypto/RandomSource.h"

namespace lumvane::test {

inline std::vector<uint8_t> fromHex(const std::string& hex) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

inline std::string toHex(std::span<const uint8_t> bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

inline std::vector<uint8_t> bytesOf(const std::string& text) {
    return {text.begin(), text.end()};
}

// Hands out a fixed script of bytes, then fails: tests see exactly which
// random bytes each operation consumed.
class ScriptedRandomSource : public RandomSource {
  public:
    explicit ScriptedRandomSource(std::vector<uint8_t> script)
        : script_(script.begin(), script.end()) {}
    void fill(std::span<uint8_t> out) override {
        if (out.size() > script_.size()) {
            throw CryptoRandomError("scripted random source exhausted");
        }
        for (auto& b : out) {
            b = script_.front();
            script_.pop_front();
        }
    }
    size_t left() const { return script_.size(); }

  private:
    std::deque<uint8_t> script_;
};

// Little-endian bytes of 32-bit words, the order in which the word draws read them.
inline std::vector<uint8_t> wordsLE(std::initializer_list<uint32_t> words) {
    std::vector<uint8_t> out;
    for (uint32_t w : words) {
        for (int i = 0; i < 4; ++i) {
            out.push_back(static_cast<uint8_t>(w >> (8 * i)));
        }
    }
    return out;
}

}  // namespace lumvane::test
