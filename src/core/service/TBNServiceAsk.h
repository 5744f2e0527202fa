#pragma once
// How the application service asks the user one question: shown on the main loop, the
// answer comes through a reply of its own, the asker waits on the service's clock. Only
// the service's own sources include this.
#include <condition_variable>
#include <mutex>
#include <optional>

#include "core/service/TBNService.h"
#include "runtime/log/TBNLogger.h"

namespace lumvane {

template <class T>
struct TBNService::Question {
    std::mutex mutex;
    std::condition_variable cv;
    bool answered = false;
    bool closed = false;  // the asker stopped waiting; later answers are dropped
    std::optional<T> answer;

    void reply(std::optional<T> value) {
        std::lock_guard<std::mutex> lock(mutex);
        if (answered || closed) return;
        answered = true;
        answer = std::move(value);
        cv.notify_all();
    }
};

template <class T, class Show>
std::optional<T> TBNService::ask(const char* name, double timeout, Show show) {
    if (mainLoop_->isMainThread()) {
        // The page would be shown on this very thread, which is about to block.
        TBN_LOG_ERROR("ui|service", "question '{}' asked on the main thread: answered as cancelled",
                      name);
        return std::nullopt;
    }
    auto question = std::make_shared<Question<T>>();
    uint64_t id = 0;
    {
        std::lock_guard<std::mutex> lock(questionsMutex_);
        if (questionsClosed_) return std::nullopt;
        id = ++lastQuestionId_;
        pendingQuestions_[id] = [question] { question->reply(std::nullopt); };
    }
    TBN_LOG_DEBUG("ui|service", "question '{}' #{} shown", name, id);
    std::weak_ptr<TBNService> weakSelf = weak_from_this();
    onMain([weakSelf, question, show] {
        auto self = weakSelf.lock();
        auto ui = self ? self->uiService() : nullptr;
        auto reply = [question](std::optional<T> value) { question->reply(std::move(value)); };
        if (ui) {
            show(*ui, std::move(reply));
        } else {
            reply(std::nullopt);
        }
    });
    std::optional<T> result;
    {
        std::unique_lock<std::mutex> lock(question->mutex);
        clock_->waitUntil(lock, question->cv, clock_->deadlineAfter(timeout),
                          [&] { return question->answered; });
        question->closed = true;
        if (question->answered) result = question->answer;
    }
    {
        std::lock_guard<std::mutex> lock(questionsMutex_);
        pendingQuestions_.erase(id);
    }
    TBN_LOG_DEBUG("ui|service", "question '{}' #{} {}", name, id,
                  result ? "answered" : "cancelled or timed out");
    return result;
}

}  // namespace lumvane
