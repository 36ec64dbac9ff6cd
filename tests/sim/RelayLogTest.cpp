#include <gtest/gtest.h>

#include "api/Communication/Relay.hpp"
#include "api/Logging/AES256Encryption.hpp"
#include "api/Logging/FileLog.hpp"
#include "api/Logging/Log.hpp"
#include "logging/LogFileReader.hpp"
#include "platform/Clock.hpp"
#include "platform/FileSystem.hpp"
#include "sim/FakeSensorLink.hpp"

using namespace qz;
using namespace qz::sim;

namespace {

std::vector<std::string> logLines() {
    auto log = Log::fileLogger();
    std::vector<std::string> out;
    for (const auto& r :
         qz::testing::parseRecords(qz::testing::readFileBytes(log->currentPath()))) {
        auto plain = AES256Encryption::originalDataWithHexKey(r.ciphertext, log->key(), log->iv());
        if (plain) out.emplace_back(plain->begin(), plain->end());
    }
    return out;
}

}  // namespace

TEST(RelayLog, WiFiPasswordsAreMaskedInTheLogAndSentUnchanged) {
    ScopedHome home;
    Log::reset();
    ScopedClock clock(std::make_shared<ScaledClock>(0.1));
    auto link = FakeSensorLink::create();
    auto relay = Relay::createWithSensor(link);
    const std::string command = "KQA$ config wifi p0 pw \"TOPS1CRIT\"";
    ASSERT_TRUE(relay->sendToSensor(command).has_value());
    link->core().addFault(Fault::silence());
    ASSERT_FALSE(relay->sendToSensor(command).has_value());  // the time-out line too
    EXPECT_EQ(link->core().commands().back(), command);

    auto lines = logLines();
    size_t masked = 0;
    for (const auto& line : lines) {
        EXPECT_EQ(line.find("TOPS1CRIT"), std::string::npos) << line;
        if (line.find("KQA$ config wifi p0 pw \"***\"") != std::string::npos) ++masked;
    }
    EXPECT_EQ(masked, 3u);  // two outgoing lines and one time-out line
    Log::reset();
}
