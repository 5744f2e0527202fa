// Test stand-in for the page base class: the delegate and host plumbing the status item
// relies on, and hooks that only record their calls.
#include <QTimer>

#include "ui/TBNPopoverViewController.h"

namespace lumvane {

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
    if (delegate_) delegate_->popoverViewControllerWillClose(this);
}
void TBNPopoverViewController::closeAfter(double seconds) {
    QTimer::singleShot(static_cast<int>(seconds * 1000), this, [this] { closePage(); });
}
void TBNPopoverViewController::reduceContentHeightOfValue(double) {}
void TBNPopoverViewController::increaseContentHeightOfValue(double) {}
void TBNPopoverViewController::didShowViewControolerWithTimeAnimation(double) {}
void TBNPopoverViewController::willHideViewControolerWithTimeAnimation(double) {}
void TBNPopoverViewController::fadeInViews(const QList<QWidget*>&, double,
                                           std::function<void()> completion) {
    if (completion) completion();
}
void TBNPopoverViewController::fadeOutViews(const QList<QWidget*>&, double,
                                            std::function<void()> completion) {
    if (completion) completion();
}

}  // namespace lumvane
