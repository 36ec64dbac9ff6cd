#pragma once

#include <gtest/gtest.h>

#include <future>
#include <memory>

#include "LoopbackServer.hpp"
#include "api/Firmware/SkiffWeb.hpp"
#include "api/Logging/Log.hpp"
#include "api/Web/PelkWeb.hpp"
#include "api/config/ConfigManager.hpp"
#include "platform/FileSystem.hpp"

namespace qz::test {

// A fresh home and a loopback server that stands for the backend and the firmware
// server. Tests add handlers, then call startServer().
class CloudTest : public ::testing::Test {
  protected:
    std::unique_ptr<ScopedHome> home = std::make_unique<ScopedHome>();
    LoopbackServer srv;

    void startServer() {
        srv.start();
        PelkWeb::setBackendHost(srv.origin());
        SkiffWeb::setServerAddress(srv.origin());
    }

    void TearDown() override {
        srv.stop();
        PelkWeb::setBackendHost("");
        SkiffWeb::setServerAddress("");
        ConfigManager::reset();
        Log::reset();
    }

    // Calls `start` with a callback and returns the one value it receives.
    template <class T, class Start>
    static T await(Start start) {
        auto promise = std::make_shared<std::promise<T>>();
        auto future = promise->get_future();
        start([promise](T value) { promise->set_value(std::move(value)); });
        EXPECT_TRUE(ready(future));
        return future.get();
    }
};

}  // namespace qz::test
