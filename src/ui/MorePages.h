#pragma once
// The pages the status menu and the service open without waiting for a value: the
// security-key driver set-up, rating, password generators, about and debug settings,
// pairing with a phone nearby. Main (GUI) thread only.
#include <QPointer>

#include <memory>
#include <optional>
#include <vector>

#include "core/service/TBNUIService.h"
#include "ui/Pages.h"

class QSlider;

namespace lumvane {

class TBNGeneratorSettings;
class TBNOSXDeviceInfo;
class TBNError;

class TBNInstallDriverPopoverViewController : public TBNFadingPage {
    Q_OBJECT
  public:
    static constexpr double kDoneCloseSeconds = 5;
    explicit TBNInstallDriverPopoverViewController(QWidget* parent = nullptr);
    QString identifier() const override { return "TBNInstallDriverPopoverViewController"; }

    void setViewType(TBNInstallDriverViewType type);
    TBNInstallDriverViewType viewType() const { return viewType_; }
    // Runs once when the page goes away, whatever happened there.
    void setClosed(TBNUIServiceProtocol::Closed closed) {
        closed_.setReply([closed](auto) {
            if (closed) closed();
        });
    }

    void actionInstallButton();
    void actionCancelButton();
    bool working() const { return working_; }

    QLabel* titleTextField = nullptr;
    QLabel* messageTextField = nullptr;
    QLabel* updatedTextField = nullptr;
    TBNPressButton* cancelButton = nullptr;
    TBNPressButton* installButton = nullptr;
    TBNPressButton* closeButton = nullptr;

  protected:
    void closedWithoutAnswer() override { closed_.give(true); }

  private:
    void finished(const std::string& error);

    TBNInstallDriverViewType viewType_ = TBNInstallDriverViewType::Install;
    bool working_ = false;
    ui::PageAnswer<bool> closed_;
};

class TBNRatePopoverViewController : public TBNFadingPage {
    Q_OBJECT
  public:
    static constexpr double kSelfCloseSeconds = 60;
    static constexpr const char* kReviewUrl = "https://www.facebook.com/lumvane/reviews";
    explicit TBNRatePopoverViewController(QWidget* parent = nullptr);
    QString identifier() const override { return "TBNRatePopoverViewController"; }

    void actionNoButton();
    void actionLaterButton();
    void actionRateButton();
    void actionCancelButton();
    void actionReviewButton();
    void updateRate(uint64_t rate);
    uint64_t rate() const { return rate_; }
    bool ratting() const { return ratting_; }
    bool reviewing() const { return reviewing_; }

    QLabel* titleTextField = nullptr;
    QLabel* questionTextField = nullptr;
    QLabel* rateTextField = nullptr;
    QLabel* doneTextField = nullptr;
    QWidget* rateView = nullptr;
    std::vector<QAbstractButton*> stars;
    TBNPressButton* buttonNo = nullptr;
    TBNPressButton* buttonLater = nullptr;
    TBNPressButton* buttonReview = nullptr;
    TBNPressButton* buttonCancel = nullptr;
    TBNPressButton* buttonRate = nullptr;

  protected:
    void willFadeOut() override;

  private:
    uint64_t rate_ = 0;
    bool ratting_ = false;
    bool reviewing_ = false;
};

}  // namespace lumvane
