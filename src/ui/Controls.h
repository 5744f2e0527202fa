#pragma once
// The controls the pages share: the press button, the text fields that report the start
// and end of editing, the on/off switch, and the one style sheet of every page.
#include <QAbstractButton>
#include <QColor>
#include <QLineEdit>
#include <QPushButton>

#include <functional>

class QLabel;

namespace lumvane {

// A push button whose title is drawn white in the medium font and, while pressed, its
// alternate title (or its title when it has none) in dark blue.
class TBNPressButton : public QPushButton {
    Q_OBJECT
  public:
    enum class Role { Primary, Secondary };
    explicit TBNPressButton(const QString& title = {}, QWidget* parent = nullptr,
                            Role role = Role::Primary);

    QColor textColor() const { return textColor_; }
    void setTextColor(const QColor& color);
    QColor alternateTextColor() const { return alternateTextColor_; }
    void setAlternateTextColor(const QColor& color);
    QString title() const { return title_; }
    void setTitle(const QString& title);
    QString alternateTitle() const { return alternateTitle_; }
    void setAlternateTitle(const QString& title);
    // What the button shows now.
    QString shownTitle() const { return text(); }
    QColor shownColor() const;

  private:
    void updateButton();

    QColor textColor_;
    QColor alternateTextColor_;
    QString title_;
    QString alternateTitle_;
};

// A text field that asks a callback whether it may take the focus and tells another one
// when editing ended. The end callback runs before the field's own editingFinished.
class TBNTextField : public QLineEdit {
    Q_OBJECT
  public:
    using BeginCallback = std::function<bool(TBNTextField*)>;
    using EndCallback = std::function<void(TBNTextField*)>;

    explicit TBNTextField(QWidget* parent = nullptr);

    void didBeginEditing(BeginCallback callback) { begin_ = std::move(callback); }
    void didEndEditing(EndCallback callback) { end_ = std::move(callback); }

  protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void endEditing();

    BeginCallback begin_;
    EndCallback end_;
    bool editing_ = false;
};

// The same field showing its text as dots.
class TBNSecureTextField : public TBNTextField {
    Q_OBJECT
  public:
    explicit TBNSecureTextField(QWidget* parent = nullptr);
};

// An on/off switch drawn as a rounded track with a round knob.
class TBNSwitch : public QAbstractButton {
    Q_OBJECT
  public:
    explicit TBNSwitch(QWidget* parent = nullptr);
    bool checked() const { return isChecked(); }
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
};

// The progress indicator of the pages: a ring of dots whose bright dot turns while it is
// animating; hidden it draws nothing and stops its timer.
class TBNSpinner : public QWidget {
    Q_OBJECT
    Q_PROPERTY(bool animating READ isAnimating)
  public:
    explicit TBNSpinner(QWidget* parent = nullptr);
    void startAnimation();
    void stopAnimation();
    bool isAnimating() const { return animating_; }
    QSize sizeHint() const override { return {22, 22}; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void updateTimer();

    bool animating_ = false;
    int step_ = 0;
    int timer_ = 0;
};

namespace ui {

// The look every page shares (colours, fonts, spacing), applied to the page's top widget.
void applyPageStyle(QWidget* page);
// A style sheet colour with its alpha ("rgba(r,g,b,a)", a from 0 to 255).
QString cssRgba(const QColor& color);
// Labels of the page's roles.
QLabel* titleLabel(const QString& text, QWidget* parent = nullptr);
QLabel* messageLabel(const QString& text, QWidget* parent = nullptr);
// Spacing of the pages.
inline constexpr int kPageMargin = 18;
inline constexpr int kPageSpacing = 10;
inline constexpr int kPageWidth = 360;

}  // namespace ui
}  // namespace lumvane
