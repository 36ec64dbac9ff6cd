#include "platform/ble/BusLoop.hpp"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <deque>
#include <mutex>
#include <thread>

#include <sdbus-c++/sdbus-c++.h>

namespace qz {

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

    void run(const std::string& address, const std::string& name) {
        std::unique_ptr<sdbus::IConnection> connection;
        try {
            connection = address.empty() ? sdbus::createSystemBusConnection()
                                         : sdbus::createSessionBusConnectionWithAddress(address);
            if (!name.empty()) connection->requestName(name);
        } catch (const std::exception& e) {
            connection.reset();
            std::lock_guard lock(mutex);
            error = e.what();
        }
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
