#pragma once
// Reads the wake-up file the Mac's file push client appends to: one notification per
// line, "<device token hex> <payload>". Each call returns the whole lines added since the
// last call; a line still being written is kept for the next call.
#include <fstream>
#include <string>
#include <vector>

namespace lumvane::phonesim {

class WakeFileReader {
  public:
    explicit WakeFileReader(std::string path) : path_(std::move(path)) {}

    std::vector<std::string> newLines() {
        std::vector<std::string> lines;
        std::ifstream in(path_, std::ios::binary);
        if (!in) return lines;
        in.seekg(0, std::ios::end);
        const std::streamoff size = in.tellg();
        if (size < offset_) offset_ = 0;  // the file was replaced
        if (size == offset_) return lines;
        in.seekg(offset_);
        std::string chunk(static_cast<size_t>(size - offset_), '\0');
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        chunk.resize(static_cast<size_t>(in.gcount()));
        size_t start = 0;
        for (size_t nl = chunk.find('\n'); nl != std::string::npos; nl = chunk.find('\n', start)) {
            lines.push_back(chunk.substr(start, nl - start));
            start = nl + 1;
        }
        offset_ += static_cast<std::streamoff>(start);
        return lines;
    }

  private:
    const std::string path_;
    std::streamoff offset_ = 0;
};

}  // namespace lumvane::phonesim
