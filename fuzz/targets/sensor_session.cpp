// A scripted sensor session through the relay: sensor start-up, the recovery probe, support
// discovery, a refresh of every supported parameter, VIN support and the VIN, and the smog
// check, each exchange answered by the script.
//
// The input is cut at every 0x00 into one part per command (or firmware frame), in order:
// an empty part is silence, a part that starts with 0x01 is what the simulated sensor would
// answer, anything else is the reply text, delivered in chunks cut at every 0x02. Once the
// script ends the sensor is silent.

#include "FuzzTarget.hpp"
#include "api/Communication/Relay.hpp"
#include "api/Communication/SensorDelegate.hpp"
#include "api/Communication/SensorReceiver.hpp"
#include "api/Communication/Vehicle.hpp"
#include "api/Live/SmogInfoRetriever.hpp"
#include "api/PIDs/PID0902.hpp"
#include "api/PIDs/PIDInterface.hpp"
#include "sim/SensorCore.hpp"

using namespace qz;

namespace {

class ScriptedSensor : public SensorDelegate {
  public:
    explicit ScriptedSensor(std::vector<std::string> script) : script_(std::move(script)) {}

    void send(const std::string& cmd) override {
        std::string command = cmd;
        if (!command.empty() && command.back() == '\r') command.pop_back();
        answer([&] { return core_.answer(command); });
    }
    void write(const Data&, bool) override {
        answer([] { return std::string(); });
    }
    void setReceiver(const std::shared_ptr<SensorReceiver>& receiver) override {
        receiver_ = receiver;
    }

  private:
    template <class Simulated>
    void answer(Simulated simulated) {
        if (next_ >= script_.size()) return;
        const std::string& part = script_[next_++];
        auto receiver = receiver_.lock();
        if (!receiver || part.empty()) return;
        const std::string reply = part.front() == '\x01' ? simulated() : part;
        for (const auto& chunk : fuzz::split(reply, '\x02'))
            if (!chunk.empty()) receiver->received(chunk);
    }

    std::vector<std::string> script_;
    size_t next_ = 0;
    sim::SensorCore core_;
    std::weak_ptr<SensorReceiver> receiver_;
};

}  // namespace

QZ_FUZZ_TARGET(sensor_session) {
    auto sensor = std::make_shared<ScriptedSensor>(fuzz::split(fuzz::textOf(data, size), '\0'));
    auto relay = Relay::createWithSensor(sensor);
    auto vehicle = Vehicle::create(std::nullopt);
    vehicle->setRelay(relay);
    if (!vehicle->initializeVehicle()) (void)vehicle->checkIfInRecoveryMode();

    PIDInterface pids;
    pids.setRelay(relay);
    pids.setVehicle(vehicle);
    if (pids.checkSupport()) {
        for (const auto& p : pids.supportedPIDs()) {
            if (!pids.updatePid(p)) continue;
            (void)p->valueAsText(false);
            (void)p->valueAsText(true);
        }
    }
    (void)pids.checkVinSupport();
    auto vin = std::make_shared<PID0902>();
    if (pids.updatePid(vin)) (void)vin->valueAsText();

    auto smog = SmogInfoRetriever(vehicle).retrieveSmogStatus();
    if (smog) (void)(*smog)->description();
}
