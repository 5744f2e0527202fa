#include "app/shell/QtMainLoop.h"

#include <QCoreApplication>
#include <QThread>

namespace lumvane {

QtMainLoop::QtMainLoop(std::shared_ptr<Clock> clock)
    : clock_(clock ? std::move(clock) : Clock::steady()), context_(new QObject()) {
    if (auto* app = QCoreApplication::instance()) context_->moveToThread(app->thread());
}

QtMainLoop::~QtMainLoop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& [id, call] : delayed_) clock_->cancel(call);
        delayed_.clear();
    }
    // Tasks still queued in Qt die with their context.
    context_->deleteLater();
}

void QtMainLoop::post(Task task) {
    QMetaObject::invokeMethod(context_, std::move(task), Qt::QueuedConnection);
}

MainLoop::TaskId QtMainLoop::postAfter(Clock::Duration delay, Task task) {
    std::lock_guard<std::mutex> lock(mutex_);
    const TaskId id = nextId_++;
    std::weak_ptr<QtMainLoop> weak = weak_from_this();
    delayed_[id] = clock_->callAt(clock_->now() + delay, [weak, id, task = std::move(task)] {
        auto self = weak.lock();
        if (!self) return;
        {
            std::lock_guard<std::mutex> lock(self->mutex_);
            if (self->delayed_.erase(id) == 0) return;  // cancelled meanwhile
        }
        self->post(task);
    });
    return id;
}

bool QtMainLoop::cancel(TaskId id) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = delayed_.find(id);
    if (it == delayed_.end()) return false;
    clock_->cancel(it->second);
    delayed_.erase(it);
    return true;
}

bool QtMainLoop::isMainThread() const {
    return QThread::currentThread() == context_->thread();
}

std::shared_ptr<Clock> QtMainLoop::clock() const {
    return clock_;
}

void quitApplication() {
    QCoreApplication::exit(0);
}

}  // namespace lumvane
