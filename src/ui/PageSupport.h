#pragma once
// Small tools the pages share: running work on the GUI thread, one-shot timers on the
// pages' clock, the answer a page gives its opener exactly once, and the texts.
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "runtime/Clock.h"

namespace lumvane::ui {

// Runs `fn` on the GUI thread through its event queue, unless `guard` is gone by then.
// A null guard means the application object.
void onMain(QObject* guard, std::function<void()> fn);
// Runs `fn` at once when called on the GUI thread, else like onMain().
void onMainNow(QObject* guard, std::function<void()> fn);
bool isMainThread();

// A one-shot timer on the pages' clock (environment().clock). The function runs on the
// GUI thread while the guard lives and the timer was neither stopped nor restarted.
class PageTimer {
  public:
    PageTimer() = default;
    ~PageTimer() { stop(); }
    PageTimer(const PageTimer&) = delete;
    PageTimer& operator=(const PageTimer&) = delete;

    void start(QObject* guard, double seconds, std::function<void()> fn);
    void stop();
    bool isActive() const { return state_ && state_->armed; }

  private:
    struct State {
        bool armed = false;
    };
    std::shared_ptr<Clock> clock_;
    Clock::CallId id_ = 0;
    std::shared_ptr<State> state_;
};

// Runs `fn` after `seconds` on the pages' clock (on the GUI thread, while `guard` lives).
// `keepAlive` is held until then.
void afterSeconds(QObject* guard, double seconds, std::function<void()> fn,
                  std::shared_ptr<void> keepAlive = {});

// The answer a page owes the opener that asked: given exactly once, with a value or with
// nothing. A page that goes away without answering answers nothing.
template <class T>
class PageAnswer {
  public:
    using Reply = std::function<void(std::optional<T>)>;
    PageAnswer() = default;
    ~PageAnswer() { give(std::nullopt); }
    PageAnswer(const PageAnswer&) = delete;
    PageAnswer& operator=(const PageAnswer&) = delete;

    void setReply(Reply reply) {
        reply_ = std::move(reply);
        given_ = false;
    }
    // True when this call gave the answer (the first one after setReply()).
    bool give(std::optional<T> value) {
        if (given_) return false;
        given_ = true;
        auto reply = std::move(reply_);
        reply_ = nullptr;
        if (reply) reply(std::move(value));
        return true;
    }
    bool given() const { return given_; }

  private:
    Reply reply_;
    bool given_ = false;
};

// The localised text of a key: the application's strings table when it has the key,
// else our own English text, else the key itself.
QString text(const std::string& key);
// The English text we ship for a key (empty when we have none).
QString englishText(const std::string& key);

}  // namespace lumvane::ui
