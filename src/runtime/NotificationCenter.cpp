#include "runtime/NotificationCenter.h"

#include <algorithm>
#include <thread>

namespace lumvane {

struct NotificationCenter::Entry {
    ObserverId id;
    std::string name;
    const void* sender;
    Callback callback;
    bool removed = false;
    std::vector<std::thread::id> callers;  // threads inside the callback now
};

NotificationCenter& NotificationCenter::defaultCenter() {
    // Never destroyed: detached threads may still post while the process exits.
    static auto* center = new NotificationCenter();
    return *center;
}

NotificationCenter::NotificationCenter() = default;
NotificationCenter::~NotificationCenter() = default;

NotificationCenter::ObserverId NotificationCenter::addObserver(std::string name, Callback callback,
                                                               const void* sender) {
    std::lock_guard<std::mutex> g(mutex_);
    auto entry = std::make_shared<Entry>();
    entry->id = ++lastId_;
    entry->name = std::move(name);
    entry->sender = sender;
    entry->callback = std::move(callback);
    entries_.push_back(entry);
    return entry->id;
}

void NotificationCenter::removeObserver(ObserverId id) {
    std::unique_lock<std::mutex> lk(mutex_);
    auto it =
        std::find_if(entries_.begin(), entries_.end(), [&](const auto& e) { return e->id == id; });
    if (it == entries_.end()) return;
    auto entry = *it;
    entries_.erase(it);
    entry->removed = true;
    const auto self = std::this_thread::get_id();
    idle_.wait(lk, [&] {
        return std::all_of(entry->callers.begin(), entry->callers.end(),
                           [&](const auto& t) { return t == self; });
    });
}

void NotificationCenter::postNotification(const std::string& name, const void* object,
                                          std::any userInfo) {
    const Notification note{name, object, std::move(userInfo)};
    std::vector<std::shared_ptr<Entry>> matching;
    {
        std::lock_guard<std::mutex> g(mutex_);
        for (const auto& e : entries_) {
            if ((e->name.empty() || e->name == name) && (!e->sender || e->sender == object)) {
                matching.push_back(e);
            }
        }
    }
    const auto self = std::this_thread::get_id();
    for (const auto& e : matching) {
        {
            std::lock_guard<std::mutex> g(mutex_);
            if (e->removed) continue;
            e->callers.push_back(self);
        }
        struct Leave {
            NotificationCenter* c;
            Entry* e;
            std::thread::id self;
            ~Leave() {
                std::lock_guard<std::mutex> g(c->mutex_);
                e->callers.erase(std::find(e->callers.begin(), e->callers.end(), self));
                c->idle_.notify_all();
            }
        } leave{this, e.get(), self};
        e->callback(note);
    }
}

}  // namespace lumvane
