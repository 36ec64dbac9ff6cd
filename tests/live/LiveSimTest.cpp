// The simulated vehicle as the live-data code sees it: every Mode 1 PID of a profile, several
// units, CAN and older buses, headers, and the VIN in both of its forms.
#include <gtest/gtest.h>

#include "LiveTestSupport.hpp"
#include "api/Live/LiveDataSupportChecker.hpp"
#include "api/PIDs/Mode1/Mode1PIDs.hpp"
#include "api/PIDs/PID0902.hpp"
#include "api/PIDs/PIDInterface.hpp"

using namespace qz;
using namespace qz::sim;
using namespace qz::livetest;

namespace {

VehicleProfile twoUnits(int bus, const std::string& secondVin) {
    return VehicleProfile::fromText(R"({"sensor": {"bus": )" + std::to_string(bus) +
                                    R"(}, "vin": "JT2BF22K1W0123456", "ecus": [
        {"address": "7E8", "mode1": {"0C": "1A F8"}},
        {"address": "7E9", "mode1": {"0C": "0B B8"}, "vin": ")" +
                                    secondVin + R"("}]})");
}

}  // namespace

TEST(LiveSim, EveryPidOfAFullProfileIsDiscoveredAndRefreshed) {
    RelayRig rig(VehicleProfile::load(VehicleProfile::sampleFolder() / "live-full.json"));
    PIDInterface pids;
    pids.setRelay(rig.relay);
    auto supported = pids.checkSupport();
    ASSERT_TRUE(supported);
    EXPECT_GT(supported->size(), 250u);
    size_t refreshed = 0;
    for (auto& p : *supported) {
        auto r = pids.updatePid(p);
        EXPECT_TRUE(r) << p->description();
        refreshed += r.has_value();
    }
    EXPECT_EQ(refreshed, supported->size());
}

TEST(LiveSim, OnlyTheFirstUnitAnswersUntilMultipleResponsesAreOn) {
    RelayRig rig(twoUnits(6, ""));
    EXPECT_EQ(rig.relay->sendToSensor("010C").value(), "1A F8 \r>");
    rig.relay->sendToSensor("KQX1");
    EXPECT_EQ(rig.relay->sendToSensor("010C").value(), "1A F8 \r0B B8 \r>");
    rig.relay->sendToSensor("KQH1");
    EXPECT_EQ(rig.relay->sendToSensor("010C").value(), "7E8 1A F8 \r7E9 0B B8 \r>");
}

TEST(LiveSim, TheVinComesInOneLineOnCanAndInFiveMessagesElsewhere) {
    {
        RelayRig rig(twoUnits(6, ""));
        EXPECT_EQ(rig.relay->sendToSensor("0902").value(),
                  "01 4A 54 32 42 46 32 32 4B 31 57 30 31 32 33 34 35 36 \r>");
    }
    RelayRig rig(twoUnits(3, "JT2BF22K1W0123456"));
    rig.relay->sendToSensor("KQX1");
    rig.relay->sendToSensor("KQH1");
    auto reply = rig.relay->sendToSensor("0902").value();
    EXPECT_EQ(reply.substr(0, 36), "7E8 01 00 00 00 4A \r7E8 02 54 32 42 ");
    EXPECT_NE(reply.find("7E9 05 33 34 35 36 \r>"), std::string::npos);
}

TEST(LiveSim, TheVinRouteReadsEveryForm) {
    for (int bus : {3, 6}) {
        for (const char* second : {"", "JT2BF22K1W0123456"}) {
            RelayRig rig(twoUnits(bus, second));
            PIDInterface pids;
            pids.setRelay(rig.relay);
            auto vin = std::make_shared<PID0902>();
            ASSERT_TRUE(pids.updatePid(vin));
            EXPECT_EQ(vin->valueAsText(false), "JT2BF22K1W0123456") << bus << " " << second;
        }
    }
}

TEST(LiveSim, VinSupportFollowsTheUnitsVins) {
    RelayRig rig(VehicleProfile::fromText(R"({"ecus": [{"address": "7E8", "mode1": {}}]})"));
    EXPECT_EQ(LiveDataSupportChecker(rig.relay).checkVinSupport().error(),
              CommError::invalidData);  // NO DATA
    RelayRig withVin(twoUnits(6, ""));
    EXPECT_EQ(LiveDataSupportChecker(withVin.relay).checkVinSupport(), true);
}

TEST(LiveSim, FaultsMidOperation) {
    RelayRig rig;
    PIDInterface pids;
    pids.setRelay(rig.relay);
    // The third 010C is answered NO DATA, the fourth not at all.
    rig.core().addFault(Fault::noData(1, "010C").after(2));
    rig.core().addFault(Fault::silence(1, "010C").after(3));
    auto rpm = std::make_shared<PID010C>();
    EXPECT_TRUE(pids.updatePid(rpm));
    EXPECT_TRUE(pids.updatePid(rpm));
    EXPECT_EQ(pids.updatePid(rpm).error(), CommError::invalidData);
    EXPECT_EQ(pids.updatePid(rpm).error(), CommError::timedOut);
    EXPECT_TRUE(pids.updatePid(rpm));
}
