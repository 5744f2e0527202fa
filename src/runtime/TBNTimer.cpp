#include "runtime/TBNTimer.h"

#include <stdexcept>

#include "runtime/log/TBNLogger.h"

// Every step logs at debug level under "misc|timer": begin and end of each operation,
// the early ends with their reason, the interval and the callback's answer.
#define TIMER_TAGS "misc|timer"
#define TIMER_LOG_BEGIN() TBN_LOG_DEBUG_BEGIN(TIMER_TAGS)
#define TIMER_LOG_END() TBN_LOG_DEBUG_END(TIMER_TAGS)
#define TIMER_LOG_ALT_END(reason)        \
    TBN_LOG_WITH_TAG(TBN_LOG_FLAG_DEBUG, \
                     ::lumvane::TBNLogTag::methodAltEndTagWithTags(TIMER_TAGS), reason)
#define TIMER_LOG_TEXT_BEGIN(text)                                                                 \
    TBN_LOG_WITH_TAG(TBN_LOG_FLAG_DEBUG, ::lumvane::TBNLogTag::methodBeginTagWithTags(TIMER_TAGS), \
                     text)
#define TIMER_LOG_TEXT_END(text)                                                                 \
    TBN_LOG_WITH_TAG(TBN_LOG_FLAG_DEBUG, ::lumvane::TBNLogTag::methodEndTagWithTags(TIMER_TAGS), \
                     text)
#define TIMER_LOG_INTERVAL(interval) TBN_LOG_DEBUG_VALUE(TIMER_TAGS, interval)
#define TIMER_LOG_RET(ret) TBN_LOG_DEBUG_VALUE(TIMER_TAGS, ret)

namespace lumvane {

std::shared_ptr<TBNTimer> TBNTimer::timerWithInterval(double interval, Block block,
                                                      std::shared_ptr<MainLoop> loop) {
    return std::make_shared<TBNTimer>(Token{}, interval, nullptr, std::weak_ptr<void>(),
                                      std::move(block), nullptr, std::move(loop));
}

std::shared_ptr<TBNTimer> TBNTimer::timerWithInterval(double interval, std::weak_ptr<void> context,
                                                      BlockWithContext block,
                                                      std::shared_ptr<MainLoop> loop) {
    return std::make_shared<TBNTimer>(Token{}, interval, nullptr, std::move(context), nullptr,
                                      std::move(block), std::move(loop));
}

std::shared_ptr<TBNTimer> TBNTimer::timerWithInterval(double interval,
                                                      std::shared_ptr<DispatchQueue> queue,
                                                      Block block, std::shared_ptr<MainLoop> loop) {
    return std::make_shared<TBNTimer>(Token{}, interval, std::move(queue), std::weak_ptr<void>(),
                                      std::move(block), nullptr, std::move(loop));
}

std::shared_ptr<TBNTimer> TBNTimer::timerWithInterval(double interval,
                                                      std::shared_ptr<DispatchQueue> queue,
                                                      std::weak_ptr<void> context,
                                                      BlockWithContext block,
                                                      std::shared_ptr<MainLoop> loop) {
    return std::make_shared<TBNTimer>(Token{}, interval, std::move(queue), std::move(context),
                                      nullptr, std::move(block), std::move(loop));
}

TBNTimer::TBNTimer(Token, double interval, std::shared_ptr<DispatchQueue> queue,
                   std::weak_ptr<void> context, Block block, BlockWithContext blockWithContext,
                   std::shared_ptr<MainLoop> loop)
    : interval_(interval),
      dispatchQueue_(std::move(queue)),
      context_(std::move(context)),
      block_(std::move(block)),
      blockWithContext_(std::move(blockWithContext)),
      loop_(loop),
      followsMain_(!loop) {
    TIMER_LOG_BEGIN();
    TIMER_LOG_INTERVAL(interval);
    if (!block_ && !blockWithContext_) throw std::invalid_argument("timer without a callback");
    TIMER_LOG_END();
}

TBNTimer::~TBNTimer() = default;

void TBNTimer::run() {
    TIMER_LOG_BEGIN();
    std::lock_guard<std::recursive_mutex> g(lock_);
    if (running_) {
        TIMER_LOG_ALT_END("self.running");
        return;
    }
    running_ = true;
    resetTimer();
    TIMER_LOG_END();
}

void TBNTimer::reset() {
    TIMER_LOG_BEGIN();
    std::lock_guard<std::recursive_mutex> g(lock_);
    if (!running_) {
        TIMER_LOG_ALT_END("!self.running");
        return;
    }
    resetTimer();
    TIMER_LOG_END();
}

void TBNTimer::resetWithInterval(double interval) {
    TIMER_LOG_BEGIN();
    TIMER_LOG_INTERVAL(interval);
    {
        std::lock_guard<std::recursive_mutex> g(lock_);
        interval_ = interval;
    }
    reset();
    TIMER_LOG_END();
}

void TBNTimer::cancel() {
    TIMER_LOG_BEGIN();
    const auto self = shared_from_this();  // the pending pause may hold the last reference
    std::lock_guard<std::recursive_mutex> g(lock_);
    if (!running_) {
        TIMER_LOG_ALT_END("self.canceling || !self.running");
        return;
    }
    dropPause();
    ++generation_;
    ++cancels_;
    running_ = false;
    TIMER_LOG_END();
}

bool TBNTimer::running() const {
    std::lock_guard<std::recursive_mutex> g(lock_);
    return running_;
}

double TBNTimer::interval() const {
    std::lock_guard<std::recursive_mutex> g(lock_);
    return interval_;
}

void TBNTimer::setInterval(double interval) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    interval_ = interval;
}

std::shared_ptr<DispatchQueue> TBNTimer::dispatchQueue() const {
    std::lock_guard<std::recursive_mutex> g(lock_);
    return dispatchQueue_;
}

void TBNTimer::setDispatchQueue(std::shared_ptr<DispatchQueue> queue) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    dispatchQueue_ = std::move(queue);
}

std::shared_ptr<void> TBNTimer::context() const {
    std::lock_guard<std::recursive_mutex> g(lock_);
    return context_.lock();
}

void TBNTimer::setContext(std::weak_ptr<void> context) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    context_ = std::move(context);
}

std::shared_ptr<MainLoop> TBNTimer::loop() const {
    return followsMain_ ? MainLoop::main() : loop_.lock();
}

void TBNTimer::dropPause() {
    if (timer_) {
        if (auto loop = this->loop()) loop->cancel(timer_);
    }
    timer_ = 0;
}

void TBNTimer::resetTimer() {
    auto loop = this->loop();
    if (!loop) return;
    if (loop->isMainThread()) {
        armOnMainThread();
        return;
    }
    auto self = shared_from_this();
    loop->post([self] {
        TIMER_LOG_TEXT_BEGIN("main_async");
        self->armOnMainThread();
        TIMER_LOG_TEXT_END("main_async");
    });
}

void TBNTimer::armOnMainThread() {
    auto self = shared_from_this();  // the dropped pause may hold the last reference
    std::lock_guard<std::recursive_mutex> g(lock_);
    // A cancel that came before the main thread got here leaves nothing to arm.
    if (!running_) return;
    auto loop = this->loop();
    if (!loop) return;
    dropPause();
    const uint64_t generation = ++generation_;
    timer_ = loop->postAfter(interval_, [self, generation] { self->runner(generation); });
}

void TBNTimer::runner(uint64_t generation) {
    TIMER_LOG_BEGIN();
    uint64_t cancels;
    {
        std::lock_guard<std::recursive_mutex> g(lock_);
        if (!running_ || generation != generation_) {
            TIMER_LOG_ALT_END("!self.running");
            return;
        }
        timer_ = 0;
        cancels = cancels_;
    }
    const bool ret = runBlock();
    TIMER_LOG_RET(ret);
    std::lock_guard<std::recursive_mutex> g(lock_);
    if (cancels != cancels_) {
        // A cancel came while the callback ran (perhaps followed by run()): it decides.
        TIMER_LOG_ALT_END("!self.running");
        return;
    }
    if (ret) {
        // A reset() during the callback has armed the next pause already.
        if (generation == generation_) resetTimer();
        TIMER_LOG_ALT_END("nextRun");
        return;
    }
    dropPause();
    ++generation_;
    running_ = false;
    TIMER_LOG_END();
}

bool TBNTimer::runBlock() {
    std::shared_ptr<DispatchQueue> queue;
    {
        std::lock_guard<std::recursive_mutex> g(lock_);
        queue = dispatchQueue_;
    }
    auto call = [this] {
        if (block_) return block_();
        std::shared_ptr<void> context;
        {
            std::lock_guard<std::recursive_mutex> g(lock_);
            context = context_.lock();
        }
        return blockWithContext_(context);
    };
    if (queue && queue != DispatchQueue::main()) {
        bool ret = false;
        TIMER_LOG_TEXT_BEGIN("dispatchQueue_sync");
        queue->sync([&] { ret = call(); });
        TIMER_LOG_TEXT_END("dispatchQueue_sync");
        return ret;
    }
    return call();
}

}  // namespace lumvane
