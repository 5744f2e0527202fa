#pragma once
// A box that holds one object weakly, so that a list can hold objects without keeping
// them alive. Reads and writes are safe from any thread.
#include <memory>
#include <mutex>

namespace lumvane {

template <class T = void>
class TBNWeakPointer {
  public:
    static std::shared_ptr<TBNWeakPointer> weakPointerForObject(const std::shared_ptr<T>& object) {
        auto box = std::make_shared<TBNWeakPointer>();
        box->setWeakObject(object);
        return box;
    }

    // The object, or null once it has been destroyed.
    std::shared_ptr<T> weakObject() const {
        std::lock_guard<std::mutex> g(mutex_);
        return object_.lock();
    }

    void setWeakObject(const std::shared_ptr<T>& object) {
        std::lock_guard<std::mutex> g(mutex_);
        object_ = object;
    }

  private:
    mutable std::mutex mutex_;
    std::weak_ptr<T> object_;
};

}  // namespace lumvane
