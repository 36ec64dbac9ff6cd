#pragma once

#include <any>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace qz {

// Extra values attached to a notification.
using UserInfo = std::map<std::string, std::any>;

struct Notification {
    std::string name;
    const void* object = nullptr;
    UserInfo userInfo;

    // The value under `key` when it is present and holds a T, else null.
    template <class T>
    const T* value(const std::string& key) const {
        auto it = userInfo.find(key);
        return it == userInfo.end() ? nullptr : std::any_cast<T>(&it->second);
    }
};

// Identifies one registration with a notification centre.
using ObserverToken = uint64_t;

// Broadcasts notifications to the observers registered for their name.
//
// `post` runs the observers synchronously on the posting thread, in registration
// order. Observers may post, add and remove observers from inside a post: an observer
// removed during a post is not called afterwards by that post, one added during a post
// is called only by later posts. No lock is held while an observer runs.
class NotificationCenter {
  public:
    using Observer = std::function<void(const Notification&)>;

    // The process-wide centre.
    static NotificationCenter& defaultCenter();

    NotificationCenter();
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    // Registers `fn` for notifications named `name` (from any object).
    ObserverToken addObserver(const std::string& name, Observer fn);
    // Registers `fn` for notifications named `name` posted with `object` only.
    ObserverToken addObserver(const std::string& name, const void* object, Observer fn);
    // Ends a registration (unknown tokens are ignored). A call of the observer already
    // running on another thread may still finish after this returns.
    void removeObserver(ObserverToken token);

    void post(const std::string& name, const void* object = nullptr, UserInfo userInfo = {});
    void post(const Notification& notification);

  private:
    struct Entry;
    // Registers `fn` for `name`, from any object or from `object` only.
    ObserverToken add(const std::string& name, bool anyObject, const void* object, Observer fn);
    std::mutex mutex_;
    std::vector<std::shared_ptr<Entry>> entries_;
    uint64_t nextToken_ = 1;
};

}  // namespace qz
