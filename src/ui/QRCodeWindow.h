#pragma once
// The QR pairing window: shows the code a phone scans to pair. Opened without a value it
// runs a pairing of its own through the application service and shows its progress,
// closing itself when the pairing ends; opened with a value it only shows that code.
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <string>

class QLabel;

namespace lumvane {

class TBNPressButton;

class TBNQRCodeViewController : public QWidget {
    Q_OBJECT
  public:
    // What the window uses of the pairing: start with four handlers (called from any
    // thread), stop.
    struct Pairing {
        std::function<void(std::function<void(const std::string& url)> url,
                           std::function<void(const std::string& status)> progress,
                           std::function<void()> success, std::function<void()> failure)>
            start;
        std::function<void()> stop;
    };

    explicit TBNQRCodeViewController(Pairing pairing, QWidget* parent = nullptr);

    // A value: show it (the wizard's own pairing runs); none: pair by ourselves.
    void setQRCodeValue(const std::optional<std::string>& value);
    void actionCloseButton();
    bool fromWizard() const { return fromWizard_; }
    std::string qrCodeValue() const { return qrCodeValue_; }

    QLabel* qrCodeImageView = nullptr;
    QLabel* infoTextField = nullptr;
    QLabel* stateTextField = nullptr;
    TBNPressButton* closeButton = nullptr;

  private:
    void showCode(const std::string& value, int side);

    Pairing pairing_;
    std::string qrCodeValue_;
    bool fromWizard_ = false;
};

namespace ui {
// The window (one at a time); a value only shows that code.
TBNQRCodeViewController* showQRCodeWindowWith(TBNQRCodeViewController::Pairing pairing,
                                              const std::optional<std::string>& value);
}  // namespace ui

}  // namespace lumvane
