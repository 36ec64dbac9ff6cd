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

    auto lines = qz::testing::libraryLogLines();
    size_t masked = 0;
    for (const auto& line : lines) {
        EXPECT_EQ(line.find("TOPS1CRIT"), std::string::npos) << line;
        if (line.find("KQA$ config wifi p0 pw \"***\"") != std::string::npos) ++masked;
    }
    EXPECT_EQ(masked, 3u);  // two outgoing lines and one time-out line
    Log::reset();
}

TEST(RelayLog, AnEchoedPasswordIsMaskedInTheReplyLines) {
    ScopedHome home;
    Log::reset();
    ScopedClock clock(std::make_shared<ScaledClock>(0.1));
    auto link = FakeSensorLink::create();
    auto relay = Relay::createWithSensor(link);
    link->core().setEcho(true);
    const std::string command = "KQA$ config wifi p0 pw \"TOPS1CRIT\"";
    auto reply = relay->sendToSensor(command);
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(*reply, command + "\rOK\r>");  // the caller still gets the reply verbatim
    // "NO DATA" with the echo, then a retry that goes unanswered: the time-out line shows
    // the echoed reply.
    link->core().addFault(Fault::noData(1));
    link->core().addFault(Fault::silence(1).after(1));
    ASSERT_FALSE(relay->sendToSensor(command, false, 1).has_value());

    size_t incoming = 0, timedOut = 0;
    for (const auto& line : qz::testing::libraryLogLines()) {
        EXPECT_EQ(line.find("TOPS1CRIT"), std::string::npos) << line;
        if (line.find("pw \"***\"\rOK\r>") != std::string::npos) ++incoming;
        if (line.find("response: KQA$ config wifi p0 pw \"***\"\rNO DATA\r>") != std::string::npos)
            ++timedOut;
    }
    EXPECT_EQ(incoming, 1u);
    EXPECT_EQ(timedOut, 1u);
    Log::reset();
}

TEST(RelayLog, NoPartOfAPasswordReachesTheLogWhateverItsBlanksAndLineBreaks) {
    ScopedHome home;
    Log::reset();
    ScopedClock clock(std::make_shared<ScaledClock>(0.1));
    auto link = FakeSensorLink::create();
    auto relay = Relay::createWithSensor(link);
    link->core().setEcho(true);
    const std::vector<std::string> commands = {
        "KQA$ config wifi p0 pw\t\"TOPS1CRIT\"",
        "KQA$ config wifi p0 pw \"TOPS\n1CRIT\"",
        "KQA$ Config\tWiFi  p0 PW\t \"TOPS1CRIT\"",
    };
    for (const auto& command : commands) {
        EXPECT_TRUE(relay->sendToSensor(command).has_value()) << command;
        link->core().addFault(Fault::silence());
        EXPECT_FALSE(relay->sendToSensor(command).has_value()) << command;
    }
    const std::string log = qz::testing::libraryLogText();
    EXPECT_EQ(log.find("TOPS"), std::string::npos) << log;
    EXPECT_EQ(log.find("1CRIT"), std::string::npos) << log;
    Log::reset();
}
