// The URL session and the cached-event store, each beside a plain baseline measured in the
// same run: a reused blocking libcurl handle against the same local server, and bare SQLite
// inserts in the same journal and transaction mode. Both sides are warmed up first and take
// turns in batches of the same size.
//
// The local server must send its answer without waiting: cpp-httplib writes the headers and
// the body separately, and with Nagle's algorithm on its socket the body waits for the
// client's acknowledgement of the headers, which the client delays (about 27 ms a request on
// both sides). The server here sets TCP_NODELAY, so a request costs what the two clients do.

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

void BM_URLSessionGet(benchmark::State& state) {
    constexpr int kBatch = 20;
    httplib::Server server;
    server.set_tcp_nodelay(true);
    server.Get("/ping", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(std::string(1024, 'x'), "text/plain");
    });
    int port = server.bind_to_any_port("127.0.0.1");
    std::thread serving([&] { server.listen_after_bind(); });
    while (!server.is_running()) std::this_thread::yield();
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/ping";

    CURL* plain = curl_easy_init();
    curl_easy_setopt(plain, CURLOPT_URL, url.c_str());
    curl_easy_setopt(plain, CURLOPT_WRITEFUNCTION, &discard);
    curl_easy_setopt(plain, CURLOPT_NOPROXY, "*");
    auto session = URLSession::create();
    auto sessionGet = [&] {
        std::promise<void> done;
        session
            ->dataTask(URLRequest(url),
                       [&](auto r) {
                           benchmark::DoNotOptimize(r);
                           done.set_value();
                       })
            ->resume();
        done.get_future().wait();
    };
    for (int i = 0; i < kBatch; ++i) {  // both warm: connections open, handles set up
        curl_easy_perform(plain);
        sessionGet();
    }
    double plainSeconds = 0, sessionSeconds = 0;
    for (auto _ : state) {
        plainSeconds += secondsPer(kBatch, [&] { curl_easy_perform(plain); }) * kBatch;
        sessionSeconds += secondsPer(kBatch, sessionGet) * kBatch;
    }
    const double n = static_cast<double>(state.iterations()) * kBatch;
    state.counters["plain_curl_us"] = plainSeconds / n * 1e6;
    state.counters["session_us"] = sessionSeconds / n * 1e6;
    state.counters["own_us"] = (sessionSeconds - plainSeconds) / n * 1e6;
    state.counters["ratio_vs_plain_curl"] = sessionSeconds / plainSeconds;
    curl_easy_cleanup(plain);
    session.reset();
    server.stop();
    serving.join();
}
BENCHMARK(BM_URLSessionGet)->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_CacheEvent(benchmark::State& state) {
    constexpr int kBatch = 50;
    ScopedHome home;
    const Data payload(600, '{');
    // The plain store: the same journal mode, synchronisation and one transaction per insert.
    sqlite3* db = nullptr;
    sqlite3_open((home.path() / "plain.sqlite").c_str(), &db);
    sqlite3_exec(db,
                 "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; CREATE TABLE e (id INTEGER "
                 "PRIMARY KEY AUTOINCREMENT, t TEXT, p BLOB, c REAL);",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO e (t, p, c) VALUES (?, ?, ?)", -1, &stmt, nullptr);
    auto plainInsert = [&] {
        sqlite3_bind_text(stmt, 1, "logScanStarted", -1, SQLITE_STATIC);
        sqlite3_bind_blob(stmt, 2, payload.data(), static_cast<int>(payload.size()), SQLITE_STATIC);
        sqlite3_bind_double(stmt, 3, 1.0);
        sqlite3_step(stmt);
        sqlite3_reset(stmt);
    };
    MyPersistentContainer store("AnalyticsEvent", *ManagedObjectModel::named("AnalyticsEvent"));
    store.loadPersistentStores();
    auto storeInsert = [&] {
        benchmark::DoNotOptimize(store.insertEvent({0, "logScanStarted", payload, 1.0}));
    };
    for (int i = 0; i < kBatch; ++i) {  // both warm
        plainInsert();
        storeInsert();
    }
    double plainSeconds = 0, storeSeconds = 0;
    for (auto _ : state) {
        plainSeconds += secondsPer(kBatch, plainInsert) * kBatch;
        storeSeconds += secondsPer(kBatch, storeInsert) * kBatch;
    }
    const double n = static_cast<double>(state.iterations()) * kBatch;
    state.counters["plain_sqlite_us"] = plainSeconds / n * 1e6;
    state.counters["store_us"] = storeSeconds / n * 1e6;
    state.counters["ratio_vs_plain_sqlite"] = storeSeconds / plainSeconds;
    sqlite3_finalize(stmt);
    sqlite3_close(db);
}
BENCHMARK(BM_CacheEvent)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace
