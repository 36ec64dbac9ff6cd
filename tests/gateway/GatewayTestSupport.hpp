#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "api/Communication/GatewayLogger.hpp"
#include "api/Communication/PelkSensorState.hpp"
#include "api/Firmware/SkiffWeb.hpp"
#include "api/Gateway/Gateway.hpp"
#include "api/Logging/Log.hpp"
#include "api/Web/PelkWeb.hpp"
#include "api/config/ConfigManager.hpp"
#include "cloud/LoopbackServer.hpp"
#include "logging/LogFileReader.hpp"
#include "platform/Clock.hpp"
#include "platform/DispatchQueue.hpp"
#include "platform/FileSystem.hpp"
#include "sim/SimTestSupport.hpp"

namespace qz::gwtest {

// Collects the library's public log lines.
class PublicLines : public GatewayLoggerDelegate {
  public:
    void receivedLog(const std::string& line) override {
        std::lock_guard lock(mutex_);
        lines_.push_back(line);
    }
    std::vector<std::string> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    // Lines that end with `text`.
    std::vector<std::string> endingWith(const std::string& text) const {
        std::vector<std::string> out;
        for (auto& l : lines())
            if (l.size() >= text.size() &&
                l.compare(l.size() - text.size(), text.size(), text) == 0)
                out.push_back(l);
        return out;
    }
    size_t containing(const std::string& text) const {
        size_t n = 0;
        for (auto& l : lines()) n += l.find(text) != std::string::npos;
        return n;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

// Values a callback receives, with the thread it ran on.
template <class T>
class Received {
  public:
    struct Entry {
        T value;
        bool onMain;
        bool onGatewayQueue;
    };
    std::function<void(T)> callback() {
        return [state = state_](T value) {
            const bool onMain = DispatchQueue::isMainThread();
            const bool onGatewayQueue = DispatchQueue::currentLabel() == "GatewayQueue";
            {
                std::lock_guard lock(state->mutex);
                state->entries.push_back(Entry{std::move(value), onMain, onGatewayQueue});
            }
            state->cv.notify_all();
        };
    }
    // Waits (real time, generous bound never meant to expire) for `n` values.
    bool waitFor(size_t n, double seconds = 30.0) {
        std::unique_lock lock(state_->mutex);
        return state_->cv.wait_for(lock, std::chrono::duration<double>(seconds),
                                   [&] { return state_->entries.size() >= n; });
    }
    std::vector<Entry> entries() const {
        std::lock_guard lock(state_->mutex);
        return state_->entries;
    }
    Entry at(size_t i) const { return entries().at(i); }
    size_t size() const { return entries().size(); }

  private:
    struct State {
        std::mutex mutex;
        std::condition_variable cv;
        std::vector<Entry> entries;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

// The text of the current log file, its records decrypted and joined.
using qz::testing::libraryLogText;

// Lets "GatewayQueue" and then the main queue run everything queued on them so far.
inline void drainQueues() {
    Gateway::gatewayQueue()->sync([] {});
    DispatchQueue::main()->sync([] {});
}

// Waits (real time, at most `seconds`) until the gateway lists a sensor `wanted` accepts (any,
// by default); the last such one it lists, or null when none came.
inline std::shared_ptr<PelkSensor> listedSensor(
    Gateway& gateway, const std::function<bool(const PelkSensor&)>& wanted = {},
    double seconds = 10) {
    std::shared_ptr<PelkSensor> found;
    simtest::eventually(
        [&] {
            for (const auto& s : gateway.connectedDevices())
                if (!wanted || wanted(*s)) found = s;
            return found != nullptr;
        },
        seconds);
    return found;
}

// A fresh home, an isolated log, a scaled clock, the public lines, and a loopback server
// standing for the backend and the firmware server. Tests add handlers, then startServer().
class GatewayTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Log::reset();
        GatewayLogger::setDelegate(lines);
    }
    void TearDown() override {
        drainQueues();
        srv.stop();
        PelkWeb::setBackendHost("");
        SkiffWeb::setServerAddress("");
        ConfigManager::reset();
        GatewayLogger::setDelegate(nullptr);
        Log::reset();
    }
    void startServer() {
        srv.start();
        PelkWeb::setBackendHost(srv.origin());
        SkiffWeb::setServerAddress(srv.origin());
    }

    std::unique_ptr<ScopedHome> home = std::make_unique<ScopedHome>();
    ScopedClock clock{std::make_shared<ScaledClock>(0.05)};
    std::shared_ptr<PublicLines> lines = std::make_shared<PublicLines>();
    test::LoopbackServer srv;
};

// Holds "GatewayQueue" until opened, so that work queued meanwhile waits.
class QueueGate {
  public:
    QueueGate() {
        Gateway::gatewayQueue()->async([s = state_] {
            std::unique_lock lock(s->mutex);
            s->cv.wait(lock, [&] { return s->open; });
        });
    }
    ~QueueGate() { open(); }
    void open() {
        {
            std::lock_guard lock(state_->mutex);
            state_->open = true;
        }
        state_->cv.notify_all();
    }

  private:
    struct State {
        std::mutex mutex;
        std::condition_variable cv;
        bool open = false;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace qz::gwtest
