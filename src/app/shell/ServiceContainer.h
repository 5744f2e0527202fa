#pragma once
// A small dependency-injection container: registrations keyed by interface type and an
// optional name, each with a factory and a scope; resolution looks at the container's
// own registrations first and then at its parent's, and yields nothing when none matches.
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <typeindex>
#include <utility>

namespace lumvane {

enum class ServiceScope {
    resolution,  // every resolution builds a new instance
    container,   // the first resolution builds it; the container keeps it for its life
};

class ServiceContainer {
  public:
    // The parent is held weakly: children are kept alive by their parent's factories, and
    // a strong link back would make a cycle.
    static std::shared_ptr<ServiceContainer> create(
        const std::shared_ptr<ServiceContainer>& parent = nullptr,
        ServiceScope defaultScope = ServiceScope::resolution);

    // Stores the factory; nothing runs now. A second registration of the same interface
    // and name replaces the first.
    template <typename T>
    void registerService(std::function<std::shared_ptr<T>()> factory,
                         std::optional<std::string> name = std::nullopt,
                         std::optional<ServiceScope> scope = std::nullopt) {
        auto registration = std::make_shared<Registration>();
        registration->scope = scope.value_or(defaultScope_);
        registration->factory = [factory = std::move(factory)]() -> std::shared_ptr<void> {
            return factory();
        };
        store(Key{std::type_index(typeid(T)), std::move(name)}, std::move(registration));
    }

    template <typename T>
    std::shared_ptr<T> resolve(const std::optional<std::string>& name = std::nullopt) const {
        return std::static_pointer_cast<T>(resolveErased(Key{std::type_index(typeid(T)), name}));
    }

    size_t registrationCount() const;
    std::shared_ptr<ServiceContainer> parent() const { return parent_.lock(); }

  private:
    struct Key {
        std::type_index type;
        std::optional<std::string> name;
        bool operator<(const Key& other) const {
            return std::tie(type, name) < std::tie(other.type, other.name);
        }
    };
    struct Registration {
        ServiceScope scope = ServiceScope::resolution;
        std::function<std::shared_ptr<void>()> factory;
        std::mutex instanceMutex;
        std::shared_ptr<void> instance;
    };

    ServiceContainer(const std::shared_ptr<ServiceContainer>& parent, ServiceScope defaultScope)
        : parent_(parent), defaultScope_(defaultScope) {}
    void store(Key key, std::shared_ptr<Registration> registration);
    std::shared_ptr<void> resolveErased(const Key& key) const;

    std::weak_ptr<ServiceContainer> parent_;
    ServiceScope defaultScope_;
    mutable std::mutex mutex_;
    std::map<Key, std::shared_ptr<Registration>> registrations_;
};

}  // namespace lumvane
