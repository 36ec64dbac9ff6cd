// The simulated vehicle as the live-data code sees it: every Mode 1 PID of a profile, several
// units, CAN and older buses, headers, and the VIN in both of its forms.
#include <gtest/gtest.h>

#include "LiveTestSupport.hpp"
#include "api/Communication/Vehicle.hpp"
#include "api/Live/LiveDataSupportChecker.hpp"
#include "api/PIDs/Mode1/Mode1PIDs.hpp"
#include "api/PIDs/PID0902.hpp"
#include "api/PIDs/PIDInterface.hpp"
#include "support/TestSupport.hpp"

using namespace qz;
using namespace qz::sim;
using namespace qz::livetest;
using qz::testsupport::errorOf;

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
    EXPECT_EQ(errorOf(LiveDataSupportChecker(rig.relay).checkVinSupport()),
              CommError::invalidData);  // NO DATA
    RelayRig withVin(twoUnits(6, ""));
    EXPECT_EQ(LiveDataSupportChecker(withVin.relay).checkVinSupport(), true);
}

// Faults in the middle of live data, read by read. NO DATA and silence fail the read they hit. A
// stalled answer fails the read of its PID alone: with the vehicle, the sensor names the PID
// before its bytes, and the next PID's late answer is its own, never the stalled one's rest.
// Where the sensor refuses the names ("KQRP1"), an answer that comes while a late one is still
// due is not taken unless its length tells the two apart: the read fails, and never reads the
// rest. Where a read's outcome rests on a wait it is not about, it may fail under load instead,
// never with another value.
TEST(LiveSim, FaultsMidOperation) {
    constexpr uint64_t kVin = 0x902;  // the VIN read (service 09, PID 02)
    struct Read {
        uint64_t pid;
        std::optional<CommError> error;
        std::string value = {};  // when given
        bool orFails = false;    // or it fails (timedOut, invalidData), as it may under load
    };
    struct Case {
        const char* name;
        bool withVehicle;
        std::vector<Fault> faults;
        std::vector<Read> reads;
    };
    const Fault namesRefused = Fault::unknown(1, "KQRP1");
    const std::vector<Case> cases = {
        // The third 010C is answered NO DATA, the fourth not at all; the fifth's answer comes
        // while the fourth's may still come.
        {"NO DATA, then silence",
         false,
         {Fault::noData(1, "010C").after(2), Fault::silence(1, "010C").after(3)},
         {{0x0C, {}},
          {0x0C, {}},
          {0x0C, CommError::invalidData},
          {0x0C, CommError::timedOut},
          {0x0C, CommError::timedOut},
          {0x0C, {}, "1726.0 RPM"}}},
        // 010C's rest comes 5 s after its first part, once 010D went out; 010D is answered
        // 1.5 s after it goes out.
        {"a stalled 010C, then 010D answered late",
         true,
         {Fault::split(2, 5.0, 1, "010C"), Fault::delay(1.5, 1, "010D")},
         {{0x0C, CommError::timedOut}, {0x0D, {}, "50.0 km/h"}, {0x0C, {}, "1726.0 RPM"}}},
        // The same on a sensor that refuses the names: the rest ("8") is no speed.
        {"names refused: a stalled 010C, then 010D answered 2.5 s late",
         true,
         {namesRefused, Fault::split(2, 5.0, 1, "010C"), Fault::delay(2.5, 1, "010D")},
         {{0x0C, CommError::timedOut},
          {0x0D, {}, "50.0 km/h", true},
          {0x0C, {}, "1726.0 RPM", true}}},
        // 010D answered at once, before 010C's rest: either may be its answer.
        {"names refused: a stalled 010C, then 010D answered before its rest",
         true,
         {namesRefused, Fault::split(2, 5.0, 1, "010C")},
         {{0x0C, CommError::timedOut}, {0x0D, {}, "50.0 km/h", true}, {0x0C, {}, "1726.0 RPM"}}},
        // The rest of 0167 ("3F") reads as a speed.
        {"names refused: a stalled 0167, then 010D answered 2.5 s late",
         true,
         {namesRefused, Fault::split(2, 5.0, 1, "0167"), Fault::delay(2.5, 1, "010D")},
         {{0x67, CommError::timedOut},
          {0x0D, {}, "50.0 km/h", true},
          {0x0C, {}, "1726.0 RPM", true}}},
        // Live data after the VIN, which is read with the names off.
        {"live data after the VIN",
         true,
         {},
         {{0x0C, {}, "1726.0 RPM"}, {kVin, {}, "1HGCM82633A004352"}, {0x0C, {}, "1726.0 RPM"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RelayRig rig(VehicleProfile::load(VehicleProfile::sampleFolder() / "live-full.json"));
        PIDInterface pids;
        pids.setRelay(rig.relay);
        if (c.withVehicle) {
            auto vehicle = Vehicle::create(std::nullopt);
            vehicle->setRelay(rig.relay);
            pids.setVehicle(vehicle);
        }
        for (const auto& f : c.faults) rig.core().addFault(f);
        for (const auto& read : c.reads) {
            SCOPED_TRACE(read.pid);
            std::shared_ptr<PIDInfo> pid = std::make_shared<PID0902>();
            if (read.pid != kVin) {
                for (const auto& p : pids.pidMap()->at(read.pid))
                    p->setSupportStatus(SupportStatus::supported);
                pid = pids.pidMap()->at(read.pid).front();
            }
            const std::string before = pid->valueAsText(false);
            auto r = pids.updatePid(pid);
            if (read.orFails && !r) {
                EXPECT_TRUE(r.error() == CommError::timedOut || r.error() == CommError::invalidData)
                    << describe(r.error());
                EXPECT_EQ(pid->valueAsText(false), before);
                continue;
            }
            if (!r) {
                EXPECT_TRUE(read.error) << describe(r.error());
                if (read.error) {
                    EXPECT_EQ(r.error(), *read.error);
                }
            } else {
                EXPECT_FALSE(read.error) << pid->valueAsText(false);
                if (!read.value.empty()) {
                    EXPECT_EQ(pid->valueAsText(false), read.value);
                }
            }
        }
    }
}
