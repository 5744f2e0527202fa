#include "app/desktop/TBNStatusItem.h"

#include <QCloseEvent>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QPalette>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include "runtime/log/TBNLogger.h"

namespace lumvane {

namespace {
constexpr const char* kTags = "ui|stitem";
}  // namespace

// ---- The popover window -------------------------------------------------------------------

TBNPopoverWindow::TBNPopoverWindow(QWidget* content)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setAttribute(Qt::WA_ShowWithoutActivating, false);
    setObjectName("TBNPopoverWindow");
    // The dark blue of the application's pages, no border, square corners.
    setStyleSheet("#TBNPopoverWindow { background-color: #14213d; }");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    // The page sets the window's size (setContentSize); a minimum kept from its taller
    // state would stop the window from shrinking when a part of the page goes.
    layout->setSizeConstraint(QLayout::SetNoConstraint);
    layout->addWidget(content);
    content->show();
    adjustSize();
}

QSize TBNPopoverWindow::contentSize() const {
    return size();
}

void TBNPopoverWindow::setContentSize(const QSize& size) {
    const QRect before = geometry();
    resize(size);
    // Keep the edge next to the icon where it was: the top one under a top panel, where
    // keeping the bottom would push a growing page over the panel.
    if (isVisible() && !hangsFromTop_) move(before.x(), before.bottom() - size.height() + 1);
}

void TBNPopoverWindow::placeAt(const QRect& anchor) {
    QScreen* screen = anchor.isValid() ? QGuiApplication::screenAt(anchor.center()) : nullptr;
    if (!screen) screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    const QSize s = size().isValid() ? size() : sizeHint();
    int x = 0;
    int y = 0;
    if (!anchor.isValid() || anchor.isEmpty()) {
        x = area.right() - s.width() + 1;
        y = area.top();
        hangsFromTop_ = true;
    } else {
        x = anchor.center().x() - s.width() / 2;
        // The panel's side from the icon's place, not from the page's size: a page may be
        // placed before its content has its height.
        hangsFromTop_ = anchor.center().y() < area.center().y();
        // Underneath the icon of a top panel, above the icon of a bottom panel.
        y = hangsFromTop_ ? anchor.bottom() + 1 : anchor.top() - s.height();
    }
    x = std::max(area.left(), std::min(x, area.right() - s.width() + 1));
    y = std::max(area.top(), std::min(y, area.bottom() - s.height() + 1));
    move(x, y);
}

void TBNPopoverWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    QTimer::singleShot(0, this, [this] { emit didShow(); });
}

void TBNPopoverWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (forced) emit didClose();
}

void TBNPopoverWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        event->accept();  // pages are closed by the status item only
        return;
    }
    QWidget::keyPressEvent(event);
}

void TBNPopoverWindow::closeEvent(QCloseEvent* event) {
    if (!forced) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

// ---- The status item --------------------------------------------------------------------

std::shared_ptr<TBNStatusItem> TBNStatusItem::create(const QIcon& image, const QIcon& activeImage,
                                                     std::shared_ptr<MainLoop> loop) {
    auto item = std::make_shared<TBNStatusItem>(std::move(loop));
    item->init(image, activeImage);
    return item;
}

TBNStatusItem::TBNStatusItem(std::shared_ptr<MainLoop> loop) : loop_(std::move(loop)) {}

TBNStatusItem::~TBNStatusItem() {
    // The pages are their owners' to delete: out of the window first, or deleting the
    // window would delete the page shown in it under its owner's feet.
    {
        std::lock_guard<std::mutex> lock(pagesMutex_);
        for (auto& [id, page] : pages_) {
            if (page) page->setParent(nullptr);
        }
    }
    if (popover_) {
        popover_->forced = true;
        popover_->close();
        delete popover_;
    }
}

void TBNStatusItem::init(const QIcon& image, const QIcon& activeImage) {
    queue_ = PopoverQueue::create(loop_, weak_from_this());
    tray_ = new QSystemTrayIcon(this);
    tray_->setToolTip("Lumvane");
    setImage(image, activeImage);
    connect(tray_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                TBN_LOG_DEBUG(kTags, "icon activated ({})", static_cast<int>(reason));
                queue_->click();
            });
    tray_->show();
}

void TBNStatusItem::setImage(const QIcon& image, const QIcon& activeImage) {
    image_ = image;
    activeImage_ = activeImage.isNull() ? image : activeImage;
    tray_->setIcon(highlighted_ ? activeImage_ : image_);
}

void TBNStatusItem::showPopoverViewController(std::shared_ptr<TBNPopoverViewController> page) {
    if (!page) {
        TBN_LOG_DEBUG(kTags, "popoverViewController == nil");
        return;
    }
    const bool priority = page->isPriorityViewController();
    const PopoverPageId id = queue_->newPageId();
    {
        std::lock_guard<std::mutex> lock(pagesMutex_);
        pages_[id] = std::move(page);
    }
    queue_->showPage(id, priority);
}

void TBNStatusItem::hideCurrentPopover() {
    queue_->hideCurrentPage();
}

void TBNStatusItem::popoverViewControllerWillClose(TBNPopoverViewController* page) {
    std::optional<PopoverPageId> id;
    {
        std::lock_guard<std::mutex> lock(pagesMutex_);
        for (const auto& [pageId, p] : pages_) {
            if (p.get() == page) id = pageId;
        }
    }
    if (id) queue_->pageWillClose(*id);
}

std::shared_ptr<TBNPopoverViewController> TBNStatusItem::pageById(PopoverPageId id) const {
    std::lock_guard<std::mutex> lock(pagesMutex_);
    auto it = pages_.find(id);
    return it == pages_.end() ? nullptr : it->second;
}

QRect TBNStatusItem::anchor() const {
    const QRect icon = tray_ ? tray_->geometry() : QRect();
    if ((!icon.isValid() || icon.isEmpty()) && fallbackAnchor_ && fallbackAnchor_->isVisible()) {
        return QRect(fallbackAnchor_->mapToGlobal(QPoint(0, 0)), fallbackAnchor_->size());
    }
    return icon;
}

std::optional<Rgb> TBNStatusItem::panelColour() const {
    const QRect icon = tray_ ? tray_->geometry() : QRect();
    if (!icon.isValid() || icon.isEmpty()) return std::nullopt;
    QScreen* screen = QGuiApplication::screenAt(icon.center());
    if (!screen) return std::nullopt;
    const QPoint at = icon.topLeft() - screen->geometry().topLeft();
    const QImage shot = screen->grabWindow(0, at.x(), at.y(), icon.width(), icon.height())
                            .toImage()
                            .convertToFormat(QImage::Format_RGB32);
    if (shot.isNull()) return std::nullopt;
    // Where the icon draws nothing (and next to nothing it draws), the panel shows.
    QImage drawn(shot.size(), QImage::Format_ARGB32);
    drawn.fill(Qt::transparent);
    {
        QPainter painter(&drawn);
        tray_->icon().paint(&painter, drawn.rect());
    }
    auto clear = [&](int x, int y) {
        return x < 0 || y < 0 || x >= drawn.width() || y >= drawn.height() ||
               qAlpha(drawn.pixel(x, y)) == 0;
    };
    std::vector<Rgb> pixels;
    for (int y = 0; y < shot.height(); ++y) {
        for (int x = 0; x < shot.width(); ++x) {
            bool around = true;
            for (int dy = -1; dy <= 1 && around; ++dy) {
                for (int dx = -1; dx <= 1 && around; ++dx) around = clear(x + dx, y + dy);
            }
            if (!around) continue;
            const QRgb p = shot.pixel(x, y);
            pixels.push_back(Rgb{qRed(p), qGreen(p), qBlue(p)});
        }
    }
    return lumvane::panelColour(std::move(pixels));
}

TrayGlyph TBNStatusItem::glyphForPanel() const {
    const QColor window = QGuiApplication::palette().color(QPalette::Window);
    const QByteArray desktop = qgetenv("XDG_CURRENT_DESKTOP");
    return chooseTrayGlyph(panelColour(), desktop.toStdString(),
                           Rgb{window.red(), window.green(), window.blue()});
}

void TBNStatusItem::revealMenu() {
    if (isShowingMenu()) return;
    if (isShowingPopover()) {
        if (popover_) popover_->raise();
        return;
    }
    queue_->click();
}

bool TBNStatusItem::showMenu() {
    QMenu* menu = delegate_ ? delegate_->menuToShowStatusItem(*this) : nullptr;
    if (!menu) return false;
    currentMenu_ = menu;
    auto queue = queue_;
    connect(menu, &QMenu::aboutToShow, this, [queue] { queue->menuDidOpen(); });
    connect(menu, &QMenu::aboutToHide, this, [queue, menu] {
        queue->menuDidClose();
        menu->deleteLater();
    });
    const QRect icon = anchor();
    QPoint at = QCursor::pos();
    if (icon.isValid() && !icon.isEmpty()) {
        at = icon.bottomLeft() + QPoint(0, 1);
        QScreen* screen = QGuiApplication::screenAt(icon.center());
        const QSize hint = menu->sizeHint();
        if (screen && at.y() + hint.height() > screen->availableGeometry().bottom()) {
            at = QPoint(icon.left(), icon.top() - hint.height());  // a bottom panel
        }
    }
    menu->popup(at);
    return true;
}

void TBNStatusItem::hideMenu() {
    if (currentMenu_ && currentMenu_->isVisible()) {
        currentMenu_->hide();
    } else {
        queue_->menuDidClose();
    }
}

void TBNStatusItem::showPage(PopoverPageId id) {
    auto page = pageById(id);
    if (!page) {
        queue_->popoverDidShow();
        return;
    }
    auto* window = new TBNPopoverWindow(page.get());
    popover_ = window;
    popoverPage_ = id;
    page->setDelegate(this);
    page->setParentPopoverController(window);
    auto queue = queue_;
    connect(window, &TBNPopoverWindow::didShow, this, [queue] { queue->popoverDidShow(); });
    connect(window, &TBNPopoverWindow::didClose, this, [queue] { queue->popoverDidClose(); });
    window->placeAt(anchor());
    window->show();
    window->raise();
    window->activateWindow();
}

void TBNStatusItem::didShowPage(PopoverPageId id, double fadeSeconds) {
    if (auto page = pageById(id)) page->didShowViewControolerWithTimeAnimation(fadeSeconds);
}

void TBNStatusItem::hidePage(PopoverPageId id, double fadeSeconds, double closeAfter) {
    auto page = pageById(id);
    QPointer<TBNPopoverWindow> window = popover_;
    if (!page || !window || popoverPage_ != id) {
        queue_->popoverDidClose();
        return;
    }
    page->setDelegate(nullptr);
    page->willHideViewControolerWithTimeAnimation(fadeSeconds);
    QTimer::singleShot(static_cast<int>(closeAfter * 1000), this, [this, window, page] {
        if (!window) {
            queue_->popoverDidClose();
            return;
        }
        page->hide();
        page->setParent(nullptr);  // the page is not the window's to delete
        window->forced = true;
        window->close();
        window->deleteLater();
        if (popover_ == window) {
            popover_ = nullptr;
            popoverPage_ = 0;
        }
    });
}

void TBNStatusItem::releasePage(PopoverPageId id) {
    std::shared_ptr<TBNPopoverViewController> page;
    {
        std::lock_guard<std::mutex> lock(pagesMutex_);
        auto it = pages_.find(id);
        if (it == pages_.end()) return;
        page = std::move(it->second);
        pages_.erase(it);
    }
    if (page && page->parent()) page->setParent(nullptr);
}

void TBNStatusItem::setHighlighted(bool highlighted) {
    highlighted_ = highlighted;
    if (tray_) tray_->setIcon(highlighted ? activeImage_ : image_);
}

}  // namespace lumvane
