// Scans and clears end to end: the scanners, the engine's facades, the facade layer's Vehicle,
// the relay, the MFi session and the simulated vehicle. The module objects read and clear like
// a module class (header, request, decoder) so that the scanners' own sensor traffic (set-up,
// bus and pin switching, retries, clear paths, restore) is what the recorded commands show.

#include "api/Communication/PelkSensorState.hpp"
#include "api/Communication/Vehicle.hpp"
#include "engine/scanning/ScanningFakes.hpp"
#include "gateway/SimulatedSensorTest.hpp"
#include "lib/Facades/QZEVehicle.hpp"
#include "lib/Logging/QZEFormat.hpp"
#include "lib/Modules/QZEBaseDiagnosticModule.hpp"

namespace qz::scanningtest {
namespace {

// Reads and clears with the module's request id as header: UDS on CAN, KWP2000 on K-line,
// where a module that answered marks the pins it answered on.
class SimModule : public QZEBaseDiagnosticModule {
  public:
    SimModule(int64_t make, bool kline) : QZEBaseDiagnosticModule(make), kline_(kline) {}

    bool scanCodes(QZEModuleData& module) override {
        sendSetupCommandToOstrel("KQSH" + module.requestId().value_or(""));
        const std::string reply = request(kline_ ? "18 00 FF 00" : "19 02 FF", Retry::none).text;
        if (kline_) {
            decodeKWP2000ResponseBytes(cleanResponseString(reply));
            auto& vehicle = QZEVehicle::TheVehicle();
            if (responseState() == ResponseStateHasData)
                module.setExtra(
                    "RESPONSE_PIN_COMMAND",
                    objcFormat("%lX%lX", vehicle.activeHighPin(), vehicle.activeLowPin()));
        } else {
            decodeUds(reply);
        }
        return true;
    }
    bool clearCodes(QZEModuleData& module) override {
        sendSetupCommandToOstrel("KQSH" + module.requestId().value_or(""));
        const std::string clear = kline_ ? "14 FF 00" : "14 FF FF FF";
        return exchange(clear, Retry::none,
                        QZEAsked::of(clear, kline_ ? QZEFraming::kLine : QZEFraming::can, {}))
            .answered();
    }

  private:
    bool kline_;
};

class SimModuleScanner : public QZEModuleScanner {
  public:
    std::unique_ptr<QZEDiagnosticModule> loadModule(int64_t busKey, int32_t scanType) override {
        if (!QZEModuleScanner::loadModule(busKey, scanType)) return nullptr;
        return std::make_unique<SimModule>(manufacturer(), busKey == 4);
    }
};

class SimScanner : public QZEnhancedScanner {
  protected:
    std::shared_ptr<QZEModuleScanner> makeModuleScanner() override {
        return std::make_shared<SimModuleScanner>();
    }
};

// A module status manager that remembers data for every module whose key starts with "Body".
class RememberedBody : public FakeStatusManager {
  public:
    int64_t responseStateForModuleKey(const OptionalText& key, const OptionalText&) override {
        return key.value_or("").starts_with("Body ") ? ResponseStateHasData : ResponseStateUnknown;
    }
};

const char* kFordProfile = R"({
  "sensor": { "version": "4.08", "bus": 6 },
  "vin": "1FAHP3F269L123456",
  "ecus": [ { "address": "7E8", "stored": ["P0420"], "pending": ["P0420", "P0171"] } ],
  "modules": [
    { "name": "PCM", "protocol": "6", "request": "7E0", "response": "7E8",
      "replies": { "19 02 FF": "59 02 FF 01 23 45 08", "14 FF FF FF": "54" },
      "clear": "14 FF FF FF", "cleared": { "19 02 FF": "59 02 FF" } },
    { "name": "IPC", "protocol": "=", "request": "720", "response": "728",
      "replies": { "19 02 FF": "59 02 FF C1 00 00 08", "14 FF FF FF": "54" },
      "clear": "14 FF FF FF", "cleared": { "19 02 FF": "59 02 FF" } },
    { "name": "BCM", "protocol": "6", "request": "726", "response": "72E", "replies": {} }
  ] })";

const char* kFordModules = R"(<m>
  <module Acronym="PCM" Description="Powertrain" Request_ID="7E0" Response_ID="7E8"/>
  <module Acronym="IPC" Description="Cluster" Request_ID="720" Response_ID="728"/>
  <module Acronym="BCM" Description="Body" Request_ID="726" Response_ID="72E"/>
</m>)";

const char* kHyundaiProfile = R"({
  "sensor": { "version": "4.08", "bus": 5 },
  "vin": "KMHDU46D09U123456",
  "ecus": [ { "address": "7E8" } ],
  "modules": [
    { "name": "ABS", "protocol": "5", "pins": "C0", "request": "28", "response": "28",
      "replies": { "18 00 FF 00": "58 01 01 23 20", "14 FF 00": "54 FF 00" },
      "clear": "14 FF 00", "cleared": { "18 00 FF 00": "58 00" } }
  ] })";

const char* kHyundaiModules = R"(<m>
  <module Acronym="ABS" Description="Brakes" Request_ID="28" Response_ID="28"/>
</m>)";

class ScanThroughSimTest : public gwtest::SimulatedSensorTest {
  protected:
    void SetUp() override {
        SimulatedSensorTest::SetUp();
        writeEmptyModuleLists(resources.path());
        Bundle::setLibraryPath(resources.path());
        QZETroubleCodes::TheCodes().reset();
    }
    void TearDown() override {
        SimulatedSensorTest::TearDown();
        QZETroubleCodes::TheCodes().reset();
        Bundle::setLibraryPath({});
    }

    void writeResource(const std::string& relative, const std::string& plain) {
        vehicletest::writeResource(resources.path(), relative, plain);
    }

    // Connects the gateway to the simulated vehicle and sets its VIN.
    void connect(const std::string& profile, const std::string& vin) {
        plugIn(sim::VehicleProfile::fromText(profile));
        gateway = Gateway::create();
        gwtest::Received<PelkSensorState> states;
        gateway->connect(gateway->connectedDevices().at(0), states.callback());
        ASSERT_TRUE(states.waitFor(1));
        gwtest::drainQueues();
        gateway->vehicle()->setCurrentVin(vin);
        core->clearCommands();
        fakes.events->clear();
    }
    // Runs on the gateway's queue, as the library does.
    void onGatewayQueue(const std::function<void()>& work) {
        Gateway::gatewayQueue()->sync(work);
        gwtest::drainQueues();
    }
    // A full scan with the generic read.
    void scan() {
        onGatewayQueue([&] {
            SimScanner scanner;
            scanner.setDelegate(delegate);
            ASSERT_GT(scanner.loadScan(1), 2);
            scanner.startScan(1);
            scanner.startBasicObdScan(true);
        });
    }
    bool clear(const QZEModuleDataPtr& module, int64_t busKey) {
        bool ok = false;
        onGatewayQueue([&] {
            SimModuleScanner scanner;
            ASSERT_TRUE(scanner.prepareForClear());
            ok = scanner.clearModule(module, busKey);
        });
        return ok;
    }
    QZEModuleDataPtr reported(const std::string& acronym) const {
        for (const auto& m : delegate->modules())
            if (m->accronym() == acronym) return m;
        return nullptr;
    }
    Texts commands() const { return core->commands(); }

    // The engine's clock, logger and settings fakes; the gateway replaces the settings, the
    // sensor and vehicle adapters with its own.
    EngineFakes fakes;
    TempDir resources{"qz-scan-sim"};
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
};

// A Ford of 2009 read on high- and medium-speed CAN, with a module that answered before and is
// now silent read three times; a medium-speed module cleared; the sensor left as it was found.
TEST_F(ScanThroughSimTest, FordScanSwitchesToMediumSpeedCanAndClearsThere) {
    writeResource("enhanceddiag/Ford_CAN.xml", kFordModules);
    connect(kFordProfile, "1FAHP3F269L123456");
    fakes.crew.registerModuleStatusManager(std::make_shared<RememberedBody>());
    scan();
    fakes.crew.registerModuleStatusManager(nullptr);

    auto read = [](const std::string& id, int times = 1) {
        Texts out;
        for (int i = 0; i < times; ++i) out.insert(out.end(), {"KQSH" + id, "19 02 FF"});
        return out;
    };
    Texts expected = {"KQRP1", "KQDP", "KQCM7FF"};
    // Then the J1850 PWM list's one module, which does not answer.
    for (const auto& part :
         {read("7E0"), read("720"), read("726", 3), Texts{"KQSP="}, read("7E0"), read("720"),
          read("726", 3), Texts{"KQSP6", "KQX1", "KQSP1"}, read("7FF")})
        expected.insert(expected.end(), part.begin(), part.end());
    const Texts restore = {"KQSP6", "KQCM7F8", "KQD", "010D", "KQSH7FF", "KQCF7FF", "3E", "KQD"};
    expected.insert(expected.end(), restore.begin(), restore.end());
    expected.insert(expected.end(), {"KQTC", "KQTCP", "KQTCA"});
    EXPECT_EQ(commands(), expected);
    EXPECT_EQ(fakes.secondsSlept(), 5.0);

    EXPECT_EQ(delegate->acronyms(),
              (Texts{"PCM", "IPC", "BCM", "PCM", "IPC*MSCAN", "BCM", "NONE", "OBD"}));
    EXPECT_EQ(reported("PCM")->codeList(), Texts{"P0123-45"});
    auto ms = reported("IPC*MSCAN");
    ASSERT_TRUE(ms);
    EXPECT_EQ(ms->codeList(), Texts{"U0100-00"});
    EXPECT_EQ(reported("OBD")->codeList(), (Texts{"P0420", "P0171"}));
    EXPECT_EQ(reported("OBD")->statusList(), (Texts{"CONFIRMED/PENDING", "PENDING"}));

    core->clearCommands();
    EXPECT_TRUE(clear(ms, 1));
    Texts clearing = {"KQRP1", "KQDP", "KQSP=", "KQCM7FF", "KQSH720", "14 FF FF FF", "KQSP6"};
    clearing.insert(clearing.end(), restore.begin(), restore.end());
    EXPECT_EQ(commands(), clearing);

    // The cleared module now reads no codes, under the same name; the other one still has its
    // code.
    delegate = std::make_shared<RecordingDelegate>();
    scan();
    EXPECT_EQ(delegate->acronyms(),
              (Texts{"PCM", "IPC", "BCM", "PCM", "IPC*MSCAN", "BCM", "NONE", "OBD"}));
    EXPECT_EQ(reported("PCM")->codeList(), Texts{"P0123-45"});
}

// A Hyundai K-line module found on the third pin pair is named by its pins and cleared there,
// with the pins switched back afterwards and the K-line bus reinitialised.
TEST_F(ScanThroughSimTest, HyundaiKLineScanFindsAndClearsAModuleOnItsPins) {
    writeResource("enhanceddiag/Hyundai_KLine.xml", kHyundaiModules);
    connect(kHyundaiProfile, "KMHDU46D09U123456");
    scan();
    Texts expected = {"KQRP1", "KQDP", "KQSP5"};
    for (const char* pins : {"80", "C0", "D0", "70"}) {
        expected.push_back(std::string("KQSM") + pins);
        if (std::string(pins) == "80") expected.insert(expected.end(), {"KQX1", "KQH1"});
        expected.insert(expected.end(), {"KQSH28", "18 00 FF 00"});
    }
    // The MUT bus's set-up and its list's one module, which does not answer.
    expected.insert(expected.end(),
                    {"KQSP5", "KQSMC0", "KQX0", "KQSH8040F1", "KQSH7FF", "19 02 FF"});
    const Texts restore = {"KQSP5", "KQD", "010D", "KQX0"};
    expected.insert(expected.end(), restore.begin(), restore.end());
    expected.insert(expected.end(), {"KQTC", "KQTCP", "KQTCA"});
    EXPECT_EQ(commands(), expected);
    EXPECT_EQ(delegate->acronyms(), (Texts{"ABS", "ABS-C0", "ABS", "ABS", "NONE", "OBD"}));
    auto abs = reported("ABS-C0");
    ASSERT_TRUE(abs);
    EXPECT_EQ(abs->codeList(), Texts{"P0123"});

    core->clearCommands();
    EXPECT_TRUE(clear(abs, 4));
    Texts clearing = {"KQRP1", "KQDP", "KQX1", "KQH1", "KQSMC0", "KQSH28", "14 FF 00", "KQSM70"};
    clearing.insert(clearing.end(), restore.begin(), restore.end());
    EXPECT_EQ(commands(), clearing);
    EXPECT_EQ(core->pins(), "70");

    delegate = std::make_shared<RecordingDelegate>();
    scan();
    EXPECT_EQ(delegate->acronyms(), (Texts{"ABS", "ABS-C0", "ABS", "ABS", "NONE", "OBD"}));
}

}  // namespace
}  // namespace qz::scanningtest
