#pragma once
// A QR code drawn with text: two rows of modules per line in Unicode half blocks, for
// a terminal without a window to show the pairing code in.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lumvane {

struct QRModules {
    int width = 0;           // modules per side
    std::vector<bool> dark;  // width * width, row by row

    bool isDark(int x, int y) const {
        if (x < 0 || y < 0 || x >= width || y >= width) return false;
        return dark[size_t(y) * size_t(width) + size_t(x)];
    }
};

class TerminalQRCode {
  public:
    // Quiet zone around the code, in modules.
    static constexpr int kMargin = 2;

    // The modules of the text's QR code (error correction M, 8-bit mode), or nothing
    // when the text is empty or too long for a QR code.
    static std::optional<QRModules> encode(const std::string& text);

    // The drawing: light modules are printed as block glyphs and dark ones as blanks,
    // so the code reads on the usual dark terminal background. Every line is
    // width + 2 * margin glyphs wide and ends with "\n".
    static std::string render(const QRModules& modules, int margin = kMargin);

    // encode() and render() together; empty when the text cannot be encoded.
    static std::string draw(const std::string& text);
};

}  // namespace lumvane
