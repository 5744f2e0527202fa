#pragma once
// Answers service-layer requests from a script, on a thread of its own (as the real
// client does), and records every request.
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "app/shell/ServiceHTTPClient.h"

namespace lumvane::test {

class FakeServiceHTTPClient : public ServiceHTTPClient {
  public:
    ~FakeServiceHTTPClient() override { join(); }

    // Queued results, used in order; when none is left, requests fail with "offline".
    void answer(int status, std::string body) {
        std::lock_guard lock(mutex_);
        results_.push_back(ServiceHTTPResult{ServiceHTTPResponse{status, std::move(body)}, {}});
    }
    void fail(std::string error) {
        std::lock_guard lock(mutex_);
        results_.push_back(ServiceHTTPResult{{}, std::move(error)});
    }

    void start(ServiceHTTPRequest request, Completion completion) override {
        ServiceHTTPResult result{{}, std::string("offline")};
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(request);
            if (!results_.empty()) {
                result = std::move(results_.front());
                results_.pop_front();
            }
            threads_.emplace_back([result = std::move(result), completion = std::move(completion)] {
                completion(result);
            });
        }
    }

    std::vector<ServiceHTTPRequest> requests() {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    // Waits for every completion started so far.
    void join() {
        std::vector<std::thread> threads;
        {
            std::lock_guard lock(mutex_);
            threads.swap(threads_);
        }
        for (auto& t : threads) t.join();
    }

  private:
    std::mutex mutex_;
    std::deque<ServiceHTTPResult> results_;
    std::vector<ServiceHTTPRequest> requests_;
    std::vector<std::thread> threads_;
};

}  // namespace lumvane::test
