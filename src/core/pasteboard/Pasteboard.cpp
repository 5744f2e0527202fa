#include "core/pasteboard/Pasteboard.h"

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
    std::lock_guard<std::mutex> g(stateMutex_);
    if (generation != generation_ || !string_) return;
    auto current = pasteboard_->string();
    if (current && *current == *string_) pasteboard_->setString("");
    string_.reset();
    timer_ = 0;
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
