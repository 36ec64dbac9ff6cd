// The URL session and the cached-event store, each beside a plain baseline measured
// in the same run: a reused blocking libcurl handle, and bare SQLite inserts.

#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <httplib.h>
#include <sqlite3.h>

#include <chrono>
#include <future>
#include <thread>

#include "api/DB/MyPersistentContainer.hpp"
#include "platform/FileSystem.hpp"
#include "platform/web/URLSession.hpp"

using namespace qz;

namespace {

using Clock = std::chrono::steady_clock;

template <class F>
double secondsPer(int count, F&& fn) {
    auto start = Clock::now();
    for (int i = 0; i < count; ++i) fn();
    return std::chrono::duration<double>(Clock::now() - start).count() / count;
}

size_t discard(char*, size_t size, size_t count, void*) {
    return size * count;
}

double plainCurlSecondsPerGet(const std::string& url) {
    CURL* h = curl_easy_init();
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &discard);
    curl_easy_setopt(h, CURLOPT_NOPROXY, "*");
    double s = secondsPer(200, [&] { curl_easy_perform(h); });
    curl_easy_cleanup(h);
    return s;
}

void BM_URLSessionGet(benchmark::State& state) {
    httplib::Server server;
    server.Get("/ping", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(std::string(1024, 'x'), "text/plain");
    });
    int port = server.bind_to_any_port("127.0.0.1");
    std::thread serving([&] { server.listen_after_bind(); });
    while (!server.is_running()) std::this_thread::yield();
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/ping";

    const double baseline = plainCurlSecondsPerGet(url);
    auto session = URLSession::create();
    auto start = Clock::now();
    for (auto _ : state) {
        std::promise<void> done;
        session
            ->dataTask(URLRequest(url),
                       [&](auto r) {
                           benchmark::DoNotOptimize(r);
                           done.set_value();
                       })
            ->resume();
        done.get_future().wait();
    }
    const double perGet = std::chrono::duration<double>(Clock::now() - start).count() /
                          static_cast<double>(state.iterations());
    state.counters["plain_curl_us"] = baseline * 1e6;
    state.counters["session_us"] = perGet * 1e6;
    state.counters["ratio_vs_plain_curl"] = perGet / baseline;
    session.reset();
    server.stop();
    serving.join();
}
BENCHMARK(BM_URLSessionGet)->Unit(benchmark::kMicrosecond);

double plainSqliteSecondsPerInsert(const std::filesystem::path& file, const Data& payload) {
    sqlite3* db = nullptr;
    sqlite3_open(file.c_str(), &db);
    sqlite3_exec(db,
                 "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; CREATE TABLE e (id INTEGER "
                 "PRIMARY KEY AUTOINCREMENT, t TEXT, p BLOB, c REAL);",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO e (t, p, c) VALUES (?, ?, ?)", -1, &stmt, nullptr);
    double s = secondsPer(200, [&] {
        sqlite3_bind_text(stmt, 1, "logScanStarted", -1, SQLITE_STATIC);
        sqlite3_bind_blob(stmt, 2, payload.data(), static_cast<int>(payload.size()), SQLITE_STATIC);
        sqlite3_bind_double(stmt, 3, 1.0);
        sqlite3_step(stmt);
        sqlite3_reset(stmt);
    });
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return s;
}

void BM_CacheEvent(benchmark::State& state) {
    ScopedHome home;
    Data payload(600, '{');
    const double baseline = plainSqliteSecondsPerInsert(home.path() / "plain.sqlite", payload);
    MyPersistentContainer store("AnalyticsEvent", *ManagedObjectModel::named("AnalyticsEvent"));
    store.loadPersistentStores();
    auto start = Clock::now();
    for (auto _ : state)
        benchmark::DoNotOptimize(store.insertEvent({0, "logScanStarted", payload, 1.0}));
    const double perInsert = std::chrono::duration<double>(Clock::now() - start).count() /
                             static_cast<double>(state.iterations());
    state.counters["plain_sqlite_us"] = baseline * 1e6;
    state.counters["store_us"] = perInsert * 1e6;
    state.counters["ratio_vs_plain_sqlite"] = perInsert / baseline;
}
BENCHMARK(BM_CacheEvent)->Unit(benchmark::kMicrosecond);

}  // namespace
