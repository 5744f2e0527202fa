#include "ui/DeviceCell.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QVBoxLayout>

#include <algorithm>

#include "ui/Controls.h"
#include "ui/TBNUIHelper.h"

namespace lumvane {

TBNWizardDeviceTableCellView::TBNWizardDeviceTableCellView(int rowHeight, QWidget* parent)
    : QFrame(parent), iconSize_(std::max(24, rowHeight - 22)) {
    setFixedHeight(rowHeight);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    backgroudBoxView = new QFrame(this);
    backgroudBoxView->setObjectName("backgroudBoxView");
    outer->addWidget(backgroudBoxView);

    auto* row = new QHBoxLayout(backgroudBoxView);
    const int vertical = rowHeight >= 64 ? 8 : 3;
    row->setContentsMargins(10, vertical, 10, vertical);
    row->setSpacing(10);
    iconImageView = new QLabel(backgroudBoxView);
    iconImageView->setObjectName("iconImageView");
    iconImageView->setFixedSize(iconSize_, iconSize_);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(0);
    titleTextField = new QLabel(backgroudBoxView);
    titleTextField->setObjectName("titleTextField");
    titleTextField->setFont(TBNUIHelper::boldFontWithSize(rowHeight >= 64 ? 11 : 10));
    subTitleTextField = new QLabel(backgroudBoxView);
    subTitleTextField->setObjectName("subTitleTextField");
    subTwoTitleTextField = new QLabel(backgroudBoxView);
    subTwoTitleTextField->setObjectName("subTwoTitleTextField");
    for (QLabel* small : {subTitleTextField, subTwoTitleTextField}) {
        small->setFont(TBNUIHelper::regularFontWithSize(rowHeight >= 64 ? 10 : 9));
    }
    texts->addStretch(1);
    texts->addWidget(titleTextField);
    texts->addWidget(subTitleTextField);
    texts->addWidget(subTwoTitleTextField);
    texts->addStretch(1);
    rssiLevelImageView = new QLabel(backgroudBoxView);
    rssiLevelImageView->setObjectName("rssiLevelImageView");
    rssiLevelImageView->setFixedSize(24, 24);
    row->addWidget(iconImageView, 0, Qt::AlignVCenter);
    row->addLayout(texts, 1);
    row->addWidget(rssiLevelImageView, 0, Qt::AlignVCenter);
    updateForDevice(nullptr, false);
}

void TBNWizardDeviceTableCellView::updateForDevice(const TBNOSXDeviceInfo* device,
                                                   bool isSelected) {
    selected_ = isSelected;
    titleTextField->setText(TBNUIHelper::deviceNameByDevice(device));
    subTitleTextField->setText(TBNUIHelper::deviceInfoByDevice(device));
    subTwoTitleTextField->setText(TBNUIHelper::appInfoByDevice(device));
    subTwoTitleTextField->setVisible(!subTwoTitleTextField->text().isEmpty());

    QColor fill(Qt::white);
    if (!isSelected) fill.setAlphaF(0.2f);
    const QColor text = isSelected ? TBNUIHelper::darkBlueColor() : QColor(Qt::white);
    const QColor second = isSelected ? TBNUIHelper::darkRedColor() : TBNUIHelper::yellowColor();
    backgroudBoxView->setStyleSheet(
        QString("#backgroudBoxView { background: %1; border-radius: 6px; }")
            .arg(ui::cssRgba(fill)));
    // Each label's own colour: the pages' style sheets colour every label of theirs.
    const QString label("color: %1; background: transparent;");
    titleTextField->setStyleSheet(label.arg(TBNUIHelper::css(text)));
    subTitleTextField->setStyleSheet(label.arg(TBNUIHelper::css(text)));
    subTwoTitleTextField->setStyleSheet(label.arg(TBNUIHelper::css(second)));

    const QPixmap icon =
        isSelected ? TBNUIHelper::imageNamed(TBNUIHelper::deviceIconDarkNameByDevice(device))
                   : TBNUIHelper::deviceIconByDevice(device);
    iconImageView->setPixmap(
        icon.scaled(iconSize_, iconSize_, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    rssiLevelImageView->setPixmap(
        isSelected ? TBNUIHelper::imageNamed(TBNUIHelper::rssiIconDarkNameByDevice(device))
                   : TBNUIHelper::rssiIconByDevice(device));
}

void TBNWizardDeviceTableCellView::mousePressEvent(QMouseEvent* event) {
    if (!clicked) {
        QFrame::mousePressEvent(event);
        return;
    }
    event->accept();
    clicked();
}

}  // namespace lumvane
