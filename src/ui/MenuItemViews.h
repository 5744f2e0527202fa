#pragma once
// Widgets for the status menu and a window of their own: the paired-phone view that a
// menu item can host (through a QWidgetAction) and the three-page quick guide window.
// Main (GUI) thread only.
#include <QWidget>

#include <memory>
#include <vector>

class QLabel;

namespace lumvane {

class TBNOSXDeviceInfo;
class TBNSettingsDelegate;
class TBNPressButton;

// One paired phone: icon, signal, name, model and system, version of its application.
// Refreshes itself when the settings report a change of a paired phone's information.
class TBNMenuPairedDeviceViewController : public QWidget {
    Q_OBJECT
  public:
    explicit TBNMenuPairedDeviceViewController(QWidget* parent = nullptr);
    ~TBNMenuPairedDeviceViewController() override;

    // The phone to show (none: the unknown-phone texts).
    void setPairedDevice(std::shared_ptr<TBNOSXDeviceInfo> device);
    void update();

    QLabel* deviceIconImageView = nullptr;
    QLabel* deviceRSSILevelImageView = nullptr;
    QLabel* deviceTitleTextField = nullptr;
    QLabel* deviceSubTitleTextField = nullptr;
    QLabel* deviceSubTwoTitleTextField = nullptr;

  private:
    std::shared_ptr<TBNOSXDeviceInfo> pairedDevice_;
    std::shared_ptr<TBNSettingsDelegate> observer_;
};

// The quick guide: three pages with a picture and a text; Skip, Back, Next, Finish.
class TBNGuideViewController : public QWidget {
    Q_OBJECT
  public:
    explicit TBNGuideViewController(QWidget* parent = nullptr);

    void actionBackButton();
    void actionNextButton();
    void actionSkipButton() { close(); }
    void actionFinishButton() { close(); }
    size_t currentIndex() const { return currentIndex_; }
    size_t pageCount() const { return guideMessages_.size(); }

    QLabel* guideImageView = nullptr;
    QLabel* guideTextField = nullptr;
    TBNPressButton* skipButton = nullptr;
    TBNPressButton* backButton = nullptr;
    TBNPressButton* nextButton = nullptr;
    TBNPressButton* finishButton = nullptr;

  private:
    void updateUI();

    std::vector<QString> guideMessages_;
    size_t currentIndex_ = 0;
};

namespace ui {
// The paired phone's view for a menu item; the menu takes it over.
QWidget* makePairedDeviceMenuItemView(std::shared_ptr<TBNOSXDeviceInfo> device,
                                      QWidget* parent = nullptr);
// Opens the quick guide window (one at a time).
TBNGuideViewController* showGuideWindow();
}  // namespace ui

}  // namespace lumvane
