#include "ui/Controls.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QTimerEvent>

#include <algorithm>
#include <cmath>

#include "ui/TBNUIHelper.h"

namespace lumvane {

TBNPressButton::TBNPressButton(const QString& title, QWidget* parent, Role role)
    : QPushButton(parent),
      textColor_(Qt::white),
      alternateTextColor_(TBNUIHelper::darkBlueColor()),
      title_(title) {
    setProperty("role", role == Role::Primary ? "primary" : "secondary");
    setFont(TBNUIHelper::mediumFontWithSize(11));
    setCursor(Qt::PointingHandCursor);
    setMinimumHeight(32);
    connect(this, &QPushButton::pressed, this, &TBNPressButton::updateButton);
    connect(this, &QPushButton::released, this, &TBNPressButton::updateButton);
    updateButton();
}

void TBNPressButton::setTextColor(const QColor& color) {
    textColor_ = color;
    updateButton();
}

void TBNPressButton::setAlternateTextColor(const QColor& color) {
    alternateTextColor_ = color;
    updateButton();
}

void TBNPressButton::setTitle(const QString& title) {
    title_ = title;
    updateButton();
}

void TBNPressButton::setAlternateTitle(const QString& title) {
    alternateTitle_ = title;
    updateButton();
}

QColor TBNPressButton::shownColor() const {
    return isDown() ? alternateTextColor_ : textColor_;
}

void TBNPressButton::updateButton() {
    setText(isDown() && !alternateTitle_.isEmpty() ? alternateTitle_ : title_);
    QPalette p = palette();
    p.setColor(QPalette::ButtonText, shownColor());
    setPalette(p);
    // A disabled button keeps its colour but faded, so it reads as not to be pressed.
    QColor faded = textColor_;
    faded.setAlphaF(0.45f);
    setStyleSheet(QString("QPushButton { color: %1; } QPushButton:disabled { color: %2; }")
                      .arg(TBNUIHelper::css(shownColor()), ui::cssRgba(faded)));
}

TBNTextField::TBNTextField(QWidget* parent) : QLineEdit(parent) {
    setMaxLength(TBNUIHelper::maxCredentialLenght() * 4);
    setMinimumHeight(30);
    // Return ended the edit but the field keeps the focus: typing on is a new edit, whose
    // end is reported again (without asking for the focus a second time).
    connect(this, &QLineEdit::textEdited, this, [this] {
        if (hasFocus()) editing_ = true;
    });
}

void TBNTextField::focusInEvent(QFocusEvent* event) {
    QLineEdit::focusInEvent(event);
    if (begin_ && !begin_(this)) {
        // The callback refused the focus.
        clearFocus();
        return;
    }
    editing_ = true;
    setCursorPosition(static_cast<int>(text().size()));
}

void TBNTextField::focusOutEvent(QFocusEvent* event) {
    endEditing();
    QLineEdit::focusOutEvent(event);
}

void TBNTextField::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) endEditing();
    QLineEdit::keyPressEvent(event);
}

void TBNTextField::endEditing() {
    if (!editing_) return;
    editing_ = false;
    if (end_) end_(this);
}

TBNSecureTextField::TBNSecureTextField(QWidget* parent) : TBNTextField(parent) {
    setEchoMode(QLineEdit::Password);
}

TBNSwitch::TBNSwitch(QWidget* parent) : QAbstractButton(parent) {
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize TBNSwitch::sizeHint() const {
    return {40, 22};
}

void TBNSwitch::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF track = QRectF(rect()).adjusted(1, 1, -1, -1);
    QPainterPath trackPath;
    trackPath.addRoundedRect(track, track.height() / 2, track.height() / 2);
    QColor fill = isChecked() ? TBNUIHelper::greenColor() : QColor(255, 255, 255, 60);
    if (!isEnabled()) fill.setAlphaF(fill.alphaF() * 0.45f);
    p.fillPath(trackPath, fill);
    const double d = track.height() - 4;
    const double x = isChecked() ? track.right() - d - 2 : track.left() + 2;
    QPainterPath knob;
    knob.addEllipse(QRectF(x, track.top() + 2, d, d));
    p.fillPath(knob, isEnabled() ? QColor(Qt::white) : QColor(255, 255, 255, 140));
}

TBNSpinner::TBNSpinner(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void TBNSpinner::startAnimation() {
    animating_ = true;
    updateTimer();
    update();
}

void TBNSpinner::stopAnimation() {
    animating_ = false;
    updateTimer();
    update();
}

void TBNSpinner::updateTimer() {
    const bool run = animating_ && isVisible();
    if (run && timer_ == 0) {
        timer_ = startTimer(90);
    } else if (!run && timer_ != 0) {
        killTimer(timer_);
        timer_ = 0;
    }
}

void TBNSpinner::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    updateTimer();
}

void TBNSpinner::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    updateTimer();
}

void TBNSpinner::timerEvent(QTimerEvent* event) {
    if (event->timerId() != timer_) return QWidget::timerEvent(event);
    step_ = (step_ + 1) % 8;
    update();
}

void TBNSpinner::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    const QPointF centre = QRectF(rect()).center();
    const double radius = std::min(width(), height()) / 2.0;
    const double dot = radius * 0.22;
    for (int i = 0; i < 8; ++i) {
        // The dot at the step is brightest, the ones behind it fade out.
        const int behind = (step_ - i + 8) % 8;
        QColor colour(Qt::white);
        colour.setAlphaF(animating_ ? std::max(0.2f, 1.0f - behind * 0.12f) : 0.35f);
        const double angle = i * M_PI / 4 - M_PI / 2;
        const QPointF at(centre.x() + (radius - dot) * std::cos(angle),
                         centre.y() + (radius - dot) * std::sin(angle));
        p.setBrush(colour);
        p.drawEllipse(at, dot, dot);
    }
}

namespace ui {

void applyPageStyle(QWidget* page) {
    page->setAttribute(Qt::WA_StyledBackground, true);
    page->setFont(TBNUIHelper::regularFontWithSize(10.5));
    const QString dark = TBNUIHelper::css(TBNUIHelper::darkBlueColor());
    const QString green = TBNUIHelper::css(TBNUIHelper::greenColor());
    const QString light = TBNUIHelper::css(TBNUIHelper::lightBlueColor());
    page->setStyleSheet(QString(R"(
        QWidget#page { background: %1; }
        QLabel { color: white; background: transparent; }
        QLabel[role="title"] { font-size: 15pt; font-weight: 600; }
        QLabel[role="message"] { color: #d7ecef; }
        QLabel:disabled { color: #8fb3b9; }
        QLabel[role="hint"] { color: #a9d3da; font-size: 9pt; }
        QLineEdit, QComboBox { background: white; color: #1d2b2e; border: 1px solid %3;
            border-radius: 6px; padding: 4px 8px; selection-background-color: %3; }
        QLineEdit:disabled { background: #c9dadd; }
        QComboBox::drop-down { subcontrol-origin: padding; subcontrol-position: center right;
            width: 20px; border: none; background: transparent; }
        QComboBox::down-arrow { image: none; }
        QComboBox QAbstractItemView { background: white; color: #1d2b2e;
            selection-background-color: %3; }
        QPushButton { border-radius: 6px; padding: 6px 16px; min-width: 64px; }
        QPushButton[role="primary"] { background: %2; }
        QPushButton[role="primary"]:disabled { background: #5f8f87; }
        QPushButton[role="secondary"] { background: rgba(255,255,255,0.14); }
        QPushButton[role="secondary"]:disabled { background: rgba(255,255,255,0.05); }
        QPushButton[role="link"] { background: transparent; color: %3; padding: 2px 4px;
            min-width: 0; text-decoration: underline; }
        QPushButton:focus { outline: none; }
        QSlider::groove:horizontal { height: 4px; background: rgba(255,255,255,0.3);
            border-radius: 2px; }
        QSlider::sub-page:horizontal { background: %2; border-radius: 2px; }
        QSlider::handle:horizontal { background: white; width: 16px; height: 16px;
            margin: -6px 0; border-radius: 8px; }
        QProgressBar { background: rgba(255,255,255,0.2); border: none; border-radius: 3px;
            max-height: 6px; }
        QProgressBar::chunk { background: %3; border-radius: 3px; }
        QFrame[role="box"] { background: rgba(255,255,255,0.08); border-radius: 8px; }
    )")
                            .arg(dark, green, light));
}

QString cssRgba(const QColor& color) {
    return QString("rgba(%1,%2,%3,%4)")
        .arg(color.red())
        .arg(color.green())
        .arg(color.blue())
        .arg(color.alpha());
}

QLabel* titleLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setProperty("role", "title");
    label->setWordWrap(true);
    return label;
}

QLabel* messageLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setProperty("role", "message");
    label->setWordWrap(true);
    return label;
}

}  // namespace ui
}  // namespace lumvane
