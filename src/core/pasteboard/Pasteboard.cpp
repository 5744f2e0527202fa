#include "core/pasteboard/Pasteboard.h"

#include <chrono>
#include <condition_variable>

#include "runtime/log/TBNLogger.h"
#include "settings/TBNSettings.h"

namespace lumvane {

namespace {
std::mutex gGeneralMutex;
std::shared_ptr<Pasteboard> gGeneral;
}  // namespace

std::shared_ptr<Pasteboard> Pasteboard::general() {
    std::lock_guard<std::mutex> g(gGeneralMutex);
    if (!gGeneral) gGeneral = std::make_shared<MemoryPasteboard>();
    return gGeneral;
}

void Pasteboard::setGeneral(std::shared_ptr<Pasteboard> pasteboard) {
    std::lock_guard<std::mutex> g(gGeneralMutex);
    gGeneral = std::move(pasteboard);
}

bool MemoryPasteboard::setString(const std::string& text) {
    std::lock_guard<std::mutex> g(mutex_);
    if (refuse_) return false;
    text_ = text;
    return true;
}

std::optional<std::string> MemoryPasteboard::string() const {
    std::lock_guard<std::mutex> g(mutex_);
    return text_;
}

void MemoryPasteboard::setRefuseWrites(bool refuse) {
    std::lock_guard<std::mutex> g(mutex_);
    refuse_ = refuse;
}

std::shared_ptr<TBNPasteboard> TBNPasteboard::generalPasteboard() {
    static std::shared_ptr<TBNPasteboard> shared = create(Pasteboard::general(), MainLoop::main());
    return shared;
}

std::shared_ptr<TBNPasteboard> TBNPasteboard::create(std::shared_ptr<Pasteboard> pasteboard,
                                                     std::shared_ptr<MainLoop> loop) {
    return std::make_shared<TBNPasteboard>(std::move(pasteboard), std::move(loop));
}

TBNPasteboard::TBNPasteboard(std::shared_ptr<Pasteboard> pasteboard, std::shared_ptr<MainLoop> loop)
    : pasteboard_(std::move(pasteboard)), loop_(loop ? std::move(loop) : MainLoop::main()) {}

bool TBNPasteboard::setStringToPasteboard(const std::string& text) {
    return pasteboard_ && pasteboard_->setString(text);
}

bool TBNPasteboard::setString(const std::string& text, double interval) {
    if (!pasteboard_ || !pasteboard_->belongsToMainThread() || loop_->isMainThread()) {
        return copy(text, interval);
    }
    // The clipboard is the main thread's: the copy runs there, in the order of the main
    // loop, while this thread waits without holding anything the main thread could want.
    struct Call {
        std::mutex mutex;
        std::condition_variable done;
        bool started = false;
        bool abandoned = false;
        bool finished = false;
        bool result = false;
    };
    auto call = std::make_shared<Call>();
    std::weak_ptr<TBNPasteboard> weak = weak_from_this();
    loop_->post([weak, call, text, interval] {
        {
            std::lock_guard<std::mutex> g(call->mutex);
            if (call->abandoned) return;
            call->started = true;
        }
        bool result = false;
        if (auto self = weak.lock()) result = self->copy(text, interval);
        std::lock_guard<std::mutex> g(call->mutex);
        call->result = result;
        call->finished = true;
        call->done.notify_all();
    });
    std::unique_lock<std::mutex> lock(call->mutex);
    const auto giveUp =
        std::chrono::steady_clock::now() +
        std::chrono::milliseconds(static_cast<int64_t>(kMainThreadWaitSeconds * 1000));
    if (!call->done.wait_until(lock, giveUp, [&] { return call->finished || call->started; })) {
        // The main loop does not run (the program is ending): nothing is written later.
        call->abandoned = true;
        TBN_LOG_WARN("core|pasteboard", "the main loop did not take the copy; dropped");
        return false;
    }
    call->done.wait(lock, [&] { return call->finished; });
    return call->result;
}

bool TBNPasteboard::copy(const std::string& text, double interval) {
    std::lock_guard<std::mutex> call(callMutex_);
    {
        // Cancel first: a stale expiry then sees a new generation and leaves the
        // clipboard alone, even when it was already on its way.
        std::lock_guard<std::mutex> g(stateMutex_);
        if (timer_) loop_->cancel(timer_);
        timer_ = 0;
        string_.reset();
        ++generation_;
    }
    if (!setStringToPasteboard(text)) return false;
    if (interval > 0) {
        std::lock_guard<std::mutex> g(stateMutex_);
        string_ = text;
        uint64_t generation = ++generation_;
        std::weak_ptr<TBNPasteboard> weak = weak_from_this();
        timer_ = loop_->postAfter(interval, [weak, generation] {
            if (auto self = weak.lock()) self->timerRunner(generation);
        });
    }
    return true;
}

void TBNPasteboard::timerRunner(uint64_t generation) {
    // Serialised with the copies, not under the state lock: reading and writing the
    // clipboard may mean a wait for the thread it lives on.
    std::lock_guard<std::mutex> call(callMutex_);
    std::optional<std::string> remembered;
    {
        std::lock_guard<std::mutex> g(stateMutex_);
        if (generation != generation_ || !string_) return;
        remembered = string_;
        string_.reset();
        timer_ = 0;
    }
    auto current = pasteboard_->string();
    if (current && *current == *remembered) pasteboard_->setString("");
}

std::optional<std::string> TBNPasteboard::string() const {
    std::lock_guard<std::mutex> g(stateMutex_);
    return string_;
}

bool TBNPasteboard::expiryPending() const {
    std::lock_guard<std::mutex> g(stateMutex_);
    return timer_ != 0;
}

bool TBNOSXFeatureManager::yubikey() {
    return yubikey(TBNSettings::sharedSettings());
}

bool TBNOSXFeatureManager::yubikey(TBNSettings& settings) {
    return settings.osxExtendedMode() && settings.supportYubiKey();
}

}  // namespace lumvane
