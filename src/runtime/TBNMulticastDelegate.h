#pragma once
// Tells several delegates of one kind about an event without keeping any of them alive.
// Not thread-safe: the owner serialises every call on one instance. The action of
// invoke() may add and remove delegates; the walk covers the list as it was when the
// call began.
#include <algorithm>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

namespace lumvane {

// One weak reference. Two boxes are equal when they refer to the same object, or when
// both read as empty.
template <class T>
class TBNWeak {
  public:
    TBNWeak() = default;
    explicit TBNWeak(const std::shared_ptr<T>& value) : value_(value) {}

    std::shared_ptr<T> value() const { return value_.lock(); }

    friend bool operator==(const TBNWeak& a, const TBNWeak& b) {
        return a.value().get() == b.value().get();
    }

  private:
    std::weak_ptr<T> value_;
};

template <class T>
class TBNMulticastDelegate {
  public:
    using Action = std::function<void(const std::shared_ptr<T>&)>;

    virtual ~TBNMulticastDelegate() = default;

    // Appends the delegate, also when it is in the list already. Only objects can be
    // delegates: a null one is refused.
    virtual void add(const std::shared_ptr<T>& delegate) {
        if (!delegate) throw std::invalid_argument("MulticastDelegate needs an object delegate");
        delegates_.push_back(std::make_shared<TBNWeak<T>>(delegate));
    }

    // Removes the first entry of this very object; other entries of it stay.
    virtual void remove(const std::shared_ptr<T>& delegate) {
        if (!delegate) return;
        const TBNWeak<T> probe(delegate);
        auto it = std::find_if(delegates_.begin(), delegates_.end(),
                               [&](const auto& box) { return *box == probe; });
        if (it != delegates_.end()) delegates_.erase(it);
    }

    // Calls the action for every living delegate, in order, and drops the entries of
    // delegates that have gone.
    virtual void invoke(const Action& action) {
        const auto snapshot = delegates_;
        for (const auto& box : snapshot) {
            if (auto delegate = box->value()) {
                action(delegate);
            } else {
                auto it = std::find(delegates_.begin(), delegates_.end(), box);
                if (it != delegates_.end()) delegates_.erase(it);
            }
        }
    }

    const std::vector<std::shared_ptr<TBNWeak<T>>>& delegates() const { return delegates_; }

  private:
    std::vector<std::shared_ptr<TBNWeak<T>>> delegates_;
};

}  // namespace lumvane
