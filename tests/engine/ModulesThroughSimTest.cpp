// The base module and its decoders against the simulated vehicle's manufacturer modules, through
// the engine's facades, the facade layer's Vehicle, the relay and the sensor's display.
#include <gtest/gtest.h>

#include <functional>

#include "api/Communication/Relay.hpp"
#include "api/Communication/Vehicle.hpp"
#include "lib/Modules/QZEBaseDiagnosticModule.hpp"
#include "platform/FileSystem.hpp"
#include "sim/FakeSensorLink.hpp"
#include "sim/SensorCore.hpp"
#include "support/EngineFakes.hpp"

using namespace qz;
using namespace qz::sim;
using namespace qz::testsupport;

namespace {

using Texts = std::vector<std::string>;

using Module = BareModule;

}  // namespace

TEST(ModulesThroughSimTest, EveryLayoutReadsTheSimulatedModules) {
    using Decode = std::function<int64_t(Module&, const std::string&)>;
    Decode uds = [](Module& m, const std::string& r) { return m.decodeUds(r); };
    Decode kwpCan = [](Module& m, const std::string& r) { return m.decodeKWP2000CANResponse(r); };
    Decode kwpBytes = [](Module& m, const std::string& r) {
        return m.decodeKWP2000ResponseBytes(Module::cleanResponseString(r));
    };
    Decode gmlan = [](Module& m, const std::string& r) {
        return m.decodeEnhancedCodesCANGMJ2012(r);
    };
    Decode extUds = [](Module& m, const std::string& r) { return m.decodeExtendedUds(r); };
    Decode pwm = [](Module& m, const std::string& r) { return m.decodeCodesPWMFordJ2012(r); };
    using Retry = QZEBaseDiagnosticModule::Retry;
    struct Case {
        const char* name;
        Texts setup;
        std::string request;
        Retry retry;
        Decode decode;
        Texts codes;
        Texts statuses;
        int sleeps = 0;  // 5 s pauses of the CAN retry
        QZEFraming framing = QZEFraming::can;
        int positive = -1;  // the positive answer, when not the service's
    };
    const Texts udsStatuses = {"CONFIRMED", "CONFIRMED/PENDING", "MIL/CONFIRMED/PENDING"};
    const Texts udsCodes = {"P0123-45", "U0100-00", "P0420-00"};
    const std::vector<Case> cases = {
        {"UDS, headers on",
         {"KQH1", "KQSH7E0"},
         "19 02 FF",
         Retry::nrcCan,
         uds,
         udsCodes,
         udsStatuses,
         1},
        {"UDS, headers off",
         {"KQH0", "KQSH7E0"},
         "19 02 FF",
         Retry::nrcCan,
         uds,
         udsCodes,
         udsStatuses,
         1},
        {"KWP2000 on CAN, headers off",
         {"KQH0", "KQSH7E1"},
         "18 00 FF 00",
         Retry::nrcCan,
         kwpCan,
         {"P0700", "P1740"},
         {"ACTIVE/MIL", "STORED"}},
        {"KWP2000 on CAN, headers on",
         {"KQH1", "KQSH7E1"},
         "18 00 FF 00",
         Retry::nrcCan,
         kwpCan,
         {"P0700", "P1740"},
         {"ACTIVE/MIL", "STORED"}},
        {"GMLAN raw frames",
         {"KQH1", "KQSH7E2"},
         "A9 81 12",
         Retry::noData,
         gmlan,
         {"P0123", "U0100"},
         {"", ""},
         0,
         QZEFraming::can,
         0x81},
        {"extended addressing",
         {"KQH1", "KQCD1", "KQSH6F1"},
         "12 19 02 FF",
         Retry::nrcCan,
         extUds,
         {"P0123-45"},
         {"CONFIRMED"},
         0,
         QZEFraming::canExtended},
        {"29-bit CAN",
         {"KQH1", "KQSP7", "KQSH18DA40F1"},
         "19 02 FF",
         Retry::nrcCan,
         uds,
         {"B1117-00", "U1123-00"},
         {"CONFIRMED", "CONFIRMED/PENDING"}},
        {"KWP2000 on K-line",
         {"KQH1", "KQSP5", "KQSH8128F1"},
         "18 00 FF 00",
         Retry::nrcKline,
         kwpBytes,
         {"P0123"},
         {"STORED"},
         0,
         QZEFraming::kLine},
        {"J1850 PWM",
         {"KQH0", "KQSP1", "KQSH10"},
         "13",
         Retry::noData,
         pwm,
         {"P0123", "P0456", "P0789"},
         {"", "", ""},
         0,
         QZEFraming::j1850},
    };

    ScopedHome home;
    EngineFakes fakes;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto core = std::make_shared<SensorCore>(
            VehicleProfile::load(VehicleProfile::sampleFolder() / "modules-sample.json"));
        auto vehicle = Vehicle::create(std::nullopt);
        vehicle->setRelay(Relay::createWithSensor(FakeSensorLink::create(core)));
        vehicle->registerWithEngine(fakes.crew);
        fakes.events->clear();

        Module m(4);
        for (const auto& cmd : c.setup) ASSERT_TRUE(m.sendSetupCommandToOstrel(cmd)) << cmd;
        // The question: the request's service (after the address in front of it, with extended
        // addressing).
        const std::string service = c.framing == QZEFraming::canExtended
                                        ? c.request.substr(c.request.find(' ') + 1)
                                        : c.request;
        QZEAsked asked = QZEAsked::of(service, c.framing, QZEBaseDiagnosticModule::displayed());
        asked.positive = c.positive;
        std::string reply = m.exchange(c.request, c.retry, asked).text;
        c.decode(m, reply);
        EXPECT_EQ(m.codeArray(), c.codes) << reply;
        EXPECT_EQ(m.statusArray(), c.statuses);
        EXPECT_EQ(m.responseState(), ResponseStateHasData);
        EXPECT_EQ(fakes.secondsSlept(), 5.0 * c.sleeps);
    }
    fakes.crew.registerSessionAdapter(nullptr);
}
