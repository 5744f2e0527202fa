#pragma once
// QR code pictures of pairing values: the value is encoded with libqrencode into a module
// matrix (kept apart so it can be checked without drawing) and drawn, module by module,
// into an image of the requested size with sharp, unsmoothed edges.
#include <QColor>
#include <QImage>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumvane {

enum class CorrectionLevel { L, M, Q, H };

// The one-letter raw value ("L", "M", "Q", "H").
std::string_view rawValue(CorrectionLevel level);
// Exactly one of the four upper-case letters gives a level; anything else gives none.
std::optional<CorrectionLevel> correctionLevelFromRawValue(std::string_view raw);

// A square QR symbol: `width` modules per side, row-major, true for a dark module. The
// quiet zone is not part of the matrix.
struct QRCodeMatrix {
    int width = 0;
    std::vector<bool> modules;
    bool dark(int x, int y) const { return modules[static_cast<size_t>(y) * width + x]; }
};

// Encodes bytes in 8-bit mode at the smallest version that holds them; nothing when the
// data is empty or too long for the level.
std::optional<QRCodeMatrix> encodeQRCode(std::string_view bytes, CorrectionLevel level);

class QRCodeGenerator {
  public:
    // Modules of light margin drawn around the symbol on every side.
    static constexpr int kQuietZoneModules = 4;

    QRCodeGenerator() = default;

    QColor backgroundColor() const { return backgroundColor_; }
    void setBackgroundColor(QColor color) { backgroundColor_ = color; }
    QColor foregroundColor() const { return foregroundColor_; }
    void setForegroundColor(QColor color) { foregroundColor_ = color; }
    CorrectionLevel correctionLevel() const { return correctionLevel_; }
    void setCorrectionLevel(CorrectionLevel level) { correctionLevel_ = level; }

    // An image of width x height pixels (the sizes are rounded), or nothing when the value
    // cannot be encoded or the size is not a positive, finite size a picture can have.
    std::optional<QImage> createImageWithValue(const std::string& value, double width,
                                               double height) const;

  private:
    QColor backgroundColor_ = Qt::white;
    QColor foregroundColor_ = Qt::black;
    CorrectionLevel correctionLevel_ = CorrectionLevel::H;
};

}  // namespace lumvane
