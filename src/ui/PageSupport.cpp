#include "ui/PageSupport.h"

#include <QCoreApplication>
#include <QThread>

#include "app/shell/LocalizationExtensions.h"
#include "ui/PageEnvironment.h"

namespace lumvane::ui {

bool isMainThread() {
    auto* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

void onMain(QObject* guard, std::function<void()> fn) {
    QObject* target = guard ? guard : QCoreApplication::instance();
    if (!target) return;
    QMetaObject::invokeMethod(target, std::move(fn), Qt::QueuedConnection);
}

void onMainNow(QObject* guard, std::function<void()> fn) {
    if (isMainThread()) {
        fn();
    } else {
        onMain(guard, std::move(fn));
    }
}

void PageTimer::start(QObject* guard, double seconds, std::function<void()> fn) {
    stop();
    clock_ = environment().clock;
    auto state = std::make_shared<State>();
    state->armed = true;
    state_ = state;
    QPointer<QObject> target(guard);
    id_ = clock_->callAt(clock_->deadlineAfter(seconds), [target, state, fn = std::move(fn)] {
        // The clock calls from its own thread (or inside a test's advance()); the
        // work belongs on the GUI thread.
        onMain(nullptr, [target, state, fn] {
            if (!state->armed || !target) return;
            state->armed = false;
            fn();
        });
    });
}

void PageTimer::stop() {
    if (state_) state_->armed = false;
    if (clock_ && id_) clock_->cancel(id_);
    id_ = 0;
    state_.reset();
}

void afterSeconds(QObject* guard, double seconds, std::function<void()> fn,
                  std::shared_ptr<void> keepAlive) {
    auto clock = environment().clock;
    QPointer<QObject> target(guard);
    clock->callAt(clock->deadlineAfter(seconds),
                  [target, keepAlive = std::move(keepAlive), fn = std::move(fn)]() mutable {
                      onMain(nullptr, [target, keepAlive = std::move(keepAlive), fn] {
                          if (target) fn();
                      });
                  });
}

QString text(const std::string& key) {
    std::string localized = LocalizationExtensions::localizedString(key);
    if (!localized.empty() && localized != key) return QString::fromStdString(localized);
    QString english = englishText(key);
    return english.isEmpty() ? QString::fromStdString(key) : english;
}

}  // namespace lumvane::ui
