#include "app/desktop/PopoverQueue.h"

#include <algorithm>

#include "runtime/log/TBNLogger.h"

namespace lumvane {

namespace {
constexpr const char* kTags = "ui|stitem";
}  // namespace

std::shared_ptr<PopoverQueue> PopoverQueue::create(std::shared_ptr<MainLoop> loop,
                                                   std::weak_ptr<PopoverQueueView> view,
                                                   Times times) {
    return std::make_shared<PopoverQueue>(std::move(loop), std::move(view), times);
}

PopoverQueue::PopoverQueue(std::shared_ptr<MainLoop> loop, std::weak_ptr<PopoverQueueView> view,
                           Times times)
    : loop_(std::move(loop)), view_(std::move(view)), times_(times) {}

PopoverPageId PopoverQueue::newPageId() {
    return nextId_.fetch_add(1);
}

// ---- Public operations: each queues one operation -------------------------------------

void PopoverQueue::showPage(PopoverPageId page, bool priority) {
    enqueue([this, page, priority](Step done) {
        auto afterMenu = [this, page, priority, done] {
            bool onScreen = false;
            bool onScreenPriority = false;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (current_) {
                    onScreen = true;
                    onScreenPriority = current_->priority;
                    (priority ? priorityQueue_ : normalQueue_).push_back({page, priority});
                }
            }
            if (!onScreen) {
                opShowPopover({page, priority}, done);
            } else if (!onScreenPriority) {
                // A normal page gives way to any page that arrives.
                opHideCurrentAndNext(done);
            } else {
                done();
            }
        };
        if (showingMenu_.load()) {
            opHideMenu(afterMenu);
        } else {
            afterMenu();
        }
    });
}

void PopoverQueue::hideCurrentPage() {
    enqueue([this](Step done) {
        if (showingPopover_.load()) {
            opHideCurrentAndNext(done);
        } else {
            done();
        }
    });
}

void PopoverQueue::pageWillClose(PopoverPageId page) {
    enqueue([this, page](Step done) {
        bool onScreen = false;
        bool removed = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            onScreen = current_ && current_->id == page;
            if (!onScreen) {
                for (auto* queue : {&priorityQueue_, &normalQueue_}) {
                    auto it = std::find_if(queue->begin(), queue->end(),
                                           [page](const Waiting& w) { return w.id == page; });
                    if (it != queue->end()) {
                        queue->erase(it);
                        removed = true;
                    }
                }
            }
        }
        if (onScreen) {
            opHideCurrentAndNext(done);
            return;
        }
        if (removed) {
            TBN_LOG_DEBUG(kTags, "waiting page {} closed before it was shown", page);
            if (auto v = view()) v->releasePage(page);
        }
        done();
    });
}

void PopoverQueue::click() {
    enqueue([this](Step done) {
        if (showingPopover_.load()) {
            opHideCurrentAndNext(done);
        } else if (showingMenu_.load()) {
            opHideMenu(done);
        } else {
            opShowMenu(done);
        }
    });
}

// ---- Reports of the view ----------------------------------------------------------------

void PopoverQueue::menuDidOpen() {
    showingMenu_.store(true);
    updateHighlight();
    release(kDidOpenMenu);
}

void PopoverQueue::menuDidClose() {
    showingMenu_.store(false);
    updateHighlight();
    release(kDidCloseMenu);
}

void PopoverQueue::popoverDidShow() {
    release(kDidOpenPopover);
}

void PopoverQueue::popoverDidClose() {
    release(kDidClosePopover);
}

// ---- State --------------------------------------------------------------------------------

std::optional<PopoverPageId> PopoverQueue::currentPage() const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!current_) return std::nullopt;
    return current_->id;
}

size_t PopoverQueue::waitingPages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return priorityQueue_.size() + normalQueue_.size();
}

bool PopoverQueue::busy() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return running_ || !operations_.empty();
}

std::vector<std::string> PopoverQueue::armedWaits() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> names;
    for (const auto& [name, wait] : waits_) names.push_back(name);
    return names;
}

// ---- The serial queue -------------------------------------------------------------------

void PopoverQueue::enqueue(Operation operation) {
    std::weak_ptr<PopoverQueue> weak = weak_from_this();
    loop_->post([weak, operation = std::move(operation)]() mutable {
        auto self = weak.lock();
        if (!self) return;
        bool start = false;
        {
            std::lock_guard<std::mutex> lock(self->mutex_);
            self->operations_.push_back(std::move(operation));
            if (!self->running_) {
                self->running_ = true;
                start = true;
            }
        }
        if (start) self->runNext();
    });
}

void PopoverQueue::runNext() {
    Operation operation;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (operations_.empty()) {
            running_ = false;
            return;
        }
        operation = std::move(operations_.front());
        operations_.pop_front();
    }
    std::weak_ptr<PopoverQueue> weak = weak_from_this();
    auto finished = std::make_shared<std::atomic<bool>>(false);
    operation([weak, finished] {
        // An operation ends once; the next one starts from a fresh main-loop task so
        // that a chain of operations that finish at once does not nest.
        if (finished->exchange(true)) return;
        auto self = weak.lock();
        if (!self) return;
        self->loop_->post([weak] {
            if (auto self = weak.lock()) self->runNext();
        });
    });
}

void PopoverQueue::arm(const std::string& name, std::function<void(bool released)> then) {
    std::weak_ptr<PopoverQueue> weak = weak_from_this();
    std::lock_guard<std::mutex> lock(mutex_);
    auto old = waits_.find(name);
    if (old != waits_.end()) loop_->cancel(old->second.timer);
    Wait wait;
    wait.then = std::move(then);
    wait.timer = loop_->postAfter(times_.waitTimeout, [weak, name] {
        if (auto self = weak.lock()) self->timedOut(name);
    });
    waits_[name] = std::move(wait);
}

void PopoverQueue::release(const std::string& name) {
    std::function<void(bool)> then;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = waits_.find(name);
        if (it == waits_.end()) return;  // nobody waits: dropped
        loop_->cancel(it->second.timer);
        then = std::move(it->second.then);
        waits_.erase(it);
    }
    if (then) then(true);
}

void PopoverQueue::timedOut(const std::string& name) {
    std::function<void(bool)> then;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = waits_.find(name);
        if (it == waits_.end()) return;
        then = std::move(it->second.then);
        waits_.erase(it);
    }
    TBN_LOG_WARN(kTags, "no report of '{}' within {} s: going on without it", name,
                 times_.waitTimeout);
    if (then) then(false);
}

void PopoverQueue::sleepThen(double seconds, Step then) {
    std::weak_ptr<PopoverQueue> weak = weak_from_this();
    loop_->postAfter(seconds, [weak, then = std::move(then)] {
        if (weak.lock()) then();
    });
}

// ---- Steps --------------------------------------------------------------------------------

void PopoverQueue::opShowMenu(Step done) {
    sleepThen(times_.menuDelay, [this, done] {
        arm(kDidOpenMenu, [done](bool released) {
            // A menu that never reported its opening is not open (menuDidOpen sets it).
            (void)released;
            done();
        });
        auto v = view();
        if (!v || !v->showMenu()) {
            // No menu to show: nothing will report.
            release(kDidOpenMenu);
        }
    });
}

void PopoverQueue::opHideMenu(Step done) {
    arm(kDidCloseMenu, [this, done](bool released) {
        if (!released) {
            // Taken as closed, so that the next click opens a fresh menu.
            showingMenu_.store(false);
            updateHighlight();
        }
        done();
    });
    if (auto v = view()) v->hideMenu();
}

void PopoverQueue::opShowPopover(Waiting page, Step done) {
    showingPopover_.store(true);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        current_ = page;
    }
    arm(kDidOpenPopover, [this, page, done](bool released) {
        if (!released) {
            // The window never showed: drop the page and go on with the next one.
            opHideCurrentAndNext(done);
            return;
        }
        if (auto v = view()) v->didShowPage(page.id, times_.fade);
        sleepThen(times_.pageSettle, done);
    });
    updateHighlight();
    if (auto v = view()) v->showPage(page.id);
}

void PopoverQueue::opHidePopover(Step done) {
    std::optional<Waiting> page;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        page = current_;
    }
    if (!page) {
        done();
        return;
    }
    arm(kDidClosePopover, [this, page, done](bool released) {
        (void)released;  // closed or not, the page is gone from the queue's view
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (current_ && current_->id == page->id) current_.reset();
        }
        if (auto v = view()) v->releasePage(page->id);
        done();
    });
    if (auto v = view()) v->hidePage(page->id, times_.fade, times_.forcedClose);
}

void PopoverQueue::opHideCurrentAndNext(Step done) {
    opHidePopover([this, done] {
        if (auto next = nextWaiting()) {
            opShowPopover(*next, done);
            return;
        }
        showingPopover_.store(false);
        updateHighlight();
        done();
    });
}

std::optional<PopoverQueue::Waiting> PopoverQueue::nextWaiting() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto* queue : {&priorityQueue_, &normalQueue_}) {
        if (!queue->empty()) {
            Waiting next = queue->front();
            queue->pop_front();
            return next;
        }
    }
    return std::nullopt;
}

void PopoverQueue::updateHighlight() {
    if (auto v = view()) v->setHighlighted(showingMenu_.load() || showingPopover_.load());
}

}  // namespace lumvane
