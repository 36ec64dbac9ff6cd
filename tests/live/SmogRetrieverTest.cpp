// The smog check's exchanges against the simulated vehicle, through a real Vehicle.
#include <gtest/gtest.h>

#include <algorithm>

#include "LiveTestSupport.hpp"
#include "api/Communication/Vehicle.hpp"
#include "api/Live/SmogInfoRetriever.hpp"
#include "platform/FileSystem.hpp"

using namespace qz;
using namespace qz::sim;
using namespace qz::livetest;

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
              (std::vector<std::string>{"KQX1", "0100", "0120", "0140", "011F", "0121", "0131",
                                        "014D", "014E", "0101", "KQTC", "KQTCP", "KQX0"}));
    auto report = *r;
    EXPECT_EQ(report->smogCheckResult(), SmogReportStatus::fail);
    EXPECT_EQ(report->numConfirmed(), 1);
    EXPECT_DOUBLE_EQ(report->distanceMilOff()->value()->value, 500);
    EXPECT_DOUBLE_EQ(report->timeMilOff()->value()->value, 16);
    EXPECT_EQ(report->monitorStatus()->supportStatus(), SupportStatus::supported);
}

TEST_F(SmogRetriever, SeveralUnitsGiveTheSmallestCounterAndTheOredMonitors) {
    use(VehicleProfile::fromText(R"({"ecus": [
        {"address": "7E8", "mode1": {"01": "00 07 65 00", "1F": "01 00"}},
        {"address": "7E9", "mode1": {"01": "00 04 04 04", "1F": "00 20"}}]})"));
    auto r = run();
    ASSERT_TRUE(r);
    EXPECT_DOUBLE_EQ((*r)->runTimeSinceEngineStart()->value()->value, 0x20);
    EXPECT_FALSE((*r)->monitorStatus()->areAllComplete());  // the second unit's EVAP
    EXPECT_EQ((*r)->smogCheckResult(), SmogReportStatus::warning);
    EXPECT_EQ((*r)->timeMilOn()->supportStatus(), SupportStatus::unsupported);
}

TEST_F(SmogRetriever, UnansweredMonitorsWarnAndUnreadBlocksAreUnsupported) {
    use(profileWith(R"({"01": "00 07 65 00", "1F": "00 10", "4D": "00 00"})"));
    rig_->core().addFault(Fault::noData(-1, "0101"));
    rig_->core().addFault(Fault::noData(-1, "0140"));
    auto r = run();
    ASSERT_TRUE(r);
    EXPECT_EQ((*r)->monitorStatus()->monitorType().kind(), MonitorTestType::Kind::unknown);
    EXPECT_EQ((*r)->timeMilOn()->supportStatus(), SupportStatus::unsupported);
    EXPECT_FALSE((*r)->timeMilOn()->value());
    EXPECT_EQ((*r)->numConfirmed(), 0);  // "NO DATA" counts no code
    EXPECT_EQ((*r)->smogCheckResult(), SmogReportStatus::warning);
}

TEST_F(SmogRetriever, SetupFailures) {
    rig_->core().addFault(Fault::silence(1, "KQX1"));
    EXPECT_EQ(run().error(), SmogInfoError::setupFailed);
    EXPECT_EQ(rig_->commands(), std::vector<std::string>{"KQX1"});

    rig_->core().clearCommands();
    rig_->core().addFault(Fault::silence(1, "KQX0"));
    EXPECT_EQ(run().error(), SmogInfoError::setupFailed);  // although everything was read
    EXPECT_EQ(count("KQTCP"), 1u);

    vehicle_->setRelay(nullptr);
    EXPECT_EQ(run().error(), SmogInfoError::setupFailed);
}
