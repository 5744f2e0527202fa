#include "app/shell/ServiceContainer.h"

namespace lumvane {

std::shared_ptr<ServiceContainer> ServiceContainer::create(
    const std::shared_ptr<ServiceContainer>& parent, ServiceScope defaultScope) {
    return std::shared_ptr<ServiceContainer>(new ServiceContainer(parent, defaultScope));
}

void ServiceContainer::store(Key key, std::shared_ptr<Registration> registration) {
    std::lock_guard lock(mutex_);
    registrations_[std::move(key)] = std::move(registration);
}

size_t ServiceContainer::registrationCount() const {
    std::lock_guard lock(mutex_);
    return registrations_.size();
}

std::shared_ptr<void> ServiceContainer::resolveErased(const Key& key) const {
    std::shared_ptr<Registration> registration;
    {
        std::lock_guard lock(mutex_);
        auto it = registrations_.find(key);
        if (it != registrations_.end()) registration = it->second;
    }
    // The container's lock is not held while a factory runs: factories resolve from this
    // container and others, and the fall-back to the parent takes the parent's lock.
    if (!registration) {
        auto parent = parent_.lock();
        return parent ? parent->resolveErased(key) : nullptr;
    }
    if (registration->scope == ServiceScope::resolution) return registration->factory();
    std::lock_guard lock(registration->instanceMutex);
    if (!registration->instance) registration->instance = registration->factory();
    return registration->instance;
}

}  // namespace lumvane
