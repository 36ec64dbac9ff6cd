#include <gtest/gtest.h>

#include <sqlite3.h>

#include <fstream>
#include <functional>
#include <thread>

#include "api/DB/MyPersistentContainer.hpp"
#include "platform/FileSystem.hpp"
#include "support/HomeWithLog.hpp"
#include "support/TestSupport.hpp"

using namespace qz;
using qz::testsupport::readFileBytes;

namespace {

std::unique_ptr<MyPersistentContainer> openStore() {
    auto c = std::make_unique<MyPersistentContainer>(
        "AnalyticsEvent", ManagedObjectModel::named("AnalyticsEvent").value());
    EXPECT_TRUE(c->loadPersistentStores());
    return c;
}

CachedEvent event(const std::string& type, const std::string& json, double at) {
    return CachedEvent{0, type, Data(json.begin(), json.end()), at};
}

}  // namespace

TEST(MyPersistentContainer, LivesInItsOwnFolderOfTheLibraryData) {
    ScopedHome home;
    MyPersistentContainer c("AnalyticsEvent", ManagedObjectModel::named("AnalyticsEvent").value());
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
        first = c->insertEvent(event("logScanStarted", R"({"a":1})", 100.5)).value();
        second = c->insertEvent(CachedEvent{0, "logScanFinished", binary, 101}).value();
        EXPECT_LT(first, second);
    }
    auto c = openStore();
    auto events = c->fetchEvents();
    ASSERT_TRUE(events);
    ASSERT_EQ(events->size(), 2u);
    EXPECT_EQ((*events)[0], (CachedEvent{first, "logScanStarted",
                                         Data{'{', '"', 'a', '"', ':', '1', '}'}, 100.5}));
    EXPECT_EQ((*events)[1].payload, binary);
    EXPECT_EQ(c->fetchEvents(1).value().size(), 1u);
    // A page after a given id.
    auto rest = c->fetchEvents(1000, first);
    ASSERT_TRUE(rest);
    ASSERT_EQ(rest->size(), 1u);
    EXPECT_EQ(rest->front().id, second);
    EXPECT_TRUE(c->fetchEvents(1000, second).value().empty());
    EXPECT_TRUE(c->deleteEvent(first).value());
    EXPECT_FALSE(c->deleteEvent(first).value());
    EXPECT_EQ(c->eventCount().value(), 1u);
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
    EXPECT_EQ(c->eventCount().value(), 100u);
}

TEST(MyPersistentContainer, ReplacesAFileThatIsNotADatabase) {
    ScopedHome home;
    MyPersistentContainer c("AnalyticsEvent", ManagedObjectModel::named("AnalyticsEvent").value());
    std::filesystem::create_directories(c.storeURL().parent_path());
    std::ofstream(c.storeURL()) << std::string(4096, 'x');
    ASSERT_TRUE(c.loadPersistentStores());
    EXPECT_TRUE(c.insertEvent(event("logScanStarted", "{}", 1)));
    auto aside = c.storeURL();
    aside += ".corrupt";
    EXPECT_TRUE(std::filesystem::exists(aside));
}

namespace {

// Runs `sql` on the store file through a connection of its own.
void runSql(const std::filesystem::path& file, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK)
        << (error ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
}

std::filesystem::path aside(const MyPersistentContainer& c, const std::string& suffix) {
    auto p = c.storeURL();
    p += suffix;
    return p;
}

}  // namespace

// Each damaged store is kept aside, once, and events are stored again in a fresh one.
TEST(MyPersistentContainer, ADamagedStoreIsMovedAsideAndEventsAreKeptAgain) {
    using Damage = std::function<void(const std::filesystem::path&)>;
    const std::pair<const char*, Damage> cases[] = {
        {"damaged page",
         [](const std::filesystem::path& file) {
             // Pages past the first (the schema) overwritten.
             std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
             f.seekp(4096 + 100);
             const std::string junk(4096 * 2, '\x5A');
             f.write(junk.data(), static_cast<std::streamsize>(junk.size()));
         }},
        {"table of another layout",
         [](const std::filesystem::path& file) {
             runSql(file,
                    "DROP TABLE AnalyticsEvent; CREATE TABLE AnalyticsEvent (id INTEGER PRIMARY "
                    "KEY, eventType TEXT NOT NULL, payload BLOB);");
         }},
        {"unreadable schema",
         [](const std::filesystem::path& file) {
             runSql(file,
                    "PRAGMA writable_schema=ON; UPDATE sqlite_master SET sql = 'CREATE TABLE "
                    "AnalyticsEvent (' WHERE name = 'AnalyticsEvent';");
         }},
    };
    for (const auto& [what, damage] : cases) {
        SCOPED_TRACE(what);
        testsupport::HomeWithLog home;
        {
            auto c = openStore();
            for (int i = 0; i < 200; ++i)
                ASSERT_TRUE(c->insertEvent(event("logScanStarted", std::string(100, 'p'), i)));
        }
        MyPersistentContainer c("AnalyticsEvent",
                                ManagedObjectModel::named("AnalyticsEvent").value());
        runSql(c.storeURL(), "PRAGMA wal_checkpoint(TRUNCATE); PRAGMA journal_mode=DELETE;");
        damage(c.storeURL());
        const Data damaged = readFileBytes(c.storeURL());
        ASSERT_TRUE(c.loadPersistentStores());
        EXPECT_EQ(readFileBytes(aside(c, ".corrupt")), damaged) << "kept as it was";
        EXPECT_EQ(c.eventCount().value(), 0u);
        EXPECT_TRUE(c.insertEvent(event("logScanFinished", "{}", 1)));
        EXPECT_EQ(c.eventCount().value(), 1u);
    }
}

TEST(MyPersistentContainer, AFailedInsertMovesTheStoreAsideOnceAndKeepsTheEvent) {
    ScopedHome home;
    auto c = openStore();
    const int64_t first = c->insertEvent(event("logScanStarted", "1", 1)).value();
    auto resend = c->fetchEvents();  // being re-sent while the store breaks
    ASSERT_TRUE(resend);
    ASSERT_EQ(resend->size(), 1u);
    runSql(c->storeURL(), "DROP TABLE AnalyticsEvent;");
    auto id = c->insertEvent(event("logScanFinished", "2", 2));
    ASSERT_TRUE(id);
    EXPECT_GT(*id, first) << "an id being re-sent is never handed out again";
    EXPECT_FALSE(c->deleteEvent(first).value());
    EXPECT_EQ(c->eventCount().value(), 1u);
    EXPECT_TRUE(std::filesystem::exists(aside(*c, ".corrupt")));
    // A second damage keeps the first copy too.
    runSql(c->storeURL(), "DROP TABLE AnalyticsEvent;");
    EXPECT_TRUE(c->insertEvent(event("logScanFinished", "3", 3)));
    EXPECT_TRUE(std::filesystem::exists(aside(*c, ".corrupt-2")));
    EXPECT_EQ(c->eventCount().value(), 1u);
}
