#include "ui/TBNPopoverViewController.h"

#include <QGraphicsOpacityEffect>
#include <QPropertyAnimation>

#include "runtime/log/TBNLogger.h"
#include "ui/PageSupport.h"

namespace lumvane {

namespace {
constexpr const char* kTag = "ui|popover";

// The opacity effect of a view, made on first use.
QGraphicsOpacityEffect* opacityOf(QWidget* view) {
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(view->graphicsEffect());
    if (!effect) {
        effect = new QGraphicsOpacityEffect(view);
        view->setGraphicsEffect(effect);
    }
    return effect;
}

void animate(QWidget* view, double from, double to, double seconds) {
    auto* effect = opacityOf(view);
    effect->setOpacity(from);
    auto* animation = new QPropertyAnimation(effect, "opacity", view);
    animation->setDuration(static_cast<int>(std::max(0.0, seconds) * 1000));
    animation->setStartValue(from);
    animation->setEndValue(to);
    animation->setEasingCurve(QEasingCurve::InQuad);
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

}  // namespace

TBNPopoverViewController::TBNPopoverViewController(QWidget* parent) : QWidget(parent) {}

TBNPopoverViewController::~TBNPopoverViewController() = default;

bool TBNPopoverViewController::isPriorityViewController() const {
    return false;
}

void TBNPopoverViewController::setDelegate(TBNPopoverViewControllerDelegate* delegate) {
    delegate_ = delegate;
}

TBNPopoverViewControllerDelegate* TBNPopoverViewController::delegate() const {
    return delegate_;
}

void TBNPopoverViewController::setParentPopoverController(TBNPopoverHost* host) {
    host_ = host;
    if (host_) defaultContentSize_ = host_->contentSize();
}

TBNPopoverHost* TBNPopoverViewController::parentPopoverController() const {
    return host_;
}

QSize TBNPopoverViewController::defaultContentSize() const {
    return defaultContentSize_;
}

void TBNPopoverViewController::setDefaultContentSize(const QSize& size) {
    defaultContentSize_ = size;
}

void TBNPopoverViewController::closePage() {
    TBN_LOG_DEBUG(kTag, "{} asks to close", identifier().toStdString());
    if (delegate_) delegate_->popoverViewControllerWillClose(this);
}

void TBNPopoverViewController::closeAfter(double seconds) {
    // The delegate is read when the time has come: a page whose hiding has started by
    // then has none, and its late close cannot reach the page shown after it.
    ui::afterSeconds(this, seconds, [this] {
        if (delegate_) delegate_->popoverViewControllerWillClose(this);
    });
}

void TBNPopoverViewController::reduceContentHeightOfValue(double value) {
    if (!host_) return;
    host_->setContentSize(
        QSize(defaultContentSize_.width(), defaultContentSize_.height() - static_cast<int>(value)));
}

void TBNPopoverViewController::increaseContentHeightOfValue(double) {
    if (host_) host_->setContentSize(defaultContentSize_);
}

void TBNPopoverViewController::didShowViewControolerWithTimeAnimation(double) {}

void TBNPopoverViewController::willHideViewControolerWithTimeAnimation(double) {}

void TBNPopoverViewController::fadeInViews(const QList<QWidget*>& views, double seconds,
                                           std::function<void()> completion) {
    QList<QPointer<QWidget>> guarded;
    for (QWidget* view : views) {
        if (!view) continue;
        view->hide();
        animate(view, 0.0, 1.0, seconds);
        view->show();
        guarded.append(view);
    }
    ui::afterSeconds(this, seconds, [guarded, completion = std::move(completion)] {
        for (const auto& view : guarded) {
            if (!view) continue;
            // Effects nested in effects paint badly: a view carries one only while it fades.
            view->setGraphicsEffect(nullptr);
            view->show();
        }
        if (completion) completion();
    });
}

void TBNPopoverViewController::fadeOutViews(const QList<QWidget*>& views, double seconds,
                                            std::function<void()> completion) {
    QList<QPointer<QWidget>> guarded;
    for (QWidget* view : views) {
        if (!view) continue;
        view->show();
        animate(view, 1.0, 0.0, seconds);
        guarded.append(view);
    }
    ui::afterSeconds(this, seconds, [guarded, completion = std::move(completion)] {
        for (const auto& view : guarded) {
            if (!view) continue;
            view->hide();
            view->setGraphicsEffect(nullptr);
        }
        if (completion) completion();
    });
}

}  // namespace lumvane
