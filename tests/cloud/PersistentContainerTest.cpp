#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "api/DB/MyPersistentContainer.hpp"
#include "platform/FileSystem.hpp"

using namespace qz;

namespace {

std::unique_ptr<MyPersistentContainer> openStore() {
    auto c = std::make_unique<MyPersistentContainer>("AnalyticsEvent",
                                                     *ManagedObjectModel::named("AnalyticsEvent"));
    EXPECT_TRUE(c->loadPersistentStores());
    return c;
}

CachedEvent event(const std::string& type, const std::string& json, double at) {
    return CachedEvent{0, type, Data(json.begin(), json.end()), at};
}

}  // namespace

TEST(MyPersistentContainer, LivesInItsOwnFolderOfTheLibraryData) {
    ScopedHome home;
    MyPersistentContainer c("AnalyticsEvent", *ManagedObjectModel::named("AnalyticsEvent"));
    EXPECT_EQ(c.storeURL(),
              Paths::applicationSupportDirectory() / "AnalyticsEvent" / "AnalyticsEvent.sqlite");
    EXPECT_FALSE(c.isLoaded());
    EXPECT_FALSE(c.insertEvent(event("logScanStarted", "{}", 1)));
    ASSERT_TRUE(c.loadPersistentStores());
    EXPECT_TRUE(std::filesystem::exists(c.storeURL()));
    EXPECT_FALSE(ManagedObjectModel::named("Other"));
}

TEST(MyPersistentContainer, KeepsEventsAcrossARestartUntilDeleted) {
    ScopedHome home;
    Data binary = {'{', 0, 0xff, '}'};
    int64_t first, second;
    {
        auto c = openStore();
        first = *c->insertEvent(event("logScanStarted", R"({"a":1})", 100.5));
        second = *c->insertEvent(CachedEvent{0, "logScanFinished", binary, 101});
        EXPECT_LT(first, second);
    }
    auto c = openStore();
    auto events = c->fetchEvents();
    ASSERT_TRUE(events);
    ASSERT_EQ(events->size(), 2u);
    EXPECT_EQ((*events)[0], (CachedEvent{first, "logScanStarted",
                                         Data{'{', '"', 'a', '"', ':', '1', '}'}, 100.5}));
    EXPECT_EQ((*events)[1].payload, binary);
    EXPECT_EQ(c->fetchEvents(1)->size(), 1u);
    // A page after a given id.
    auto rest = c->fetchEvents(1000, first);
    ASSERT_TRUE(rest);
    ASSERT_EQ(rest->size(), 1u);
    EXPECT_EQ(rest->front().id, second);
    EXPECT_TRUE(c->fetchEvents(1000, second)->empty());
    EXPECT_TRUE(*c->deleteEvent(first));
    EXPECT_FALSE(*c->deleteEvent(first));
    EXPECT_EQ(*c->eventCount(), 1u);
}

TEST(MyPersistentContainer, ConcurrentWritersLoseNothing) {
    ScopedHome home;
    auto c = openStore();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i)
                EXPECT_TRUE(
                    c->insertEvent(event("logScanStarted", std::to_string(t * 100 + i), i)));
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(*c->eventCount(), 100u);
}

TEST(MyPersistentContainer, ReplacesAFileThatIsNotADatabase) {
    ScopedHome home;
    MyPersistentContainer c("AnalyticsEvent", *ManagedObjectModel::named("AnalyticsEvent"));
    std::filesystem::create_directories(c.storeURL().parent_path());
    std::ofstream(c.storeURL()) << std::string(4096, 'x');
    ASSERT_TRUE(c.loadPersistentStores());
    EXPECT_TRUE(c.insertEvent(event("logScanStarted", "{}", 1)));
    auto aside = c.storeURL();
    aside += ".corrupt";
    EXPECT_TRUE(std::filesystem::exists(aside));
}
