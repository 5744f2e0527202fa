#include "app/TerminalQRCode.h"

#include <qrencode.h>

#include <memory>

namespace lumvane {

std::optional<QRModules> TerminalQRCode::encode(const std::string& text) {
    if (text.empty()) return std::nullopt;
    std::unique_ptr<QRcode, void (*)(QRcode*)> code(
        QRcode_encodeString8bit(text.c_str(), 0, QR_ECLEVEL_M), QRcode_free);
    if (!code || code->width <= 0) return std::nullopt;
    QRModules m;
    m.width = code->width;
    const size_t n = size_t(code->width) * size_t(code->width);
    m.dark.resize(n);
    for (size_t i = 0; i < n; ++i) m.dark[i] = (code->data[i] & 1) != 0;
    return m;
}

std::string TerminalQRCode::render(const QRModules& modules, int margin) {
    if (modules.width <= 0) return {};
    if (margin < 0) margin = 0;
    const int from = -margin;
    const int to = modules.width + margin;  // exclusive
    std::string out;
    for (int y = from; y < to; y += 2) {
        for (int x = from; x < to; ++x) {
            // Rows past the bottom edge of the quiet zone print as dark (blank).
            const bool topLight = !modules.isDark(x, y);
            const bool bottomLight = y + 1 < to && !modules.isDark(x, y + 1);
            if (topLight && bottomLight)
                out += "\u2588";
            else if (topLight)
                out += "\u2580";
            else if (bottomLight)
                out += "\u2584";
            else
                out += ' ';
        }
        out += '\n';
    }
    return out;
}

std::string TerminalQRCode::draw(const std::string& text) {
    auto modules = encode(text);
    return modules ? render(*modules) : std::string();
}

}  // namespace lumvane
