#include "ui/wizard/WizardQtLoop.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <unordered_set>

namespace lumvane {

struct WizardQtLoop::State {
    std::mutex mutex;
    TaskId lastId = 0;
    std::unordered_set<TaskId> pending;  // delayed tasks not yet run or cancelled
};

std::shared_ptr<WizardQtLoop> WizardQtLoop::shared() {
    static auto loop = std::make_shared<WizardQtLoop>();
    return loop;
}

WizardQtLoop::WizardQtLoop() : state_(std::make_shared<State>()) {}
WizardQtLoop::~WizardQtLoop() = default;

void WizardQtLoop::post(Task task) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return;
    QMetaObject::invokeMethod(
        app, [task = std::move(task)] { task(); }, Qt::QueuedConnection);
}

MainLoop::TaskId WizardQtLoop::postAfter(Clock::Duration delay, Task task) {
    TaskId id = 0;
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        id = ++state_->lastId;
        state_->pending.insert(id);
    }
    const auto ms =
        std::max<int64_t>(0, std::chrono::duration_cast<std::chrono::milliseconds>(delay).count());
    std::weak_ptr<State> weak = state_;
    post([weak, id, ms, task = std::move(task)]() mutable {
        QTimer::singleShot(std::chrono::milliseconds(ms), QCoreApplication::instance(),
                           [weak, id, task = std::move(task)] {
                               auto state = weak.lock();
                               if (!state) return;
                               {
                                   std::lock_guard<std::mutex> lock(state->mutex);
                                   if (state->pending.erase(id) == 0) return;
                               }
                               task();
                           });
    });
    return id;
}

bool WizardQtLoop::cancel(TaskId id) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->pending.erase(id) > 0;
}

bool WizardQtLoop::isMainThread() const {
    QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

std::shared_ptr<Clock> WizardQtLoop::clock() const {
    return Clock::steady();
}

}  // namespace lumvane
