// The guide's code (docs/guide.md, included below as built from its blocks) run as the guide
// says an app runs it, against the simulated sensor: that it builds is checked by building this
// file, that it works and that its callbacks arrive where the guide says, here.

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

// The guide names only the options it sets (`{.adapter = "hci1"}`), as an app writes them; GCC
// flags such an option as missing its other initializers: not a fault.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#include "GuideCode.inc"
#pragma GCC diagnostic pop
#include "gateway/SimulatedSensorTest.hpp"
#include "platform/DispatchQueue.hpp"
#include "sim/VehicleProfile.hpp"

namespace qz {
namespace {

// Where a callback ran.
struct Place {
    bool onMain = false;
    bool onGatewayQueue = false;
    static Place here() {
        return {DispatchQueue::isMainThread(), DispatchQueue::currentLabel() == "GatewayQueue"};
    }
};

class GuideWalkthrough : public gwtest::SimulatedSensorTest {
  protected:
    void SetUp() override {
        gwtest::SimulatedSensorTest::SetUp();
        // A backend that is not there: the scan's analytics event fails at once.
        PelkWeb::setBackendHost("http://127.0.0.1:9");
    }

    // Finds and connects the plugged-in sensor the guide's way.
    void connect() {
        // Kept by the gateway's connection-update callback: shared, not on this stack.
        auto seen = std::make_shared<std::vector<std::shared_ptr<PelkSensor>>>();
        guide::watchForSensors(*gateway,
                               [seen](std::shared_ptr<PelkSensor> s) { seen->push_back(s); });
        ASSERT_EQ(seen->size(), 1u) << "listed at once by connectedDevices";
        auto sensor = seen->front();
        gwtest::Received<std::pair<bool, Place>> started;
        auto done = started.callback();
        guide::connectTo(
            *gateway, sensor,
            [done](bool ready) {
                done({ready, Place::here()});
            },
            [lost = lost.callback()] { lost(Place::here()); });
        ASSERT_TRUE(started.waitFor(1));
        EXPECT_TRUE(started.at(0).value.first);
        EXPECT_TRUE(started.at(0).value.second.onMain) << "the connect listener";
    }

    std::optional<std::string> vin() {
        gwtest::Received<std::pair<std::optional<std::string>, Place>> read;
        auto done = read.callback();
        guide::readVin(*gateway, [done](std::optional<std::string> v) {
            done({v, Place::here()});
        });
        EXPECT_TRUE(read.waitFor(1));
        EXPECT_TRUE(read.at(0).value.second.onGatewayQueue) << "live results";
        return read.at(0).value.first;
    }

    // A scan whose requests to the user are answered at once, from the scan listener.
    struct ScanRun {
        std::vector<std::string> asked;
        std::vector<Place> askedOn;
        std::optional<PelkModules> modules;
        std::string failure;
    };
    ScanRun scan(const std::optional<std::string>& vin) {
        auto run = std::make_shared<ScanRun>();
        gwtest::Received<bool> ended;
        auto end = ended.callback();
        guide::ScanScreen screen;
        screen.progress = [](float) {};
        screen.ask = [run](const std::string& message, std::function<void()> done) {
            run->asked.push_back(message);
            run->askedOn.push_back(Place::here());
            done();
        };
        screen.finished = [run, end](const PelkModules& m) {
            run->modules = m;
            end(true);
        };
        screen.failed = [run, end](const std::string& why) {
            run->failure = why;
            end(false);
        };
        guide::scan(*gateway, vin, screen);
        EXPECT_TRUE(ended.waitFor(1));
        gwtest::drainQueues();
        return *run;
    }

    gwtest::Received<Place> lost;
};

}  // namespace

TEST_F(GuideWalkthrough, ConnectReadTheVinScanClearAScanAgainHandOverTheLogsDisconnect) {
    accessory = guide::plugInSimulatedSensor(sim::VehicleProfile::sampleFolder() / "bmw.json");
    gateway = guide::startLibrary(home->path() / "app");
    ASSERT_NO_FATAL_FAILURE(connect());
    const auto read = vin();
    EXPECT_EQ(read, "WBAVB33526PX12345");

    auto first = scan(read);
    ASSERT_TRUE(first.modules) << first.failure;
    EXPECT_EQ(first.asked, std::vector<std::string>{"A Keyflick is required before this scan."});
    EXPECT_TRUE(first.askedOn.at(0).onGatewayQueue) << "requests to the user";
    ASSERT_FALSE(first.modules->empty());
    EXPECT_EQ(first.modules->back()->acronym(), "OBD");
    std::shared_ptr<PelkModule> withCodes;
    for (const auto& m : *first.modules)
        if (!withCodes && m->acronym() != "OBD" && !m->results().empty()) withCodes = m;
    ASSERT_TRUE(withCodes);
    ::testing::internal::CaptureStdout();
    guide::print(*first.modules);
    const std::string printed = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find(withCodes->name() + " (" + withCodes->acronym() + ")\n  " +
                           withCodes->results().front()->code()),
              std::string::npos)
        << printed;

    gwtest::Received<std::pair<bool, Place>> cleared;
    auto done = cleared.callback();
    guide::clear(*gateway, withCodes, [done](bool ok) { done({ok, Place::here()}); });
    ASSERT_TRUE(cleared.waitFor(1));
    EXPECT_TRUE(cleared.at(0).value.first);
    EXPECT_TRUE(cleared.at(0).value.second.onGatewayQueue) << "a clear's outcome";
    auto second = scan(read);
    ASSERT_TRUE(second.modules) << second.failure;
    bool seen = false;
    for (const auto& m : *second.modules)
        if (m->acronym() == withCodes->acronym()) {
            seen = true;
            EXPECT_TRUE(m->results().empty()) << m->description();
        }
    EXPECT_TRUE(seen);

    // A module of the first scan is no longer one of the latest: refused before the call returns.
    std::optional<bool> stale;
    guide::clear(*gateway, withCodes, [&](bool ok) { stale = ok; });
    EXPECT_EQ(stale, false);

    gwtest::Received<std::pair<std::filesystem::path, Place>> archive;
    auto attach = archive.callback();
    guide::sendLogsToSupport(*gateway, [attach](std::filesystem::path p) {
        attach({p, Place::here()});
    });
    ASSERT_TRUE(archive.waitFor(1));
    EXPECT_TRUE(std::filesystem::is_regular_file(archive.at(0).value.first));
    EXPECT_TRUE(archive.at(0).value.second.onMain) << "the log archive";
    EXPECT_TRUE(std::filesystem::is_regular_file(home->path() / "app" / "Documents" / "Logs" /
                                                 "pelklog-0.log"))
        << "the app's folder holds the logs";

    guide::finish(*gateway);
    ASSERT_TRUE(lost.waitFor(1));
    EXPECT_TRUE(lost.at(0).value.onMain);
}

TEST_F(GuideWalkthrough, LiveValuesAndTheSmogVerdict) {
    plugIn();
    gateway = guide::startLibrary({});
    ASSERT_NO_FATAL_FAILURE(connect());

    struct Case {
        uint64_t number;
        std::string shown;
    };
    for (const Case& c : {Case{0x0C, "Engine RPM: 1726.0 RPM"},
                          Case{0xA6, "the vehicle does not give this value"}}) {
        SCOPED_TRACE(c.number);
        gwtest::Received<std::string> shown;
        guide::readValue(gateway, c.number, shown.callback());
        ASSERT_TRUE(shown.waitFor(1));
        EXPECT_EQ(shown.at(0).value, c.shown);
        EXPECT_TRUE(shown.at(0).onGatewayQueue);
    }

    gwtest::Received<std::string> verdict;
    guide::smogCheck(*gateway, verdict.callback());
    ASSERT_TRUE(verdict.waitFor(1));
    EXPECT_EQ(verdict.at(0).value, "fail, lamp on, 1 stored, 0 pending");
    EXPECT_TRUE(verdict.at(0).onGatewayQueue);

    // While an operation holds the gateway, a call is refused on the caller's thread.
    gateway->setIsBusy(true);
    gwtest::Received<std::string> refused;
    guide::smogCheck(*gateway, refused.callback());
    ASSERT_EQ(refused.size(), 1u) << "before the call returned";
    EXPECT_EQ(refused.at(0).value, "no verdict: deviceBusy");
    EXPECT_FALSE(refused.at(0).onMain || refused.at(0).onGatewayQueue);
    gateway->setIsBusy(false);
}

}  // namespace qz
