// The log lines of the live-data code, read back from the library's (encrypted) log file.
#include <gtest/gtest.h>

#include "LiveTestSupport.hpp"
#include "api/Communication/Vehicle.hpp"
#include "api/Live/LiveDataSupportChecker.hpp"
#include "api/Live/SmogInfoRetriever.hpp"
#include "api/Logging/Log.hpp"
#include "api/PIDs/Mode1/Mode1PIDs.hpp"
#include "api/PIDs/PIDInterface.hpp"
#include "api/milstatus/PID0101_MonitorStatus.hpp"
#include "logging/LogFileReader.hpp"
#include "platform/FileSystem.hpp"

using namespace qz;
using namespace qz::livetest;
using namespace qz::testing;

namespace {

class LiveLog : public ::testing::Test {
  protected:
    void SetUp() override { Log::reset(); }
    void TearDown() override { Log::reset(); }

    // Whether anything logged so far (pieces joined, carriage returns dropped) holds `text`.
    bool has(const std::string& text) { return libraryLogText().find(text) != std::string::npos; }

    ScopedHome home;
};

}  // namespace

TEST_F(LiveLog, TheSupportWalkLogsEveryBlockItRead) {
    RelayRig rig;
    rig.core().addFault(qz::sim::Fault::reply("80 00 00 00 \r>", 1, "0120"));
    ASSERT_TRUE(LiveDataSupportChecker(rig.relay).checkSupport(false));
    EXPECT_TRUE(has("01:\u270502:\u274C03:\u274C04:\u274C05:\u2705"));
    EXPECT_TRUE(has("21:\u270522:\u274C"));
    EXPECT_TRUE(has("3F:\u274C40:\u274C"));
    EXPECT_TRUE(has("[I]") && has("-> next block not supported"));
}

TEST_F(LiveLog, MissingRelayAndWrongLengthAreLogged) {
    PIDInterface unwired;
    EXPECT_FALSE(unwired.updatePid(std::make_shared<PID010C>()));
    EXPECT_TRUE(has("[E]") && has("-> Relay not set"));
    PID0101_MonitorStatus m;
    m.setData({"00"});
    EXPECT_TRUE(has("-> invalid length"));
}

TEST_F(LiveLog, TheSmogRetrievalLogsEveryParameterAndTheReport) {
    RelayRig rig(profileWith(R"({"01": "00 07 65 00", "1F": "00 10"})"));
    rig.core().addFault(qz::sim::Fault::noData(-1, "011F"));
    auto vehicle = Vehicle::create(std::nullopt);
    vehicle->setRelay(rig.relay);
    ASSERT_TRUE(SmogInfoRetriever(vehicle).retrieveSmogStatus());
    EXPECT_TRUE(has("[I]") && has("-> Updated: "));
    EXPECT_TRUE(has("-> Engine Run Time Since MIL Activated not supported"));
    EXPECT_TRUE(has("[E]") && has("-> Run Time Since Engine Start error updating"));
    EXPECT_TRUE(has("-> MIL Status report complete: ["));
    EXPECT_FALSE(has("-> Setup failed"));
    EXPECT_FALSE(has("not read"));

    // What was not read is named.
    rig.core().addFault(qz::sim::Fault::noData(-1, "0101"));
    rig.core().addFault(qz::sim::Fault::unknown(1, "KQTC"));
    EXPECT_FALSE(SmogInfoRetriever(vehicle).retrieveSmogStatus());
    EXPECT_TRUE(has("-> Malfunction Indicator Lamp (MIL) Status error updating"));
    EXPECT_TRUE(
        has("-> Smog check: the monitor status (01 01) was not read: 0101 got no usable "
            "answer"));
    EXPECT_TRUE(has("-> Smog check: the stored codes were not read: KQTC was answered \"?\""));
    EXPECT_FALSE(has("-> Setup failed"));

    vehicle->setRelay(nullptr);
    EXPECT_FALSE(SmogInfoRetriever(vehicle).retrieveSmogStatus());
    EXPECT_TRUE(has("-> Setup failed"));
}
