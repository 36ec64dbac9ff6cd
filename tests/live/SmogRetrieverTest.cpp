// The smog check's exchanges against the simulated vehicle, through a real Vehicle.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "LiveTestSupport.hpp"
#include "api/Communication/Vehicle.hpp"
#include "api/Live/SmogInfoRetriever.hpp"
#include "platform/FileSystem.hpp"
#include "support/TestSupport.hpp"

using namespace qz;
using namespace qz::sim;
using namespace qz::livetest;
using qz::testsupport::errorOf;

namespace {

class SmogRetriever : public ::testing::Test {
  protected:
    void use(VehicleProfile profile) {
        rig_.reset();
        rig_ = std::make_unique<RelayRig>(std::move(profile));
        vehicle_ = Vehicle::create(std::nullopt);
        vehicle_->setRelay(rig_->relay);
    }
    void SetUp() override { use(VehicleProfile::builtIn()); }
    Result<std::shared_ptr<SmogInfoReport>, SmogInfoError> run() {
        return SmogInfoRetriever(vehicle_).retrieveSmogStatus();
    }
    size_t count(const std::string& command) {
        auto c = rig_->commands();
        return static_cast<size_t>(std::count(c.begin(), c.end(), command));
    }

    ScopedHome home_;
    std::unique_ptr<RelayRig> rig_;
    std::shared_ptr<Vehicle> vehicle_;
};

}  // namespace

TEST_F(SmogRetriever, ReadsEverythingInOrder) {
    auto r = run();
    ASSERT_TRUE(r);
    EXPECT_EQ(rig_->commands(),
              (std::vector<std::string>{"KQX1", "KQRP1", "0100", "0120", "0140", "011F", "0121",
                                        "0131", "014D", "014E", "0101", "KQTC", "KQTCP", "KQX0"}));
    auto report = *r;
    EXPECT_EQ(report->smogCheckResult(), SmogReportStatus::fail);
    EXPECT_EQ(report->numConfirmed(), 1);
    ASSERT_TRUE(report->distanceMilOff()->value());
    EXPECT_DOUBLE_EQ(report->distanceMilOff()->value()->value, 500);
    ASSERT_TRUE(report->timeMilOff()->value());
    EXPECT_DOUBLE_EQ(report->timeMilOff()->value()->value, 16);
    EXPECT_EQ(report->monitorStatus()->supportStatus(), SupportStatus::supported);

    // As in a car, a generic clear turns the lamp off and starts the monitors and the counters
    // since the clear over: a warning now, no longer a fail.
    ASSERT_TRUE(rig_->relay->sendToSensor("KQCC", false, 0, MultiResponseStrategy::bitwiseOr));
    auto cleared = run();
    ASSERT_TRUE(cleared);
    EXPECT_FALSE((*cleared)->monitorStatus()->milOn());
    EXPECT_FALSE((*cleared)->monitorStatus()->areAllComplete());
    EXPECT_EQ((*cleared)->numConfirmed(), 0);
    EXPECT_EQ((*cleared)->smogCheckResult(), SmogReportStatus::warning);
    ASSERT_TRUE((*cleared)->distanceMilOff()->value());
    EXPECT_DOUBLE_EQ((*cleared)->distanceMilOff()->value()->value, 0);
    ASSERT_TRUE((*cleared)->timeMilOff()->value());
    EXPECT_DOUBLE_EQ((*cleared)->timeMilOff()->value()->value, 0);
}

TEST_F(SmogRetriever, SeveralUnitsGiveTheSmallestCounterAndTheOredMonitors) {
    use(VehicleProfile::fromText(R"({"ecus": [
        {"address": "7E8", "mode1": {"01": "00 07 65 00", "1F": "01 00"}},
        {"address": "7E9", "mode1": {"01": "00 04 04 04", "1F": "00 20"}}]})"));
    auto r = run();
    ASSERT_TRUE(r);
    ASSERT_TRUE((*r)->runTimeSinceEngineStart()->value());
    EXPECT_DOUBLE_EQ((*r)->runTimeSinceEngineStart()->value()->value, 0x20);
    EXPECT_FALSE((*r)->monitorStatus()->areAllComplete());  // the second unit's EVAP
    EXPECT_EQ((*r)->smogCheckResult(), SmogReportStatus::warning);
    EXPECT_EQ((*r)->timeMilOn()->supportStatus(), SupportStatus::unsupported);
}

TEST_F(SmogRetriever, UnreadBlocksAreUnsupportedAndNoDataCountsNoCode) {
    use(profileWith(
        R"({"01": "00 07 65 00", "1F": "00 10", "21": "12 34 56 78", "31": "01 F4", "4D": "00 00"})"));
    rig_->core().addFault(Fault::noData(-1, "0140"));
    // A counter that stalls is given but not read: the report tells it from one not given. The
    // rest of its answer, come while the next counter's late answer is awaited, is none of it.
    rig_->core().addFault(Fault::split(2, 6.0, 1, "0121"));
    rig_->core().addFault(Fault::delay(2.0, 1, "0131"));
    auto r = run();
    ASSERT_TRUE(r);
    EXPECT_EQ((*r)->timeMilOn()->supportStatus(), SupportStatus::unsupported);
    EXPECT_FALSE((*r)->timeMilOn()->value());
    EXPECT_EQ((*r)->notRead(0x4D), std::nullopt);
    EXPECT_EQ((*r)->distanceMilOn()->supportStatus(), SupportStatus::supported);
    EXPECT_FALSE((*r)->distanceMilOn()->value());
    EXPECT_EQ((*r)->notRead(0x21), CommError::timedOut);
    ASSERT_TRUE((*r)->distanceMilOff()->value());
    EXPECT_EQ((*r)->distanceMilOff()->value()->value, 500.0);
    EXPECT_EQ((*r)->notRead(0x1F), std::nullopt);
    EXPECT_EQ((*r)->numConfirmed(), 0);  // "NO DATA" counts no code
    EXPECT_EQ((*r)->smogCheckResult(), SmogReportStatus::pass);
}

// No verdict from what was not read: the set-up, the walk's first block, the monitor status
// or a code list; what failed is said. Once "KQX1" is accepted, "KQX0" is sent all the same.
TEST_F(SmogRetriever, SetupFailures) {
    const std::string walk = "the vehicle did not answer 0100 (no vehicle, or its ignition is off)";
    const std::string monitors = "the monitor status (01 01) was not read: ";
    const struct {
        const char* name;
        const char* profile;  // a shipped profile, or one unit without 01 01 ("01 01 unflagged")
        std::optional<Fault> fault;
        bool switchedBack;
        std::string failure;  // what the retriever says failed
    } cases[] = {
        {"KQX1 silent", nullptr, Fault::silence(1, "KQX1"), false,
         "the sensor did not answer the set-up command KQX1"},
        {"KQX1 refused", nullptr, Fault::unknown(1, "KQX1"), false,
         "the sensor refused the set-up command KQX1 (it answered \"?\")"},
        {"KQX0 silent", nullptr, Fault::silence(1, "KQX0"), true,
         "the sensor did not answer the set-up command KQX0"},
        {"KQX0 refused", nullptr, Fault::reply("ERROR\r>", 1, "KQX0"), true,
         "the sensor refused the set-up command KQX0 (it answered \"ERROR\")"},
        {"no vehicle", "no-vehicle.json", std::nullopt, true, walk},
        {"0100 ?", nullptr, Fault::unknown(1, "0100"), true, walk},
        {"01 01 NO DATA", nullptr, Fault::noData(-1, "0101"), true,
         monitors + "0101 got no usable answer"},
        {"01 01 unflagged", "", std::nullopt, true,
         monitors + "the vehicle does not list it among its PIDs"},
        {"KQTC silent", nullptr, Fault::silence(1, "KQTC"), true,
         "the stored codes were not read: KQTC got no answer"},
        {"KQTC ?", nullptr, Fault::unknown(1, "KQTC"), true,
         "the stored codes were not read: KQTC was answered \"?\""},
        {"KQTC refused by the vehicle", nullptr, Fault::reply("7F 03 22\r>", 1, "KQTC"), true,
         "the stored codes were not read: KQTC was answered \"7F 03 22\""},
        {"KQTCP CAN ERROR", nullptr, Fault::reply("CAN ERROR\r>", 1, "KQTCP"), true,
         "the pending codes were not read: KQTCP was answered \"CAN ERROR\""},
    };
    // One retriever a row: what it says is of its last check alone.
    std::optional<SmogInfoRetriever> retriever;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.profile)
            use(VehicleProfile::builtIn());
        else if (*c.profile)
            use(VehicleProfile::load(VehicleProfile::sampleFolder() / c.profile));
        else
            use(profileWith(R"({"1F": "00 10"})"));
        if (c.fault) rig_->core().addFault(*c.fault);
        retriever.emplace(vehicle_);
        EXPECT_EQ(errorOf(retriever->retrieveSmogStatus()), SmogInfoError::setupFailed);
        EXPECT_EQ(retriever->failures(), std::vector<std::string>{c.failure});
        const auto commands = rig_->commands();
        ASSERT_FALSE(commands.empty());
        EXPECT_EQ(commands.front(), "KQX1");
        EXPECT_EQ(commands.back() == "KQX0", c.switchedBack);
    }
    EXPECT_EQ(count("KQTCP"), 1u);  // the last row: everything was read

    // The last row's retriever again, its vehicle without a link now.
    vehicle_->setRelay(nullptr);
    EXPECT_EQ(errorOf(retriever->retrieveSmogStatus()), SmogInfoError::setupFailed);
    EXPECT_EQ(retriever->failures(),
              std::vector<std::string>{"the library has no link to the sensor"});
}
