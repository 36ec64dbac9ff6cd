// The analytics store as the library finds it on disk: the input as the store's file, loaded
// (checked, and moved aside when damaged), then every operation on it.

#include <filesystem>
#include <fstream>

#include "FuzzTarget.hpp"
#include "api/DB/MyPersistentContainer.hpp"

using namespace qz;

QZ_FUZZ_TARGET(analytics_store) {
    MyPersistentContainer store("AnalyticsEvent", *ManagedObjectModel::named("AnalyticsEvent"));
    const auto folder = store.storeURL().parent_path();
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    std::filesystem::create_directories(folder, ec);
    {
        std::ofstream out(store.storeURL(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    if (!store.loadPersistentStores()) return;
    const std::string payload = R"({"eventType":"logScanStarted"})";
    (void)store.insertEvent(
        CachedEvent{0, "logScanStarted", Data(payload.begin(), payload.end()), 1.0});
    if (auto events = store.fetchEvents(50)) {
        for (const auto& e : *events) (void)store.deleteEvent(e.id);
    }
    (void)store.eventCount();
}
