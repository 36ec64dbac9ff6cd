#include "platform/ble/BusLoop.hpp"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <deque>
#include <mutex>
#include <thread>

#include <sdbus-c++/sdbus-c++.h>

namespace qz {

namespace {

// Whether a "unix:path=" address has a listener. sd-bus keeps a connection object it could not
// start, so an address that cannot work is turned away before a connection is made.
bool reachable(const std::string& address, std::string& why) {
    const std::string key = "unix:path=";
    if (address.rfind(key, 0) != 0) return true;
    std::string path = address.substr(key.size());
    path = path.substr(0, path.find_first_of(",;"));
    sockaddr_un where{};
    where.sun_family = AF_UNIX;
    if (path.size() >= sizeof where.sun_path) return true;
    std::memcpy(where.sun_path, path.c_str(), path.size() + 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return true;
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0;
    if (!ok) why = "the bus at " + address + " cannot be reached: " + std::strerror(errno);
    ::close(fd);
    return ok;
}

}  // namespace

struct BusLoop::State {
    std::mutex mutex;
    std::deque<Task> tasks;
    bool stopping = false;
    std::optional<std::string> error;
    std::thread thread;
    std::thread::id threadId;
    int wakeFd = -1;

    // With `mutex` held (the descriptor is closed under it).
    void wake() const {
        if (wakeFd < 0) return;
        uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(wakeFd, &one, sizeof one);
    }

    // The connection, or null with `error` set.
    std::unique_ptr<sdbus::IConnection> open(const std::string& address, const std::string& name) {
        std::string why;
        try {
            if (address.empty() || reachable(address, why)) {
                auto connection = address.empty()
                                      ? sdbus::createSystemBusConnection()
                                      : sdbus::createSessionBusConnectionWithAddress(address);
                if (!name.empty()) connection->requestName(name);
                return connection;
            }
        } catch (const std::exception& e) {
            why = e.what();
        }
        std::lock_guard lock(mutex);
        error = why;
        return nullptr;
    }

    void run(const std::string& address, const std::string& name) {
        auto connection = open(address, name);
        for (;;) {
            std::deque<Task> batch;
            bool last;
            {
                std::lock_guard lock(mutex);
                batch.swap(tasks);
                last = stopping;
            }
            for (auto& task : batch) {
                try {
                    task(connection.get());
                } catch (const std::exception&) {
                    // A failed call is reported by its own reply; nothing to do here.
                }
            }
            if (last) break;
            int timeout = -1;
            pollfd fds[2] = {{wakeFd, POLLIN, 0}, {-1, 0, 0}};
            if (connection) {
                try {
                    while (connection->processPendingRequest()) {
                    }
                    auto data = connection->getEventLoopPollData();
                    fds[1] = {data.fd, data.events, 0};
                    timeout = data.getPollTimeout();
                } catch (const std::exception&) {
                    timeout = 10;
                }
            }
            {
                std::lock_guard lock(mutex);
                if (!tasks.empty() || stopping) timeout = 0;
            }
            ::poll(fds, connection ? 2 : 1, timeout);
            if (fds[0].revents & POLLIN) {
                uint64_t count;
                [[maybe_unused]] auto n = ::read(wakeFd, &count, sizeof count);
            }
        }
        connection.reset();
        std::lock_guard lock(mutex);
        ::close(wakeFd);
        wakeFd = -1;
    }
};

std::shared_ptr<BusLoop> BusLoop::start(const std::string& address, const std::string& name) {
    auto state = std::make_shared<State>();
    state->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    std::lock_guard lock(state->mutex);
    state->thread = std::thread([state, address, name] { state->run(address, name); });
    state->threadId = state->thread.get_id();
    return std::shared_ptr<BusLoop>(new BusLoop(state));
}

BusLoop::~BusLoop() {
    stop();
}

void BusLoop::post(Task task) {
    {
        std::lock_guard lock(state_->mutex);
        if (state_->stopping) return;
        state_->tasks.push_back(std::move(task));
        state_->wake();
    }
}

void BusLoop::stop() {
    std::thread thread;
    {
        std::lock_guard lock(state_->mutex);
        if (!state_->thread.joinable()) return;
        state_->stopping = true;
        thread = std::move(state_->thread);
        state_->wake();
    }
    if (thread.get_id() == std::this_thread::get_id()) {
        // The loop's own thread lets go of the loop: it ends after the current task.
        thread.detach();
        return;
    }
    thread.join();
}

bool BusLoop::isLoopThread() const {
    std::lock_guard lock(state_->mutex);
    return state_->threadId == std::this_thread::get_id();
}

std::optional<std::string> BusLoop::error() const {
    std::lock_guard lock(state_->mutex);
    return state_->error;
}

}  // namespace qz
