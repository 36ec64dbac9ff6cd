#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <typeindex>
#include <vector>

#include "lib/Descriptions/QZETroubleCodes.hpp"
#include "lib/Facades/QZEData.hpp"
#include "lib/Facades/QZEModuleStatusManager.hpp"
#include "lib/Modules/Makes/Bmw.hpp"
#include "lib/Modules/Makes/Honda.hpp"
#include "lib/Modules/Makes/Mercedes.hpp"
#include "lib/Modules/Makes/QZEModuleOptions.hpp"
#include "lib/Modules/Makes/Vag.hpp"
#include "lib/Scanning/QZEnhancedScanner.hpp"
#include "platform/Bundle.hpp"
#include "platform/DispatchQueue.hpp"
#include "support/EngineFakes.hpp"
#include "vehicle/VehicleTestSupport.hpp"

// The engine's adapters for the scanner tests, and module objects whose reads and clears follow
// a script, so the scanners are tested apart from the module classes' own protocols.
namespace qz::scanningtest {

using namespace testsupport;
using Texts = std::vector<std::string>;

// The pin-tracking scripted sensor of EngineFakes, keeping only what "KQSM" selects, that also
// answers the protocol text and VIN.
class ScanVehicle : public PinTrackingVehicle {
  public:
    explicit ScanVehicle(std::shared_ptr<EventLog> log) : PinTrackingVehicle(std::move(log)) {
        tracksProtocol = false;
    }
    OptionalText protocolText;
    OptionalText vinText;
    // Called with each set-up command before it is answered.
    std::function<void(const std::string&)> onSetup;

    // A switch the sensor does not accept ("?"), set-up or plain.
    std::string refused;
    // After that many more looks at the link it is seen closed once, then open again (-1:
    // never).
    std::atomic<int> looksBeforeClosing{-1};

    bool isLinkOpen() override {
        int left = looksBeforeClosing.load();
        while (left >= 0 && !looksBeforeClosing.compare_exchange_weak(left, left - 1)) {
        }
        return left != 0;
    }
    OptionalText obd2ProtocolString() override { return protocolText; }
    OptionalText vin() override { return vinText; }
    bool sendSetupCommandToOstrel(const OptionalText& cmd) override {
        if (onSetup) onSetup(cmd.value_or(""));
        return PinTrackingVehicle::sendSetupCommandToOstrel(cmd) && cmd != refused;
    }
    OptionalText sendCommandToOstrel(const OptionalText& cmd) override {
        auto reply = PinTrackingVehicle::sendCommandToOstrel(cmd);
        if (cmd == refused) return std::string("?\r\r>");
        return reply;
    }
};

struct FakeSession : QZESessionProtocol {
    int64_t make = 0;
    OptionalText vinText;
    OptionalText activeVin() override { return vinText; }
    int64_t activeProtocol() override { return make; }
};

// Remembers response states per module key and VIN.
class FakeStatusManager : public ModuleStatusManagerProtocol {
  public:
    void setResponseState(int64_t state, const OptionalText& key,
                          const OptionalText& vin) override {
        std::lock_guard lock(mutex_);
        states[key.value_or("") + "|" + vin.value_or("")] = state;
        keys.push_back(key.value_or(""));
    }
    int64_t responseStateForModuleKey(const OptionalText& key, const OptionalText& vin) override {
        std::lock_guard lock(mutex_);
        auto it = states.find(key.value_or("") + "|" + vin.value_or(""));
        return it == states.end() ? 0 : it->second;
    }
    std::map<std::string, int64_t> states;
    Texts keys;

  private:
    std::mutex mutex_;
};

// One read of a scripted module.
// Scripts name a read's leading fields only; the others keep their defaults. GCC flags every
// such row as missing its initializers: not a fault here.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
struct Read {
    int64_t state = ResponseStateHasData;
    Texts codes;
    Texts statuses;
    Texts definitions;
    // Written as the module's "RESPONSE_PIN_COMMAND" after the read.
    std::string pins;
    bool ok = true;
};

// What the scripted modules do, by module acronym: reads in order (the last repeats; none: no
// data) and the clear result (yes when not given). Every read and clear is logged in the
// event log as "read:<acronym>" and "clear:<acronym>" (with " on DIAG-H" while the Honda DIAG-H
// flag is set).
struct ModuleScript {
    std::map<std::string, std::deque<Read>> reads;
    std::map<std::string, bool> clears;
    // Called with the acronym during each read.
    std::function<void(const std::string&)> onRead;
    std::mutex mutex;

    Read next(const std::string& acronym) {
        std::lock_guard lock(mutex);
        auto it = reads.find(acronym);
        if (it == reads.end() || it->second.empty()) return Read{ResponseStateNoData};
        Read r = it->second.front();
        if (it->second.size() > 1) it->second.pop_front();
        return r;
    }
};

class ScriptedModule : public QZEDiagnosticModule {
  public:
    ScriptedModule(std::shared_ptr<ModuleScript> script, std::shared_ptr<EventLog> events)
        : script_(std::move(script)), events_(std::move(events)) {}

    bool scanCodes(QZEModuleData& module) override {
        const std::string name = module.accronym().value_or("");
        events_->add("read:" + name + diagH());
        if (script_->onRead) script_->onRead(name);
        Read r = script_->next(name);
        codes_ = r.codes;
        statuses_ = r.statuses;
        definitions_ = r.definitions;
        state_ = std::max(state_, r.state);
        if (!r.pins.empty()) module.setExtra("RESPONSE_PIN_COMMAND", r.pins);
        return r.ok;
    }
    bool clearCodes(QZEModuleData& module) override {
        const std::string name = module.accronym().value_or("");
        events_->add("clear:" + name + diagH());
        std::lock_guard lock(script_->mutex);
        auto it = script_->clears.find(name);
        return it == script_->clears.end() || it->second;
    }
    const Texts& codeArray() const override { return codes_; }
    const Texts& statusArray() const override { return statuses_; }
    const Texts& definitionArray() const override { return definitions_; }
    int32_t requestType() const override { return 7; }
    void setRequestType(int32_t) override {}
    int64_t responseState() const override { return state_; }
    void setResponseState(int64_t value) override { state_ = value; }

  private:
    static std::string diagH() {
        return QZEHondaKlineDiagnosticModule::DIAGH() ? " on DIAG-H" : "";
    }
    std::shared_ptr<ModuleScript> script_;
    std::shared_ptr<EventLog> events_;
    Texts codes_, statuses_, definitions_;
    int64_t state_ = 0;
};

// The module class the scanner chose and the settings it handed over.
struct Loaded {
    std::type_index type = typeid(void);
    bool delay = false;
    bool performAll = false;
    bool alternate = false;
    int64_t highPin = -1;
    std::shared_ptr<QZEVagGlobalTroubleCodeStore> store;
};

// A module scanner whose module objects are scripted, after the real choice and sensor
// preparation.
class TestModuleScanner : public QZEModuleScanner {
  public:
    TestModuleScanner(std::shared_ptr<ModuleScript> script, std::shared_ptr<EventLog> events)
        : script_(std::move(script)), events_(std::move(events)) {}

    std::unique_ptr<QZEDiagnosticModule> loadModule(int64_t busKey, int32_t scanType) override {
        auto real = QZEModuleScanner::loadModule(busKey, scanType);
        if (!real) return nullptr;
        Loaded l;
        l.type = typeid(*real);
        if (auto* d = dynamic_cast<QZEMakeModule*>(real.get())) l.delay = d->delayTransmission();
        if (auto* p = dynamic_cast<QZEMultiPinModule*>(real.get())) l.highPin = p->highPin();
        if (auto* m = dynamic_cast<QZEMercedesKlineDiagnosticModule*>(real.get()))
            l.performAll = m->performAllMethodScan();
        if (auto* b = dynamic_cast<QZEBmwKlineDiagnosticModule*>(real.get()))
            l.alternate = b->useAlternateMethod();
        if (auto* v = dynamic_cast<QZEVAGKLineModule*>(real.get())) l.store = v->codeStore();
        if (auto* v = dynamic_cast<QZEVAGCanModule*>(real.get())) l.store = v->codeStore();
        loaded.push_back(l);
        return std::make_unique<ScriptedModule>(script_, events_);
    }
    std::vector<Loaded> loaded;

  private:
    std::shared_ptr<ModuleScript> script_;
    std::shared_ptr<EventLog> events_;
};

class TestEnhancedScanner : public QZEnhancedScanner {
  public:
    TestEnhancedScanner(std::shared_ptr<ModuleScript> script, std::shared_ptr<EventLog> events)
        : script_(std::move(script)), events_(std::move(events)) {}
    TestModuleScanner& testScanner() { return static_cast<TestModuleScanner&>(*moduleScanner()); }

  protected:
    std::shared_ptr<QZEModuleScanner> makeModuleScanner() override {
        return std::make_shared<TestModuleScanner>(script_, events_);
    }

  private:
    std::shared_ptr<ModuleScript> script_;
    std::shared_ptr<EventLog> events_;
};

// Keeps what the scanner reports.
class RecordingDelegate : public QZEEnhancedScannerDelegate {
  public:
    void scannedModule(const QZEModuleDataPtr& module) override {
        {
            std::lock_guard lock(mutex_);
            modules_.push_back(module);
            onMain_.push_back(DispatchQueue::isMainThread());
        }
        if (onModule) onModule(module);
    }
    void interactionRequired(const std::string& message) override {
        {
            std::lock_guard lock(mutex_);
            messages_.push_back(message);
        }
        if (onInteraction) onInteraction();
    }
    // After the deliveries queued on the main queue.
    std::vector<QZEModuleDataPtr> modules() const {
        DispatchQueue::main()->sync([] {});
        std::lock_guard lock(mutex_);
        return modules_;
    }
    std::vector<bool> onMainQueue() const {
        DispatchQueue::main()->sync([] {});
        std::lock_guard lock(mutex_);
        return onMain_;
    }
    Texts acronyms() const {
        Texts out;
        for (const auto& m : modules()) out.push_back(m->accronym().value_or("(null)"));
        return out;
    }
    Texts messages() const {
        std::lock_guard lock(mutex_);
        return messages_;
    }
    std::function<void()> onInteraction;
    // Called with each module reported, as a receiver that changes it would.
    std::function<void(const QZEModuleDataPtr&)> onModule;

  private:
    mutable std::mutex mutex_;
    std::vector<QZEModuleDataPtr> modules_;
    std::vector<bool> onMain_;
    Texts messages_;
};

// Every module-list file of the definition files, each holding one module "NONE" that no
// vehicle answers: a make's lists are all there unless a test writes its own (a list that
// cannot be read, or holds no module, stops a module scan).
inline void writeEmptyModuleLists(const std::filesystem::path& resources) {
    auto write = [&](const std::string& name) {
        vehicletest::writeResource(
            resources, "enhanceddiag/" + name + ".xml",
            "<m><module Acronym=\"NONE\" Description=\"" + name + "\" Request_ID=\"7FF\"/></m>");
    };
    for (const char* name : vehicletest::kBusModuleLists) write(name);
    for (const char* name : {"bmw-modules", "vag-modules-tcs"}) write(name);
}

// EngineFakes with the vehicle above, a session, a status manager and a resource folder of
// the test's own.
class ScanningTest : public ::testing::Test {
  protected:
    ScanningTest() {
        fakes.useVehicle(vehicle);
        fakes.crew.registerSessionAdapter(session);
        writeEmptyModuleLists(resources.path());
        Bundle::setLibraryPath(resources.path());
        QZETroubleCodes::TheCodes().reset();
        setMake(6);
    }
    ~ScanningTest() override {
        fakes.crew.registerSessionAdapter(nullptr);
        fakes.crew.registerModuleStatusManager(nullptr);
        QZETroubleCodes::TheCodes().reset();
        Bundle::setLibraryPath({});
    }

    void setMake(int64_t make) {
        vehicle->make = make;
        session->make = make;
    }
    void setVin(const std::string& vin) {
        vehicle->vinText = vin;
        session->vinText = vin;
    }
    void useStatusManager() { fakes.crew.registerModuleStatusManager(statusManager); }
    void writeResource(const std::string& relative, const std::string& plain) {
        vehicletest::writeResource(resources.path(), relative, plain);
    }

    // A module record listed under a bus key.
    static QZEModuleDataPtr module(const std::string& acronym, const std::string& bus,
                                   std::map<std::string, std::string> extras = {}) {
        auto m = std::make_shared<QZEModuleData>();
        m->setAccronym(acronym);
        m->setDescription(acronym + " module");
        m->setRequestId("7E0");
        m->setResponseId("7E8");
        m->setBusType(bus);
        for (const auto& [k, v] : extras) m->setExtra(k, v);
        return m;
    }

    // The events without the scripted module traffic's replies: "setup:", "send:", "sleep:",
    // "read:", "clear:".
    Texts events() const { return fakes.events->events(); }
    void clearEvents() { fakes.events->clear(); }

    EngineFakes fakes;
    std::shared_ptr<ScanVehicle> vehicle = std::make_shared<ScanVehicle>(fakes.events);
    std::shared_ptr<FakeSession> session = std::make_shared<FakeSession>();
    std::shared_ptr<FakeStatusManager> statusManager = std::make_shared<FakeStatusManager>();
    std::shared_ptr<ModuleScript> script = std::make_shared<ModuleScript>();
    TempDir resources{"qz-scanning"};
};

}  // namespace qz::scanningtest
