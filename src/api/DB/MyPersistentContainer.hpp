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

    // Opens (creating when needed) the store and its tables. A file that is not a
    // database is moved aside as "<name>.sqlite.corrupt" and a new store is made.
    Result<void, StoreError> loadPersistentStores();
    void loadPersistentStores(const std::function<void(std::optional<StoreError>)>& completion);
    bool isLoaded() const;

    // The cached analytics events (entity "AnalyticsEvent"). Operations on a store that
    // is not loaded fail.
    Result<int64_t, StoreError> insertEvent(const CachedEvent& event);
    // Oldest first; at most `limit` events, those with an id above `afterId`.
    Result<std::vector<CachedEvent>, StoreError> fetchEvents(size_t limit = 1000,
                                                             int64_t afterId = 0) const;
    // True when an event with that id was deleted.
    Result<bool, StoreError> deleteEvent(int64_t id);
    Result<size_t, StoreError> eventCount() const;

  private:
    Result<void, StoreError> open();
    void close();

    std::string name_;
    ManagedObjectModel model_;
    std::filesystem::path storeURL_;
    mutable std::mutex mutex_;
    sqlite3* db_ = nullptr;
};

}  // namespace qz
