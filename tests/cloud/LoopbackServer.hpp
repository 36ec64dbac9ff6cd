#pragma once

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace qz::test {

// An HTTP server on 127.0.0.1 at a port the system picks, serving on its own
// thread for the life of the object.
class LoopbackServer {
  public:
    httplib::Server server;

    // One request per connection: a stop never waits for an idle keep-alive connection.
    LoopbackServer() { server.set_keep_alive_max_count(1); }
    ~LoopbackServer() { stop(); }

    // Binds and starts serving; the handlers must be set before.
    void start() {
        port_ = server.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server.listen_after_bind(); });
        // The socket already listens; wait until the accept loop runs so stop() reaches it.
        for (int i = 0; i < 1000000 && !server.is_running(); ++i) std::this_thread::yield();
    }

    void stop() {
        if (thread_.joinable()) {
            server.stop();
            thread_.join();
        }
    }

    int port() const { return port_; }
    std::string origin() const { return "http://127.0.0.1:" + std::to_string(port_); }

  private:
    int port_ = 0;
    std::thread thread_;
};

// A one-shot latch for handlers that must hold a request open until the test lets go. Copies
// share one latch: a handler holds its own copy, since a request may still reach it after the
// test that made the gate has ended.
class Gate {
  public:
    void open() const {
        {
            std::lock_guard lock(state_->m);
            state_->open = true;
        }
        state_->cv.notify_all();
    }
    // Waits until open; bounded so a failing test cannot hang the server.
    bool wait(std::chrono::seconds limit = std::chrono::seconds(30)) const {
        std::unique_lock lock(state_->m);
        return state_->cv.wait_for(lock, limit, [&] { return state_->open; });
    }

  private:
    struct State {
        std::mutex m;
        std::condition_variable cv;
        bool open = false;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

// Waits for a future with a generous bound; the bound is never meant to expire.
template <class F>
bool ready(F& future, std::chrono::seconds limit = std::chrono::seconds(30)) {
    return future.wait_for(limit) == std::future_status::ready;
}

}  // namespace qz::test
