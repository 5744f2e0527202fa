#pragma once
// The row of a phone found nearby, as the wizard's device list and the pair-device page show
// it: the phone's icon, its name, model and system, its application's version and the signal.
// Selected it is a white box with dark texts; otherwise a faint box with light texts.
// Main (GUI) thread only.
#include <QFrame>

#include <functional>

class QLabel;

namespace lumvane {

class TBNOSXDeviceInfo;

class TBNWizardDeviceTableCellView : public QFrame {
    Q_OBJECT
  public:
    // `rowHeight`: the height of the row the cell fills (the icon follows it).
    explicit TBNWizardDeviceTableCellView(int rowHeight, QWidget* parent = nullptr);

    // Fills the cell from the phone (none: the unknown-phone texts) in its selected or
    // unselected look. An empty application line is not shown.
    void updateForDevice(const TBNOSXDeviceInfo* device, bool isSelected);
    bool isSelected() const { return selected_; }

    // Called on a click into the cell; without it the click goes on to the parent.
    std::function<void()> clicked;

    QFrame* backgroudBoxView = nullptr;
    QLabel* iconImageView = nullptr;
    QLabel* rssiLevelImageView = nullptr;
    QLabel* titleTextField = nullptr;
    QLabel* subTitleTextField = nullptr;
    QLabel* subTwoTitleTextField = nullptr;

  protected:
    void mousePressEvent(QMouseEvent* event) override;

  private:
    int iconSize_;
    bool selected_ = false;
};

}  // namespace lumvane
