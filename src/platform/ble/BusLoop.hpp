#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace sdbus {
class IConnection;
}

namespace qz {

// One D-Bus connection served by a thread of its own. sd-bus connections are not thread-safe,
// so everything that touches the connection, its proxies and its objects runs on that thread,
// handed over with `post`: tasks run in posting order, between rounds of message dispatch
// (method replies, signals and incoming calls are handled on the same thread).
class BusLoop {
  public:
    // The connection, or null when the bus could not be opened.
    using Task = std::function<void(sdbus::IConnection* connection)>;

    // Opens the bus at `address` (the system bus when empty) on a new thread and asks for the
    // well-known `name` when one is given.
    static std::shared_ptr<BusLoop> start(const std::string& address, const std::string& name = {});
    ~BusLoop();
    BusLoop(const BusLoop&) = delete;
    BusLoop& operator=(const BusLoop&) = delete;

    void post(Task task);
    // Runs the tasks already posted, closes the connection and ends the thread (waits for it,
    // except when called on the loop's own thread). Tasks posted afterwards are dropped.
    void stop();
    bool isLoopThread() const;
    // Why the bus could not be opened, once the attempt failed.
    std::optional<std::string> error() const;

  private:
    struct State;
    explicit BusLoop(std::shared_ptr<State> state) : state_(std::move(state)) {}
    std::shared_ptr<State> state_;
};

}  // namespace qz
