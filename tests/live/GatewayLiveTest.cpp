// The live-data and smog calls end to end: Gateway -> SessionController -> MFi session ->
// simulated accessory -> simulated sensor.

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <future>

#include "api/Communication/Relay.hpp"
#include "api/Communication/SessionController.hpp"
#include "api/PIDs/Mode1/Mode1PIDs.hpp"
#include "api/PIDs/PIDInterface.hpp"
#include "gateway/SimulatedSensorTest.hpp"
#include "sim/SimTestSupport.hpp"
#include "sim/SimulatedAccessory.hpp"
#include "sim/VehicleProfile.hpp"
#include "support/TestSupport.hpp"

using namespace qz;
using namespace qz::gwtest;
using qz::sim::Fault;
using qz::sim::SensorCore;
using qz::sim::SimulatedAccessory;
using qz::sim::VehicleProfile;
using qz::testsupport::errorOf;

namespace {

using PIDResult = Result<std::shared_ptr<PIDInfo>, CommError>;
using ListResult = Result<std::vector<std::shared_ptr<PIDInfo>>, PelkError>;
using BoolResult = Result<bool, PelkError>;
using VinResult = Result<std::string, CommError>;
using OdometerResult = Result<std::shared_ptr<NumericPID>, CommError>;
using SmogResult = Result<std::shared_ptr<SmogInfoReport>, SmogInfoError>;

class GatewayLive : public SimulatedSensorTest {
  protected:
    GatewayLive() { gateway = Gateway::create(); }
    void connect(VehicleProfile profile = VehicleProfile::builtIn()) {
        connectGateway(std::move(profile));
    }
    void TearDown() override {
        drainQueues();
        SimulatedSensorTest::TearDown();
    }
    static std::vector<uint64_t> numbers(const std::vector<std::shared_ptr<PIDInfo>>& list) {
        std::vector<uint64_t> out;
        for (auto& p : list) out.push_back(p->pid());
        out.erase(std::unique(out.begin(), out.end()), out.end());
        return out;
    }

    // Replies that must come have 1.5 s; a silent sensor costs 1.5 s per command.
    ScopedClock slower{std::make_shared<ScaledClock>(0.5)};
};

VehicleProfile profileWith(const std::string& mode1, const std::string& vin = "1HGCM82633A004352",
                           int bus = 6) {
    return VehicleProfile::fromText(R"({"sensor": {"bus": )" + std::to_string(bus) +
                                    R"(}, "vin": ")" + vin + R"(", "ecus": [
        {"address": "7E8", "mode1": )" +
                                    mode1 + R"(, "stored": ["P0420"]}]})");
}

}  // namespace

TEST_F(GatewayLive, DiscoversRefreshesAndListsTheVehiclesParameters) {
    connect();
    Received<ListResult> supported;
    gateway->supportedPids(supported.callback());
    ASSERT_TRUE(supported.waitFor(1));
    auto list = supported.at(0).value;
    ASSERT_TRUE(list);
    EXPECT_TRUE(supported.at(0).onGatewayQueue);
    EXPECT_EQ(numbers(*list), (std::vector<uint64_t>{0x01, 0x05, 0x0C, 0x0D, 0x1C, 0x1F, 0x21, 0x30,
                                                     0x31, 0x4D, 0x4E}));
    EXPECT_FALSE(gateway->isBusy());
    EXPECT_EQ(lines
                  ->endingWith("supportedPids(callback:) -> Function Called: "
                               "[\"callback:(Function)\"]")
                  .size(),
              1u);

    auto rpm = *std::find_if(list->begin(), list->end(), [](auto& p) { return p->pid() == 0x0C; });
    core->clearCommands();
    Received<PIDResult> refreshed;
    gateway->updatePID(rpm, refreshed.callback());
    ASSERT_TRUE(refreshed.waitFor(1));
    ASSERT_TRUE(refreshed.at(0).value);
    EXPECT_EQ(*refreshed.at(0).value, rpm);
    EXPECT_TRUE(refreshed.at(0).onGatewayQueue);
    EXPECT_EQ(rpm->valueAsText(false), "1726.0 RPM");
    // The sensor names the PID before its bytes since the support walk: not asked again.
    EXPECT_EQ(sent(), (std::vector<std::string>{"010C"}));
    EXPECT_EQ(lines->containing("updatePID(_:callback:) -> Function Called: [\"pid: PID: 0C"), 1u);

    // `pids` is the whole catalogue, the same objects.
    auto all = gateway->pids();
    EXPECT_EQ(all.size(), gateway->pidInterface()->getPids().size());
    EXPECT_NE(std::find(all.begin(), all.end(), rpm), all.end());
}

TEST_F(GatewayLive, EveryCallRefusesAtOnceWhileBusy) {
    connect();
    gateway->setIsBusy(true);
    Received<PIDResult> pid;
    gateway->updatePID(std::make_shared<PID010C>(), pid.callback());
    Received<ListResult> list;
    gateway->supportedPids(list.callback());
    Received<BoolResult> autoVin;
    gateway->checkAutoVinSupport(autoVin.callback());
    Received<VinResult> vin;
    gateway->requestVin(vin.callback());
    Received<SmogResult> smog;
    gateway->requestSmogInfo(smog.callback());
    ASSERT_EQ(pid.size(), 1u);
    ASSERT_EQ(list.size(), 1u);
    ASSERT_EQ(autoVin.size(), 1u);
    ASSERT_EQ(vin.size(), 1u);
    ASSERT_EQ(smog.size(), 1u);
    EXPECT_EQ(errorOf(pid.at(0).value), CommError::deviceBusy);
    EXPECT_EQ(errorOf(list.at(0).value), PelkError::deviceBusy());
    EXPECT_EQ(errorOf(autoVin.at(0).value), PelkError::deviceBusy());
    EXPECT_EQ(errorOf(vin.at(0).value), CommError::deviceBusy);
    EXPECT_EQ(errorOf(smog.at(0).value), SmogInfoError::deviceBusy);
    EXPECT_FALSE(pid.at(0).onGatewayQueue);
    EXPECT_EQ(lines->endingWith(" -> Smog check failed").size(), 1u);

    // The odometer refuses only later, from the queue, through its inner call.
    Received<OdometerResult> odometer;
    gateway->requestOdometer(odometer.callback());
    ASSERT_TRUE(odometer.waitFor(1));
    EXPECT_EQ(errorOf(odometer.at(0).value), CommError::deviceBusy);
    EXPECT_TRUE(odometer.at(0).onGatewayQueue);
    drainQueues();
    EXPECT_TRUE(sent().empty());
    gateway->setIsBusy(false);
}

TEST_F(GatewayLive, ACallDuringAnotherOnesRefreshIsRefused) {
    connect();
    core->addFault(Fault::delay(1.0, 1, "010C"));  // 500 ms: time to call again meanwhile
    Received<PIDResult> first;
    gateway->updatePID(std::make_shared<PID010C>(), first.callback());
    ASSERT_TRUE(qz::simtest::eventually([&] { return gateway->isBusy() || first.size() > 0; }));
    Received<PIDResult> second;
    gateway->updatePID(std::make_shared<PID010D>(), second.callback());
    if (first.size() == 0) {  // still inside the first refresh
        ASSERT_EQ(second.size(), 1u);
        EXPECT_EQ(errorOf(second.at(0).value), CommError::deviceBusy);
    }
    ASSERT_TRUE(first.waitFor(1));
    EXPECT_TRUE(first.at(0).value);
    EXPECT_FALSE(gateway->isBusy());
}

TEST_F(GatewayLive, WithoutASessionEveryCallReportsNotConnected) {
    Received<ListResult> list;
    gateway->supportedPids(list.callback());
    Received<PIDResult> pid;
    gateway->updatePID(std::make_shared<PID010C>(), pid.callback());
    Received<BoolResult> autoVin;
    gateway->checkAutoVinSupport(autoVin.callback());
    Received<VinResult> vin;
    gateway->requestVin(vin.callback());
    Received<OdometerResult> odometer;
    gateway->requestOdometer(odometer.callback());
    Received<SmogResult> smog;
    gateway->requestSmogInfo(smog.callback());
    ASSERT_TRUE(list.waitFor(1) && pid.waitFor(1) && autoVin.waitFor(1) && vin.waitFor(1) &&
                odometer.waitFor(1) && smog.waitFor(1));
    EXPECT_EQ(errorOf(list.at(0).value), PelkError::notConnected());
    EXPECT_TRUE(list.at(0).onGatewayQueue);
    EXPECT_EQ(errorOf(pid.at(0).value), CommError::notConnected);
    EXPECT_EQ(errorOf(autoVin.at(0).value), PelkError::notConnected());
    EXPECT_EQ(errorOf(vin.at(0).value), CommError::notConnected);
    EXPECT_EQ(errorOf(odometer.at(0).value), CommError::notConnected);
    EXPECT_EQ(errorOf(smog.at(0).value), SmogInfoError::notConnected);
    EXPECT_EQ(lines->endingWith(" -> Smog check requested, but no sensor is connected").size(), 1u);
    EXPECT_FALSE(gateway->isBusy());
}

TEST_F(GatewayLive, ASmogCheckAfterADisconnectIsNotConnected) {
    connect();
    gateway->disconnect();
    ASSERT_TRUE(qz::simtest::eventually(
        [&] { return gateway->status() != SensorConnectionStatus::connected; }));
    ASSERT_TRUE(gateway->relay()->bt()->activeSensor());  // kept after the disconnect
    Received<SmogResult> smog;
    gateway->requestSmogInfo(smog.callback());
    ASSERT_TRUE(smog.waitFor(1));
    EXPECT_EQ(errorOf(smog.at(0).value), SmogInfoError::notConnected);
    EXPECT_TRUE(sent().empty());
}

TEST_F(GatewayLive, EveryCallReportsOnceWhenTheGatewayIsReleasedFirst) {
    connect();
    Received<PIDResult> pid;
    Received<ListResult> list;
    Received<BoolResult> autoVin;
    Received<VinResult> vin;
    Received<OdometerResult> odometer;
    Received<SmogResult> smog;
    {
        QueueGate gate;
        gateway->updatePID(std::make_shared<PID010C>(), pid.callback());
        gateway->supportedPids(list.callback());
        gateway->checkAutoVinSupport(autoVin.callback());
        gateway->requestVin(vin.callback());
        gateway->requestOdometer(odometer.callback());
        gateway->requestSmogInfo(smog.callback());
        gateway.reset();
    }
    ASSERT_TRUE(pid.waitFor(1) && list.waitFor(1) && autoVin.waitFor(1) && vin.waitFor(1) &&
                odometer.waitFor(1) && smog.waitFor(1));
    drainQueues();
    EXPECT_EQ(pid.size(), 1u);
    EXPECT_EQ(errorOf(pid.at(0).value), CommError::noDelegate);
    EXPECT_EQ(errorOf(list.at(0).value), PelkError::callbackDeallocated());
    EXPECT_EQ(autoVin.at(0).value, true);  // a CAN vehicle answers before anything is queued
    EXPECT_EQ(errorOf(vin.at(0).value), CommError::noDelegate);
    EXPECT_EQ(errorOf(odometer.at(0).value), CommError::noDelegate);
    EXPECT_EQ(errorOf(smog.at(0).value), SmogInfoError::setupFailed);
    EXPECT_EQ(lines->endingWith(" -> Smog check requested, but gateway is nil").size(), 1u);
    EXPECT_TRUE(sent().empty());
}

TEST_F(GatewayLive, TheOdometerOfAGatewayReleasedBetweenItsHopsIsUnsupported) {
    connect();
    Received<OdometerResult> odometer;
    {
        QueueGate first;
        gateway->requestOdometer(odometer.callback());
        std::promise<void> firstHopDone;
        Gateway::gatewayQueue()->async([&] { firstHopDone.set_value(); });
        // The first hop queues the supported-parameter list behind this gate.
        QueueGate second;
        first.open();
        firstHopDone.get_future().wait();
        gateway.reset();
    }
    ASSERT_TRUE(odometer.waitFor(1));
    drainQueues();
    EXPECT_EQ(odometer.size(), 1u);
    EXPECT_EQ(errorOf(odometer.at(0).value), CommError::unsupported);
    EXPECT_TRUE(sent().empty());
}

TEST_F(GatewayLive, ReadsTheOdometer) {
    connect(profileWith(R"({"0C": "1A F8", "A6": "00 01 E2 40"})"));
    Received<OdometerResult> odometer;
    gateway->requestOdometer(odometer.callback());
    ASSERT_TRUE(odometer.waitFor(1));
    ASSERT_TRUE(odometer.at(0).value);
    auto value = (*odometer.at(0).value)->value();
    ASSERT_TRUE(value);
    EXPECT_DOUBLE_EQ(value->value, 12345.6);
    EXPECT_TRUE(odometer.at(0).onGatewayQueue);
    EXPECT_EQ(sent().back(), "01A6");
}

TEST_F(GatewayLive, AnOdometerTheVehicleLacksIsUnsupported) {
    connect();
    Received<OdometerResult> odometer;
    gateway->requestOdometer(odometer.callback());
    ASSERT_TRUE(odometer.waitFor(1));
    EXPECT_EQ(errorOf(odometer.at(0).value), CommError::unsupported);

    core->addFault(Fault::silence(1, "KQX1"));  // the support list fails: initialization
    Received<OdometerResult> failed;
    gateway->requestOdometer(failed.callback());
    ASSERT_TRUE(failed.waitFor(1));
    EXPECT_EQ(errorOf(failed.at(0).value), CommError::unsupported);
}

TEST_F(GatewayLive, ReadsAndChecksTheVin) {
    connect();
    Received<VinResult> vin;
    gateway->requestVin(vin.callback());
    ASSERT_TRUE(vin.waitFor(1));
    EXPECT_EQ(vin.at(0).value, "1HGCM82633A004352");
    EXPECT_TRUE(vin.at(0).onGatewayQueue);
    EXPECT_EQ(sent(), std::vector<std::string>{"0902"});  // CAN: no multiple-response switching
    EXPECT_EQ(
        lines->endingWith("isValidVin(_:) -> Function Called: [\"vin:1HGCM82633A004352\"]").size(),
        1u);

    core->setProfile(profileWith(R"({"0C": "1A F8"})", "1HGCM82634A004352"));  // bad check digit
    Received<VinResult> bad;
    gateway->requestVin(bad.callback());
    ASSERT_TRUE(bad.waitFor(1));
    EXPECT_EQ(errorOf(bad.at(0).value), CommError::invalidData);

    // A callback on the main queue that waits for the VIN holds the answer there: the read ends
    // with an error within the relay's bound, and the answer that comes after is nobody's.
    {
        ScopedClock quick(std::make_shared<ScaledClock>(0.05));
        core->setProfile(profileWith(R"({"0C": "1A F8"})"));
        auto waited = std::make_shared<Received<VinResult>>();
        DispatchQueue::main()->async([gateway = gateway, waited] {
            gateway->requestVin(waited->callback());
            waited->waitFor(1, 10);
        });
        ASSERT_TRUE(waited->waitFor(1, 20));
        ASSERT_FALSE(waited->at(0).value);
        EXPECT_EQ(waited->at(0).value.error(), CommError::timedOut);
        EXPECT_TRUE(waited->at(0).onGatewayQueue);
        EXPECT_NE(libraryLogText().find("\"0902\" not answered in time"), std::string::npos);
        Received<VinResult> again;
        gateway->requestVin(again.callback());
        ASSERT_TRUE(again.waitFor(1));
        EXPECT_EQ(again.at(0).value, "1HGCM82633A004352");
    }

    // A vehicle that stays silent: the read times out.
    core->addFault(Fault::silence(1, "0902"));
    Received<VinResult> silent;
    gateway->requestVin(silent.callback());
    ASSERT_TRUE(silent.waitFor(1));
    EXPECT_EQ(errorOf(silent.at(0).value), CommError::timedOut);
    EXPECT_EQ(sent().back(), "0902");  // on CAN: the request alone
}

TEST_F(GatewayLive, OffCanTheVinIsReadWithMultipleResponses) {
    connect(VehicleProfile::load(VehicleProfile::sampleFolder() / "kline-clean.json"));
    Received<BoolResult> supported;
    gateway->checkAutoVinSupport(supported.callback());
    ASSERT_TRUE(supported.waitFor(1));
    EXPECT_EQ(supported.at(0).value, true);
    EXPECT_TRUE(supported.at(0).onGatewayQueue);
    core->clearCommands();
    Received<VinResult> vin;
    gateway->requestVin(vin.callback());
    ASSERT_TRUE(vin.waitFor(1));
    EXPECT_EQ(vin.at(0).value, "JT2BF22K1W0123456");
    // The VIN's bytes alone: the names the support check asked for are put off.
    EXPECT_EQ(sent(), (std::vector<std::string>{"KQRP0", "KQX1", "0902", "KQX0"}));
}

TEST_F(GatewayLive, AsksForVinSupport) {
    connect();
    Received<BoolResult> supported;
    gateway->checkAutoVinSupport(supported.callback());
    ASSERT_TRUE(supported.waitFor(1));
    // A CAN vehicle (recorded at start-up) answers at once, on the caller's thread, also after
    // a disconnect.
    EXPECT_FALSE(supported.at(0).onGatewayQueue);
    EXPECT_TRUE(sent().empty());
    gateway->disconnect();
    ASSERT_TRUE(qz::simtest::eventually(
        [&] { return gateway->status() != SensorConnectionStatus::connected; }));
    Received<BoolResult> again;
    gateway->checkAutoVinSupport(again.callback());
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again.at(0).value, true);
    EXPECT_EQ(supported.at(0).value, true);
}

TEST_F(GatewayLive, ADisconnectMidDiscoveryFailsIt) {
    connect();
    core->addFault(Fault::disconnect(-1, 1, "0120"));
    Received<ListResult> list;
    gateway->supportedPids(list.callback());
    ASSERT_TRUE(list.waitFor(1));
    // The link went, not the vehicle.
    EXPECT_EQ(errorOf(list.at(0).value), PelkError::notConnected());
    EXPECT_FALSE(gateway->isBusy());
}

TEST_F(GatewayLive, RunsTheSmogCheck) {
    connect();  // MIL on (01 01 = 81 07 65 04), one stored code
    Received<SmogResult> smog;
    gateway->requestSmogInfo(smog.callback());
    ASSERT_TRUE(smog.waitFor(1));
    ASSERT_TRUE(smog.at(0).value);
    auto report = *smog.at(0).value;
    EXPECT_TRUE(smog.at(0).onGatewayQueue);
    EXPECT_EQ(report->smogCheckResult(), SmogReportStatus::fail);
    EXPECT_TRUE(report->monitorStatus()->milOn());
    EXPECT_EQ(report->numConfirmed(), 1);
    EXPECT_EQ(report->numPending(), 0);
    ASSERT_TRUE(report->runTimeSinceEngineStart()->value());
    EXPECT_DOUBLE_EQ(report->runTimeSinceEngineStart()->value()->value, 300);
    auto cmds = sent();
    EXPECT_EQ(cmds.front(), "KQX1");
    EXPECT_EQ(cmds.back(), "KQX0");
    EXPECT_NE(std::find(cmds.begin(), cmds.end(), "KQTCP"), cmds.end());
    EXPECT_EQ(lines->containing("Smog Check complete, result :success(["), 1u);
    EXPECT_FALSE(gateway->isBusy());
}

TEST_F(GatewayLive, SmogVerdictsFromTheVehicle) {
    connect(profileWith(R"({"01": "00 07 65 00", "1F": "00 10"})"));
    core->setProfile(VehicleProfile::fromText(R"({"vin": "1HGCM82633A004352", "ecus": [
        {"address": "7E8", "mode1": {"01": "00 07 65 00", "1F": "00 10"}, "pending": ["P0171"]}]})"));
    Received<SmogResult> smog;
    gateway->requestSmogInfo(smog.callback());
    ASSERT_TRUE(smog.waitFor(1));
    ASSERT_TRUE(smog.at(0).value);
    auto report = *smog.at(0).value;
    EXPECT_EQ(report->numPending(), 1);
    EXPECT_EQ(report->smogCheckResult(), SmogReportStatus::warning);
    EXPECT_EQ(report->timeMilOn()->supportStatus(), SupportStatus::unsupported);
    EXPECT_FALSE(report->timeMilOn()->value());

    core->addFault(Fault::silence(1, "KQX0"));
    Received<SmogResult> failed;
    gateway->requestSmogInfo(failed.callback());
    ASSERT_TRUE(failed.waitFor(1));
    EXPECT_EQ(errorOf(failed.at(0).value), SmogInfoError::setupFailed);
}
