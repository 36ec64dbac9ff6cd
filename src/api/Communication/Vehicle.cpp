#include "api/Communication/Vehicle.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "api/Communication/PelkSensor.hpp"
#include "api/Communication/Relay.hpp"
#include "api/Communication/SessionController.hpp"
#include "api/Communication/VehicleInitializer.hpp"
#include "api/Data/EnhancedProtocolManufacturerNames.hpp"
#include "api/Data/PelkData.hpp"
#include "api/Logging/Log.hpp"
#include "api/PIDs/HexText.hpp"
#include "api/PIDs/PIDInfo.hpp"
#include "api/PIDs/PIDRequest.hpp"
#include "api/VIN/VIN.hpp"
#include "lib/Content/DefinitionFile.hpp"
#include "lib/Decoders/QZEReplyText.hpp"
#include "lib/Facades/QZEPitCrew.hpp"
#include "lib/XMLParsers/QZERebrandedVinChecker.hpp"
#include "platform/Clock.hpp"
#include "platform/Locked.hpp"
#include "platform/Text.hpp"

namespace qz {

namespace {

constexpr std::size_t kVinLength = 17;

struct PinCommand {
    const char* command;
    int64_t high;
    int64_t low;
};

constexpr PinCommand kPinCommands[] = {
    {"KQSP1", 2, 10}, {"KQSP2", 2, 0},  {"KQSP3", 7, 0},  {"KQSP4", 7, 0},  {"KQSP5", 7, 0},
    {"KQSP6", 6, 14}, {"KQSP7", 6, 14}, {"KQSP8", 6, 14}, {"KQSP9", 6, 14}, {"KQSP:", 1, 0},
    {"KQSP;", 14, 0}, {"KQSP<", 1, 9},  {"KQSP=", 3, 11},
};

std::string removingAll(std::string text, std::string_view what) {
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at)) {
        text.erase(at, what.size());
    }
    return text;
}

}  // namespace

std::shared_ptr<Vehicle> Vehicle::create() {
    return create(
        DefinitionFile::path("Rebranded-VINs", "xml", DefinitionFile::kEnhancedDiagDirectory));
}

std::shared_ptr<Vehicle> Vehicle::create(std::optional<std::filesystem::path> rebrandedVins) {
    return std::shared_ptr<Vehicle>(new Vehicle(std::move(rebrandedVins)));
}

Vehicle::Vehicle(std::optional<std::filesystem::path> rebrandedVins)
    : m_rebrandingChecker(std::make_unique<QZERebrandedVinChecker>(std::move(rebrandedVins))) {}

Vehicle::~Vehicle() = default;

std::shared_ptr<Relay> Vehicle::relay() const {
    return lockedCopy(m_mutex, m_relay);
}

void Vehicle::setRelay(std::shared_ptr<Relay> relay) {
    lockedAssign(m_mutex, m_relay, std::move(relay));
}

void Vehicle::registerWithEngine(QZEPitCrew& pitCrew) {
    auto self = shared_from_this();
    pitCrew.registerSessionAdapter(self);
    pitCrew.registerVehicleStateInfoAdapter(self);
    pitCrew.registerVehicleCommuications(self);
    pitCrew.registerVehicleSensorStateTracker(self);
}

VehicleInitializer& Vehicle::initializer() {
    // Built on first use, on the work queue.
    std::lock_guard lock(m_mutex);
    if (!m_initializer) m_initializer = std::make_unique<VehicleInitializer>(*this);
    return *m_initializer;
}

bool Vehicle::initializeVehicle() {
    lockedAssign(m_mutex, m_initialized, false);
    {
        // A sensor that starts up shows no headers and runs its automatic protocol, whatever a
        // scan cut short by a lost link had selected.
        std::lock_guard lock(m_mutex);
        m_headersShown = false;
        m_responseBytesShown = false;
        m_responseBytesRefused = false;
        // GCC 12 sees an overlap in std::string's inlined copy here that cannot occur (a false
        // warning).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wrestrict"
        m_activeObdProtocol = "0";
#pragma GCC diagnostic pop
    }
    auto& init = initializer();
    if (!init.doStandardInit(2)) return false;

    // A version not read is not known: the one this sensor told before is a guess, kept for the
    // engine's firmware check alone (it may choose what is tried, and says what it leaves out).
    float version = 0;
    std::string versionText;
    std::optional<int64_t> hundredfold;
    int64_t guess = 0;
    const auto sensor = sensorIdentifier();
    if (init.sensorVersionRead()) {
        version = init.sensorVersion();
        versionText = init.sensorVersionText();
        // Rounded, so that 2.10 (2.0999999 in single precision) is stored as 210.
        hundredfold = std::llround(static_cast<double>(version) * 100.0);
        if (sensor) PelkData::shared()->setSensorVersionOf(*sensor, *hundredfold);
    } else if (auto stored = sensor ? PelkData::shared()->sensorVersionOf(*sensor) : std::nullopt) {
        guess = *stored;
        char text[32];
        std::snprintf(text, sizeof text, "%lld.%02lld", static_cast<long long>(*stored / 100),
                      static_cast<long long>(*stored % 100));
        Log::i(std::string("Sensor version not read; the one this sensor told before, ") + text +
               ", is only a guess");
    } else {
        Log::e("Sensor version not read and none stored for this sensor: it is not known");
    }
    const BusProtocol bus = init.busProtocol();
    {
        std::lock_guard lock(m_mutex);
        m_activeSensorVersion = version;
        m_activeSensorVersionText = versionText;
        m_sensorVersionGuess = guess;
        m_activeMainBus = bus;
    }
    PelkData::shared()->setActiveSensorVersion(hundredfold);
    PelkData::shared()->setActiveBusProtocol(bus);
    lockedAssign(m_mutex, m_initialized, true);
    return true;
}

std::optional<std::string> Vehicle::sensorIdentifier() const {
    auto r = relay();
    auto sessions = r ? r->bt() : nullptr;
    auto sensor = sessions ? sessions->activeSensor() : nullptr;
    return sensor ? sensor->identifier() : std::nullopt;
}

bool Vehicle::checkIfInRecoveryMode() {
    Data probe = {0x14};
    for (char c : std::string_view("Recovery Mode?")) probe.push_back(static_cast<uint8_t>(c));
    for (int attempt = 0; attempt < 3; ++attempt) {
        auto r = relay();
        if (!r) continue;
        auto answer = r->sendFwModeCommand(probe);
        if (answer && *answer == "s") return true;
    }
    return false;
}

Result<std::string, CommError> Vehicle::exchange(const std::string& command) {
    auto r = relay();
    if (!r) return std::unexpected(CommError::noDelegate);
    return r->sendToSensor(command, false, 0, MultiResponseStrategy{});
}

QZECommandReply Vehicle::sendCommand(const OptionalText& cmd) {
    if (!cmd) {
        Log::e("Invalid cmd");
        return {kNoDataReply, false};
    }
    auto reply = exchange(*cmd);
    if (!reply) {
        // A reply that stopped before its prompt: the part that came, told as cut short. One
        // whose answer is not known (the main queue held it) is cut short, nothing come or not.
        if (auto r = relay(); r && reply.error() == CommError::timedOut) {
            std::string part = r->timedOutPart();
            if (!reply::tokens(part).empty() || r->answerUnknown()) return {std::move(part), true};
        }
        return {kNoDataReply, false};
    }
    // A set-up sent plain is in force only when the sensor took it.
    if (reply::isAccepted(*reply)) proccessPinSwitchCommands(*cmd);
    return {std::move(*reply), false};
}

OptionalText Vehicle::sendCommandToOstrel(const OptionalText& cmd) {
    // A reply cut short is a failure as any other here: its part travels only with the fact.
    QZECommandReply reply = sendCommand(cmd);
    if (reply.cutShort) return kNoDataReply;
    return std::move(reply.text);
}

QZESetupAnswer Vehicle::sendSetupCommand(const OptionalText& cmd) {
    if (!cmd) {
        Log::e("Invalid cmd");
        return QZESetupAnswer::refused;
    }
    auto reply = exchange(*cmd);
    if (isResponseBytesCommand(*cmd)) followResponseBytes(*cmd, reply);
    if (!reply) return QZESetupAnswer::unanswered;
    // "OK" with no refusal, NO DATA or error word beside it; what the sensor did not take is not
    // in force.
    if (!reply::isAccepted(*reply)) return QZESetupAnswer::refused;
    proccessPinSwitchCommands(*cmd);
    return QZESetupAnswer::accepted;
}

bool Vehicle::sendSetupCommandToOstrel(const OptionalText& cmd) {
    return sendSetupCommand(cmd) == QZESetupAnswer::accepted;
}

bool Vehicle::sendSetupCommandToOstrel(const OptionalText& cmd, bool ignoreTimeout) {
    // A missing command is a failure here too, never reported as accepted.
    return sendSetupCommandToOstrel(cmd);
}

bool Vehicle::isLinkOpen() {
    auto r = relay();
    return !r || r->linkOpen();
}

void Vehicle::pause(double seconds) {
    auto clock = Clock::current();
    for (double left = seconds; left > 0 && isLinkOpen(); left -= kLinkPoll)
        clock->sleepFor(std::min(left, kLinkPoll));
}

void Vehicle::proccessPinSwitchCommands(const std::string& cmd) {
    const std::string bare = removingAll(cmd, " ");
    if (bare.rfind("KQSP", 0) == 0) {
        std::lock_guard lock(m_mutex);
        m_activeObdProtocol = removingAll(bare, "KQSP");
        for (const auto& pin : kPinCommands) {
            if (bare == pin.command) {
                m_activeHighPin = pin.high;
                m_activeLowPin = pin.low;
                break;
            }
        }
    } else if (bare == "KQH1" || bare == "ATH1") {
        lockedAssign(m_mutex, m_headersShown, true);
    } else if (bare == "KQH0" || bare == "ATH0") {
        lockedAssign(m_mutex, m_headersShown, false);
    } else if (bare == "KQRP1" || bare == "ATRP1" || bare == "KQRP0" || bare == "ATRP0") {
        lockedAssign(m_mutex, m_responseBytesShown, bare.back() == '1');
    } else if (bare == "KQD" || bare == "ATD" || bare == "KQZ" || bare == "ATZ") {
        std::lock_guard lock(m_mutex);
        m_headersShown = false;
        m_responseBytesShown = false;
    } else if (bare.rfind("KQSM", 0) == 0) {
        // Characters as the user sees them: "KQSM", the high pin, the low pin.
        const auto characters = text::split(bare, 1);
        if (characters.size() != 6) {
            Log::e("Invalid pin select command: " + cmd);
            return;
        }
        const uint8_t high = hexToUInt8(characters[4]);
        const uint8_t low = hexToUInt8(characters[5]);
        std::lock_guard lock(m_mutex);
        m_activeHighPin = high;
        m_activeLowPin = low;
    }
}

uint8_t Vehicle::hexToUInt8(std::string_view text) {
    if (text.rfind("0x", 0) == 0) text.remove_prefix(2);
    if (text.empty()) return 0;
    unsigned value = 0;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (ec != std::errc() || ptr != text.data() + text.size() || value > 255) return 0;
    return static_cast<uint8_t>(value);
}

Result<std::string, CommError> Vehicle::sendAndUpdate(PIDInfo& pid, bool multipleResponses,
                                                      MultiResponseStrategy strategy) {
    auto r = relay();
    if (!r) return std::unexpected(CommError::noDelegate);
    // Named answers: a late rest of an earlier answer is not taken for this one.
    const auto named = answersNamed();
    if (!named) return std::unexpected(named.error());
    auto reply = PIDRequest::of(pid).ask(*r, *named, multipleResponses, 0, strategy);
    if (!reply) return reply;

    const std::string cleaned = removingAll(*reply, " \r>");
    if (!isHex(removingAll(cleaned, " "))) return std::unexpected(CommError::invalidData);
    std::vector<std::string> tokens;
    std::size_t start = 0;
    while (true) {
        const auto space = cleaned.find(' ', start);
        tokens.push_back(cleaned.substr(start, space - start));
        if (space == std::string::npos) break;
        start = space + 1;
    }
    if (static_cast<int64_t>(tokens.size()) != pid.responseBytes()) {
        return std::unexpected(CommError::invalidData);
    }
    pid.setData(std::move(tokens));
    return reply;
}

std::optional<std::string> Vehicle::currentVin() const {
    return lockedCopy(m_mutex, m_currentVin);
}

void Vehicle::setCurrentVin(std::optional<std::string> vin) {
    {
        std::lock_guard lock(m_mutex);
        if (m_currentVin == vin) return;
        m_currentVin = vin;
    }
    bool matched = false;
    int64_t listedMake = 0;
    if (m_rebrandingChecker) {
        listedMake = m_rebrandingChecker->checkVinForMake(vin);
        matched = m_rebrandingChecker->matched();
    }
    const std::string parent = VIN::parentString(vin);
    PelkData::shared()->setActiveParentMan(parent);

    EnhancedProtocolManufacturer make = static_cast<EnhancedProtocolManufacturer>(listedMake);
    if (!matched) {
        make = vin && text::characterCount(*vin) == kVinLength
                   ? enhancedProtocolManufacturerFrom(parent)
                   : EnhancedProtocolManufacturer::Unknown;
    }
    auto year = VIN::year(vin);

    std::lock_guard lock(m_mutex);
    m_activeEnhancedProtocol = make;
    m_activeYear = year ? std::optional<int64_t>(*year) : std::nullopt;
}

bool Vehicle::initialized() const {
    return lockedCopy(m_mutex, m_initialized);
}

BusProtocol Vehicle::activeMainBus() const {
    return lockedCopy(m_mutex, m_activeMainBus);
}

EnhancedProtocolManufacturer Vehicle::activeEnhancedProtocol() const {
    return lockedCopy(m_mutex, m_activeEnhancedProtocol);
}

std::optional<int64_t> Vehicle::activeYear() const {
    return lockedCopy(m_mutex, m_activeYear);
}

float Vehicle::activeSensorVersion() const {
    return lockedCopy(m_mutex, m_activeSensorVersion);
}

std::string Vehicle::activeSensorVersionText() const {
    return lockedCopy(m_mutex, m_activeSensorVersionText);
}

int64_t Vehicle::sensorVersionGuess() {
    return lockedCopy(m_mutex, m_sensorVersionGuess);
}

void Vehicle::setActivePins(BusPins pins) {
    std::lock_guard lock(m_mutex);
    m_activeHighPin = pins.high;
    m_activeLowPin = pins.low;
}

int64_t Vehicle::activeHighPin() {
    return lockedCopy(m_mutex, m_activeHighPin);
}

int64_t Vehicle::activeLowPin() {
    return lockedCopy(m_mutex, m_activeLowPin);
}

std::optional<bool> Vehicle::responseBytesShown() const {
    return lockedCopy(m_mutex, m_responseBytesShown);
}

bool Vehicle::showResponseBytes(bool shown) {
    if (responseBytesShown() == shown) return true;
    // A sensor that refused them once is not asked again before it starts up anew.
    if (shown && lockedCopy(m_mutex, m_responseBytesRefused)) return false;
    const std::string command = shown ? "KQRP1" : "KQRP0";
    auto reply = exchange(command);
    if (reply && reply::isAccepted(*reply)) {
        proccessPinSwitchCommands(command);
        return true;
    }
    followResponseBytes(command, reply);
    if (shown && reply && reply::holdsSensorError(*reply))
        lockedAssign(m_mutex, m_responseBytesRefused, true);
    return false;
}

bool Vehicle::isResponseBytesCommand(const std::string& cmd) {
    const std::string bare = removingAll(cmd, " ");
    return bare == "KQRP1" || bare == "KQRP0" || bare == "ATRP1" || bare == "ATRP0";
}

void Vehicle::followResponseBytes(const std::string& command,
                                  const Result<std::string, CommError>& reply) {
    // "OK" puts the command in force (as followed on acceptance) and a refusal ("?", an error
    // word) leaves the sensor as it was; after anything else it may print either way.
    if (reply && (reply::isAccepted(*reply) || reply::holdsSensorError(*reply))) return;
    auto r = relay();
    const bool unknown = !reply && r && r->answerUnknown();
    std::lock_guard lock(m_mutex);
    if (m_responseBytesShown) m_responseBytesUnknown = setupNotTaken(command, reply, unknown);
    m_responseBytesShown = std::nullopt;
}

std::string Vehicle::responseBytesUnknown() const {
    std::lock_guard lock(m_mutex);
    return m_responseBytesShown ? std::string() : m_responseBytesUnknown;
}

std::string Vehicle::setupNotTaken(std::string_view command,
                                   const Result<std::string, CommError>& reply,
                                   bool answerUnknown) {
    if (!reply && answerUnknown)
        return "the answer to the set-up command " + std::string(command) +
               " did not come through in time: the app's main queue held it";
    if (!reply) return "the sensor did not answer the set-up command " + std::string(command);
    return "the sensor refused the set-up command " + std::string(command) + " (it answered \"" +
           reply::joinedTokens(reply::tokens(*reply)) + "\")";
}

Result<bool, CommError> Vehicle::answersNamed(bool wanted) {
    if (showResponseBytes(wanted)) return wanted;
    if (auto state = responseBytesShown()) return *state;
    if (showResponseBytes(!wanted)) return !wanted;
    if (auto state = responseBytesShown()) return *state;
    return std::unexpected(isLinkOpen() ? CommError::timedOut : CommError::notConnected);
}

std::optional<bool> Vehicle::headersShown() {
    return lockedCopy(m_mutex, m_headersShown);
}

OptionalText Vehicle::activeProtocolString() {
    return lockedCopy(m_mutex, m_activeObdProtocol);
}

int64_t Vehicle::modelYear() {
    std::lock_guard lock(m_mutex);
    return m_activeYear.value_or(0);
}

int64_t Vehicle::vehicleDataManufacturer() {
    return activeProtocol();
}

OptionalText Vehicle::obd2ProtocolString() {
    return qz::obd2ProtocolString(activeMainBus());
}

OptionalText Vehicle::vin() {
    return activeVin();
}

OptionalText Vehicle::activeVin() {
    return currentVin().value_or("");
}

int64_t Vehicle::activeProtocol() {
    std::lock_guard lock(m_mutex);
    return static_cast<int64_t>(m_activeEnhancedProtocol);
}

}  // namespace qz
