#include "app/shell/QRCodeGenerator.h"

#include <qrencode.h>

#include <cmath>
#include <memory>

namespace lumvane {

namespace {

// Largest side a pairing picture may ask for; beyond it the request is refused rather
// than allocating an enormous bitmap.
constexpr double kMaxSide = 8192;

QRecLevel toQRecLevel(CorrectionLevel level) {
    switch (level) {
        case CorrectionLevel::L:
            return QR_ECLEVEL_L;
        case CorrectionLevel::M:
            return QR_ECLEVEL_M;
        case CorrectionLevel::Q:
            return QR_ECLEVEL_Q;
        case CorrectionLevel::H:
            break;
    }
    return QR_ECLEVEL_H;
}

std::optional<int> pixelSide(double points) {
    if (!std::isfinite(points) || points < 1 || points > kMaxSide) return std::nullopt;
    return static_cast<int>(std::lround(points));
}

}  // namespace

std::string_view rawValue(CorrectionLevel level) {
    switch (level) {
        case CorrectionLevel::L:
            return "L";
        case CorrectionLevel::M:
            return "M";
        case CorrectionLevel::Q:
            return "Q";
        case CorrectionLevel::H:
            break;
    }
    return "H";
}

std::optional<CorrectionLevel> correctionLevelFromRawValue(std::string_view raw) {
    for (auto level :
         {CorrectionLevel::L, CorrectionLevel::M, CorrectionLevel::Q, CorrectionLevel::H}) {
        if (raw == rawValue(level)) return level;
    }
    return std::nullopt;
}

std::optional<QRCodeMatrix> encodeQRCode(std::string_view bytes, CorrectionLevel level) {
    if (bytes.empty() || bytes.size() > static_cast<size_t>(INT32_MAX)) return std::nullopt;
    std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeData(static_cast<int>(bytes.size()),
                          reinterpret_cast<const unsigned char*>(bytes.data()), 0,
                          toQRecLevel(level)),
        &QRcode_free);
    if (!code || code->width <= 0) return std::nullopt;
    QRCodeMatrix matrix;
    matrix.width = code->width;
    const size_t count = static_cast<size_t>(code->width) * code->width;
    matrix.modules.resize(count);
    for (size_t i = 0; i < count; ++i) matrix.modules[i] = (code->data[i] & 1) != 0;
    return matrix;
}

std::optional<QImage> QRCodeGenerator::createImageWithValue(const std::string& value, double width,
                                                            double height) const {
    auto w = pixelSide(width);
    auto h = pixelSide(height);
    if (!w || !h) return std::nullopt;
    auto matrix = encodeQRCode(value, correctionLevel_);
    if (!matrix) return std::nullopt;

    QImage image(*w, *h, QImage::Format_ARGB32);
    if (image.isNull()) return std::nullopt;
    const int total = matrix->width + 2 * kQuietZoneModules;
    const QRgb dark = foregroundColor_.rgba();
    const QRgb light = backgroundColor_.rgba();
    // Nearest-module sampling: every pixel takes the colour of the module it falls in, so
    // modules stay hard-edged squares whatever the scale.
    std::vector<int> columnModule(*w);
    for (int x = 0; x < *w; ++x) {
        columnModule[x] =
            static_cast<int>(static_cast<int64_t>(x) * total / *w) - kQuietZoneModules;
    }
    for (int y = 0; y < *h; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        const int my = static_cast<int>(static_cast<int64_t>(y) * total / *h) - kQuietZoneModules;
        const bool rowInside = my >= 0 && my < matrix->width;
        for (int x = 0; x < *w; ++x) {
            const int mx = columnModule[x];
            const bool isDark = rowInside && mx >= 0 && mx < matrix->width && matrix->dark(mx, my);
            line[x] = isDark ? dark : light;
        }
    }
    return image;
}

}  // namespace lumvane
