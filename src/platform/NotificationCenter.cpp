#include "platform/NotificationCenter.hpp"

#include <algorithm>
#include <atomic>

namespace qz {

struct NotificationCenter::Entry {
    ObserverToken token;
    std::string name;
    bool anyObject;
    const void* object;
    Observer fn;
    std::atomic<bool> active{true};
};

NotificationCenter& NotificationCenter::defaultCenter() {
    // Deliberately leaked: observers may post from threads still running at exit.
    static auto* center = new NotificationCenter;
    return *center;
}

NotificationCenter::NotificationCenter() = default;
NotificationCenter::~NotificationCenter() = default;

ObserverToken NotificationCenter::addObserver(const std::string& name, Observer fn) {
    return add(name, true, nullptr, std::move(fn));
}

ObserverToken NotificationCenter::addObserver(const std::string& name, const void* object,
                                              Observer fn) {
    return add(name, false, object, std::move(fn));
}

ObserverToken NotificationCenter::add(const std::string& name, bool anyObject, const void* object,
                                      Observer fn) {
    auto entry = std::make_shared<Entry>();
    entry->name = name;
    entry->anyObject = anyObject;
    entry->object = object;
    entry->fn = std::move(fn);
    std::lock_guard lock(mutex_);
    entry->token = nextToken_++;
    entries_.push_back(std::move(entry));
    return entries_.back()->token;
}

void NotificationCenter::removeObserver(ObserverToken token) {
    std::shared_ptr<Entry> removed;  // released outside the lock
    std::lock_guard lock(mutex_);
    auto it = std::find_if(entries_.begin(), entries_.end(),
                           [&](const auto& e) { return e->token == token; });
    if (it == entries_.end()) return;
    (*it)->active = false;
    removed = std::move(*it);
    entries_.erase(it);
}

void NotificationCenter::post(const std::string& name, const void* object, UserInfo userInfo) {
    post(Notification{name, object, std::move(userInfo)});
}

void NotificationCenter::post(const Notification& notification) {
    std::vector<std::shared_ptr<Entry>> matching;
    {
        std::lock_guard lock(mutex_);
        for (const auto& e : entries_)
            if (e->name == notification.name && (e->anyObject || e->object == notification.object))
                matching.push_back(e);
    }
    for (const auto& e : matching)
        if (e->active && e->fn) e->fn(notification);
}

}  // namespace qz
