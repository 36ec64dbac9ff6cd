#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <set>

#include "LoopbackServer.hpp"
#include "platform/web/URLSession.hpp"

using namespace qz;
using qz::test::Gate;
using qz::test::LoopbackServer;
using qz::test::ready;

namespace {

using Outcome = Result<URLResponse, URLError>;

Outcome perform(const std::shared_ptr<URLSession>& session, URLRequest request) {
    auto promise = std::make_shared<std::promise<Outcome>>();
    auto future = promise->get_future();
    session
        ->dataTask(std::move(request), [promise](Outcome r) { promise->set_value(std::move(r)); })
        ->resume();
    EXPECT_TRUE(ready(future));
    return future.get();
}

// httplib's compiled library sets up function-local statics on the first request it parses.
// It is not built with ThreadSanitizer, which therefore cannot see that requests running at
// the same time read them only after that set-up. This queue lets the first request finish
// before any other starts; the rest run side by side on a pool.
class FirstRequestAlone : public httplib::TaskQueue {
  public:
    explicit FirstRequestAlone(size_t threads) : pool_(threads) {}

    void enqueue(std::function<void()> fn) override {
        std::unique_lock lock(mutex_);
        if (!firstTaken_) {
            firstTaken_ = true;
            lock.unlock();
            pool_.enqueue([this, fn = std::move(fn)] {
                fn();
                {
                    std::lock_guard done(mutex_);
                    firstDone_ = true;
                }
                cv_.notify_all();
            });
            return;
        }
        cv_.wait(lock, [&] { return firstDone_; });
        lock.unlock();
        pool_.enqueue(std::move(fn));
    }
    void shutdown() override { pool_.shutdown(); }

  private:
    httplib::ThreadPool pool_;
    std::mutex mutex_;
    std::condition_variable cv_;
    bool firstTaken_ = false;
    bool firstDone_ = false;
};

}  // namespace

TEST(URLSession, CarriesMethodHeadersAndBodyBothWays) {
    LoopbackServer srv;
    srv.server.Post("/echo", [](const httplib::Request& req, httplib::Response& res) {
        res.status = 201;
        res.set_header("X-Seen-Token", req.get_header_value("X-Token"));
        res.set_header("X-Seen-Type", req.get_header_value("Content-Type"));
        res.set_content(req.body, "application/octet-stream");
    });
    srv.server.Get("/plain", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content("method " + req.method + " q=" + req.get_param_value("q"), "text/plain");
    });
    srv.server.Get("/moved", [](const httplib::Request&, httplib::Response& res) {
        res.set_redirect("/plain?q=r");
    });
    srv.server.Delete(
        "/thing", [](const httplib::Request& req, httplib::Response& res) { res.status = 204; });
    srv.start();
    auto session = URLSession::create();

    URLRequest post(srv.origin() + "/echo", "POST");
    post.setValue("abc", "X-Token");
    post.setValue("application/json", "Content-Type");
    post.httpBody = {'{', 0, '}', 0xff};
    auto r = perform(session, post);
    ASSERT_TRUE(r.has_value()) << r.error().description;
    EXPECT_EQ(r->statusCode, 201);
    EXPECT_TRUE(r->isSuccess());
    EXPECT_EQ(r->value("x-seen-token"), "abc");
    EXPECT_EQ(r->value("X-SEEN-TYPE"), "application/json");
    EXPECT_EQ(r->body, post.httpBody);

    auto g = perform(session, URLRequest(srv.origin() + "/plain?q=" + percentEncoded("a b&c")));
    ASSERT_TRUE(g.has_value());
    EXPECT_EQ(g->bodyText(), "method GET q=a b&c");

    auto d = perform(session, URLRequest(srv.origin() + "/thing", "DELETE"));
    ASSERT_TRUE(d.has_value());
    EXPECT_EQ(d->statusCode, 204);

    auto moved = perform(session, URLRequest(srv.origin() + "/moved"));
    ASSERT_TRUE(moved.has_value());
    EXPECT_EQ(moved->statusCode, 200);
    EXPECT_EQ(moved->url, srv.origin() + "/plain?q=r");
    EXPECT_EQ(moved->bodyText(), "method GET q=r");
    EXPECT_FALSE(moved->value("Location"));  // the headers are the final response's

    auto missing = perform(session, URLRequest(srv.origin() + "/nowhere"));
    ASSERT_TRUE(missing.has_value());
    EXPECT_EQ(missing->statusCode, 404);
    EXPECT_FALSE(missing->isSuccess());
}

TEST(URLSession, ReportsTransportFailures) {
    auto session = URLSession::create();
    int port;
    {
        LoopbackServer srv;
        srv.start();
        port = srv.port();
    }
    auto refused = perform(session, URLRequest("http://127.0.0.1:" + std::to_string(port) + "/"));
    ASSERT_FALSE(refused.has_value());
    EXPECT_EQ(refused.error().code, URLError::Code::cannotConnectToHost);

    auto bad = perform(session, URLRequest("not a url"));
    ASSERT_FALSE(bad.has_value());
    auto wrongScheme = perform(session, URLRequest("file:///etc/passwd"));
    ASSERT_FALSE(wrongScheme.has_value());
    EXPECT_EQ(wrongScheme.error().code, URLError::Code::badURL);
}

TEST(URLSession, TimesOutAndCancelsHeldRequests) {
    LoopbackServer srv;
    Gate gate;
    srv.server.Get("/hold", [gate](const httplib::Request&, httplib::Response& res) {
        gate.wait();
        res.set_content("late", "text/plain");
    });
    srv.server.Get("/ready", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("ok", "text/plain");
    });
    srv.start();
    auto session = URLSession::create();
    // httplib's first request is served alone: its compiled library sets up function-local
    // statics then, out of ThreadSanitizer's sight, and a request parsed while a held one still
    // runs would look like a race.
    ASSERT_TRUE(perform(session, URLRequest(srv.origin() + "/ready")).has_value());

    URLRequest held(srv.origin() + "/hold");
    held.timeoutInterval = 0.2;
    auto timedOut = perform(session, held);
    ASSERT_FALSE(timedOut.has_value());
    EXPECT_EQ(timedOut.error().code, URLError::Code::timedOut);

    std::atomic<int> calls{0};
    std::promise<Outcome> promise;
    auto task = session->dataTask(URLRequest(srv.origin() + "/hold"), [&](Outcome r) {
        if (calls.fetch_add(1) == 0) promise.set_value(std::move(r));
    });
    task->resume();
    task->cancel();
    auto future = promise.get_future();
    ASSERT_TRUE(ready(future));
    auto cancelled = future.get();
    ASSERT_FALSE(cancelled.has_value());
    EXPECT_EQ(cancelled.error().code, URLError::Code::cancelled);

    // Never resumed, then cancelled: reported once, nothing sent.
    std::promise<Outcome> p2;
    auto idle = session->dataTask(URLRequest(srv.origin() + "/hold"),
                                  [&](Outcome r) { p2.set_value(std::move(r)); });
    idle->cancel();
    idle->resume();
    auto f2 = p2.get_future();
    ASSERT_TRUE(ready(f2));
    auto never = f2.get();
    ASSERT_FALSE(never);
    EXPECT_EQ(never.error().code, URLError::Code::cancelled);
    gate.open();
    task->cancel();
    EXPECT_EQ(calls.load(), 1);
}

TEST(URLSession, RunsRequestsConcurrentlyAndCallsBackOnOneThread) {
    LoopbackServer srv;
    std::mutex m;
    std::condition_variable cv;
    int inside = 0;
    srv.server.new_task_queue = [] { return new FirstRequestAlone(16); };
    srv.server.Get("/first", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("first", "text/plain");
    });
    srv.server.Get("/n/(\\d+)", [&](const httplib::Request& req, httplib::Response& res) {
        // Every request waits until all are inside the server at once (four: the
        // server's listen backlog is five).
        std::unique_lock lock(m);
        ++inside;

        cv.notify_all();
        bool all = cv.wait_for(lock, std::chrono::seconds(30), [&] { return inside >= 4; });
        res.set_content(all ? std::string(req.matches[1]) : "alone", "text/plain");
    });
    srv.start();
    auto session = URLSession::create();
    ASSERT_EQ(perform(session, URLRequest(srv.origin() + "/first")).value().bodyText(), "first");

    std::mutex rm;
    std::set<std::string> bodies;
    std::set<std::thread::id> threads;
    std::promise<void> done;
    int remaining = 4;
    for (int i = 0; i < 4; ++i) {
        session
            ->dataTask(URLRequest(srv.origin() + "/n/" + std::to_string(i)),
                       [&](Outcome r) {
                           std::lock_guard lock(rm);
                           bodies.insert(r ? r->bodyText() : "error");
                           threads.insert(std::this_thread::get_id());
                           if (--remaining == 0) done.set_value();
                       })
            ->resume();
    }
    auto f = done.get_future();
    ASSERT_TRUE(ready(f));
    EXPECT_EQ(bodies, (std::set<std::string>{"0", "1", "2", "3"}));
    EXPECT_EQ(threads.size(), 1u);
    EXPECT_EQ(threads.count(std::this_thread::get_id()), 0u);
}

TEST(URLSession, EndingTheSessionCancelsWhatIsRunning) {
    LoopbackServer srv;
    Gate gate;
    srv.server.Get("/hold", [gate](const httplib::Request&, httplib::Response&) { gate.wait(); });
    srv.start();
    auto session = URLSession::create();
    std::promise<Outcome> p;
    auto task = session->dataTask(URLRequest(srv.origin() + "/hold"),
                                  [&](Outcome r) { p.set_value(std::move(r)); });
    task->resume();
    session.reset();
    auto f = p.get_future();
    ASSERT_TRUE(ready(f));
    auto ended = f.get();
    ASSERT_FALSE(ended);
    EXPECT_EQ(ended.error().code, URLError::Code::cancelled);
    gate.open();
}
