// What every test of the process shares.
//
// The tests run as a user of their own: the library's folders of the account that runs them
// (its logs, settings and cached events) are never written. Set before any test starts a thread.
//
// The process-wide log file is opened in the home of the test that writes the first line; it is
// let go after each test, so that the next test's lines do not make that test's removed home
// again.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "api/Logging/Log.hpp"

namespace {

class LogPerTest : public ::testing::EmptyTestEventListener {
    void OnTestEnd(const ::testing::TestInfo&) override { qz::Log::reset(); }
};

[[maybe_unused]] const bool kTestProcess = [] {
    const std::string user = std::string(QZ_BINARY_DIR) + "/test-user";
    ::setenv("HOME", user.c_str(), 1);
    ::setenv("XDG_DATA_HOME", (user + "/data").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (user + "/config").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (user + "/cache").c_str(), 1);
    ::testing::UnitTest::GetInstance()->listeners().Append(new LogPerTest);
    return true;
}();

}  // namespace
