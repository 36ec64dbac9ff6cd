#pragma once

#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "api/DB/CachedEvent.hpp"
#include "api/DB/ManagedObjectModel.hpp"
#include "platform/Result.hpp"

struct sqlite3;

namespace qz {

// The error of a store operation: the SQLite result code and message.
struct StoreError {
    int code = 0;
    std::string message;

    std::string description() const { return message + " (" + std::to_string(code) + ")"; }
};

// A SQLite store in a directory of its own under the library's data folder:
// <application support>/<name>/<name>.sqlite. Thread-safe; every write is committed
// before the call returns, so nothing stored is lost across a restart.
//
// A damaged store (a file that is not a database, a failed integrity check, a table
// whose columns are not the model's, an unreadable schema) is moved aside, kept as
// "<name>.sqlite.corrupt" (then "-2", "-3", ...), and a fresh store is made in its
// place, once per load and once per failed insert. Errors of the moment (busy, disk
// full, I/O, permissions) leave the file where it is.
class MyPersistentContainer {
  public:
    MyPersistentContainer(std::string name, ManagedObjectModel managedObjectModel);
    ~MyPersistentContainer();
    MyPersistentContainer(const MyPersistentContainer&) = delete;
    MyPersistentContainer& operator=(const MyPersistentContainer&) = delete;

    // The library's data folder (Paths::applicationSupportDirectory()).
    static std::filesystem::path defaultDirectoryURL();

    const std::string& name() const { return name_; }
    const ManagedObjectModel& managedObjectModel() const { return model_; }
    // <defaultDirectoryURL>/<name>/<name>.sqlite, fixed at construction.
    const std::filesystem::path& storeURL() const { return storeURL_; }

    // Opens (creating when needed) the store and its tables and checks them; a damaged
    // store is moved aside and a fresh one made.
    Result<void, StoreError> loadPersistentStores();
    void loadPersistentStores(const std::function<void(std::optional<StoreError>)>& completion);
    bool isLoaded() const;

    // The cached analytics events (entity "AnalyticsEvent"). Operations on a store that
    // is not loaded fail.
    // A damaged store is moved aside and the event stored in a fresh one.
    Result<int64_t, StoreError> insertEvent(const CachedEvent& event);
    // Oldest first; at most `limit` events, those with an id above `afterId`.
    Result<std::vector<CachedEvent>, StoreError> fetchEvents(size_t limit = 1000,
                                                             int64_t afterId = 0) const;
    // True when an event with that id was deleted.
    Result<bool, StoreError> deleteEvent(int64_t id);
    Result<size_t, StoreError> eventCount() const;

  private:
    // Opens and checks the store; mutex_ held.
    Result<void, StoreError> open();
    Result<void, StoreError> check();
    // Moves the damaged store aside and opens a fresh one; mutex_ held.
    Result<void, StoreError> replaceDamaged(const StoreError& why);
    Result<int64_t, StoreError> insertLocked(const CachedEvent& event);
    void close();

    std::string name_;
    ManagedObjectModel model_;
    std::filesystem::path storeURL_;
    mutable std::mutex mutex_;
    sqlite3* db_ = nullptr;
    // The highest event id handed out, so that a fresh store never reuses one.
    mutable int64_t highestId_ = 0;
};

}  // namespace qz
