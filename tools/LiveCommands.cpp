#include "LiveCommands.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <set>

#include <nlohmann/json.hpp>

#include "Answers.hpp"
#include "DiagSession.hpp"
#include "ExitStatus.hpp"
#include "Reasons.hpp"
#include "api/Communication/PelkSensorState.hpp"
#include "api/Communication/Relay.hpp"
#include "api/Communication/SessionController.hpp"
#include "api/Gateway/Gateway.hpp"
#include "api/Live/SmogInfoReport.hpp"
#include "api/Live/VinCheck.hpp"
#include "api/PIDs/BinaryPID.hpp"
#include "api/PIDs/DirectDataPID.hpp"
#include "api/PIDs/HexText.hpp"
#include "api/PIDs/NumericPID.hpp"
#include "api/PIDs/PID0902.hpp"
#include "api/VIN/VIN.hpp"

namespace qz::tools {

namespace {

// A command's failure on a connection that did not open or whose sensor is in recovery mode.
int fail(bool json, const std::string& command, const Connection& connection) {
    return printFailure(
        json, command, connection.error.value_or("no connection"), connection.failed(),
        connection.recovery ? std::optional<std::string>("recoveryMode") : std::nullopt);
}

}  // namespace

int Connection::failed() const {
    return recovery ? kRecovery : kFailed;
}

bool Connection::dropped(Gateway& gateway) const {
    // The closing reaches the listener after the work "GatewayQueue" is busy with: the session
    // knows it first, and the relay as soon as it declared the sensor dead.
    auto session = gateway.sessionController();
    return (session && !session->isLinkOpen()) || !gateway.relay()->linkOpen() ||
           (states && states->has([](const PelkSensorState& s) {
               return s.kind() == PelkSensorState::Kind::onSensorDisconnected;
           }));
}

Connection connect(Gateway& gateway) {
    Connection connection;
    auto sensors = gateway.connectedDevices();
    if (sensors.empty()) {
        connection.error = "no sensor in reach";
        return connection;
    }
    connection.states = std::make_shared<Answers<PelkSensorState>>();
    gateway.connect(sensors.front(), connection.states->callback());
    auto first = connection.states->first();
    if (!first) {
        connection.error = "the sensor did not answer";
        return connection;
    }
    if (first->kind() != PelkSensorState::Kind::onSensorConnected ||
        gateway.status() != SensorConnectionStatus::connected) {
        connection.error = "the connection did not open";
        return connection;
    }
    connection.recovery = first->status() == PelkSensorStatus::recoveryMode;
    if (connection.recovery) {
        // It takes no commands until its firmware is updated: each would only time out.
        connection.error = kRecoveryText;
        disconnect(gateway);
    }
    return connection;
}

void disconnect(Gateway& gateway) {
    gateway.disconnect();
    Gateway::gatewayQueue()->sync([] {});
}

std::string vinFailure(Gateway& gateway, CommError error) {
    if (error != CommError::invalidData) return reason(error);
    // Read again as it stands, to tell a VIN that fails its check from none.
    Answers<Result<std::shared_ptr<PIDInfo>, CommError>> answer;
    gateway.updatePID(std::make_shared<PID0902>(), answer.callback());
    const auto read = answer.first();
    const std::string vin = read && *read ? (**read)->valueAsText(false) : std::string();
    if (vin.empty()) return "the vehicle gave no VIN";
    const std::string why = vinCheckFailure(vin);
    if (why.empty()) return reason(error);
    return "the vehicle reported " + vin + ", which fails the VIN check: " + why;
}

std::string readableValue(const PIDInfo& pid) {
    auto numeric = dynamic_cast<const NumericPID*>(&pid);
    if (!numeric || pid.supportStatus() != SupportStatus::supported) return pid.valueAsText(false);
    auto value = numeric->value();
    if (!value) return pid.valueAsText(false);
    // As many decimals as one step of the scaling needs: 100/255 % gives one, 0.01 g/s two.
    const double step = std::fabs(numeric->scalar());
    int decimals = 0;
    if (step > 0 && step < 1)
        decimals = std::clamp(static_cast<int>(std::ceil(-std::log10(step) - 1e-9)), 0, 6);
    double shown = value->value;
    const double unit = std::pow(10.0, decimals);
    if (std::round(shown * unit) == 0) shown = 0;  // no "-0.0"
    char number[64];
    std::snprintf(number, sizeof number, "%.*f", decimals, shown);
    std::string text = number;
    if (value->unit && !value->unit->symbol().empty()) text += " " + value->unit->symbol();
    return text;
}

namespace {

// A parameter as --json shows it; `error` null when its value was read.
nlohmann::json parameterJson(const std::shared_ptr<PIDInfo>& p,
                             const std::optional<std::string>& error = std::nullopt) {
    nlohmann::json value = nullptr;
    nlohmann::json unit = nullptr;
    if (auto numeric = std::dynamic_pointer_cast<NumericPID>(p)) {
        if (auto v = numeric->value()) value = v->value;
        if (numeric->units() && !numeric->units()->symbol().empty())
            unit = numeric->units()->symbol();
    } else if (auto flag = std::dynamic_pointer_cast<BinaryPID>(p)) {
        if (auto v = flag->value()) value = *v;
    } else if (auto bytes = std::dynamic_pointer_cast<DirectDataPID>(p)) {
        if (auto v = bytes->value()) {
            std::string text;
            for (uint8_t b : *v) text += (text.empty() ? "" : " ") + asTwoDigitHex(uint64_t{b});
            value = text;
        }
    } else if (!p->data().empty()) {
        value = p->valueAsText(false);
    }
    return {{"pid", asTwoDigitHex(p->pid())},
            {"name", p->fullName()},
            {"shortName", p->shortName()},
            {"value", value},
            {"unit", unit},
            {"text", p->valueAsText(false)},
            {"supported", p->supportStatus() == SupportStatus::supported},
            {"error", error ? nlohmann::json(*error) : nlohmann::json()}};
}

// What --json shows for a PID number the catalogue does not know.
nlohmann::json unknownJson(uint64_t number) {
    return {{"pid", asTwoDigitHex(number)},
            {"name", nullptr},
            {"shortName", nullptr},
            {"value", nullptr},
            {"unit", nullptr},
            {"text", nullptr},
            {"supported", false},
            {"error", "not in the catalogue"}};
}

std::optional<uint64_t> pidNumber(const std::string& text) {
    std::string_view t(text);
    if (t.starts_with("0x") || t.starts_with("0X")) t.remove_prefix(2);
    if (t.empty() || t.size() > 2) return std::nullopt;
    return parseHex64(t);
}

}  // namespace

int runVin(bool json, DiagSession& session) {
    Gateway& gateway = *session.gateway();
    const Connection connection = connect(gateway);
    if (connection.error) return fail(json, "vin", connection);
    Answers<Result<std::string, CommError>> answer;
    gateway.requestVin(answer.callback());
    auto result = answer.first();
    const auto why = result && !*result ? vinFailure(gateway, result->error()) : std::string();
    disconnect(gateway);
    if (!result)
        return printFailure(json, "vin", "the library did not answer", connection.failed());
    if (!*result)
        return printFailure(json, "vin", "the VIN could not be read: " + why, connection.failed(),
                            describe(result->error()));
    const std::string vin = **result;
    auto year = VIN::year(vin);
    const std::string make = VIN::manufacturerName(vin);
    const std::string parent = VIN::parentString(vin);
    if (json) {
        std::cout << nlohmann::json{{"vin", vin},
                                    {"year", year ? nlohmann::json(*year) : nlohmann::json()},
                                    {"make", make},
                                    {"parent", parent}}
                         .dump(2)
                  << "\n";
    } else {
        std::cout << "VIN:    " << vin << "\n"
                  << "Year:   " << (year ? std::to_string(*year) : "unknown") << "\n"
                  << "Make:   " << make << "\n"
                  << "Parent: " << parent << "\n";
    }
    return 0;
}

int runLive(bool json, const std::vector<std::string>& pids, DiagSession& session) {
    std::set<uint64_t> wanted;
    for (const auto& text : pids) {
        auto n = pidNumber(text);
        if (!n) return usageError(json, "live", "not a PID number: " + text);
        wanted.insert(*n);
    }
    Gateway& gateway = *session.gateway();
    const Connection connection = connect(gateway);
    if (connection.error) return fail(json, "live", connection);

    Answers<Result<std::vector<std::shared_ptr<PIDInfo>>, PelkError>> discovery;
    session.engineNotes().clear();
    gateway.supportedPids(discovery.callback());
    auto supported = discovery.first();
    if (!supported || !*supported) {
        // A link that went away is said so, not blamed on the vehicle; nor is a set-up the
        // sensor did not take, which the library's log names.
        const auto notes = session.engineNotes().notes();
        const std::string why = connection.dropped(gateway) ? kLinkDropped
                                : !notes.empty()            ? notes.front()
                                : supported                 ? reason(supported->error())
                                                            : "the library did not answer";
        disconnect(gateway);
        return printFailure(
            json, "live", "the supported parameters could not be read: " + why, connection.failed(),
            supported ? std::optional(supported->error().description()) : std::nullopt);
    }

    // The parameter objects to show, and one request per PID number: a refresh feeds every
    // supported object of its number.
    std::vector<std::shared_ptr<PIDInfo>> shown;
    std::vector<std::shared_ptr<PIDInfo>> requests;
    std::set<uint64_t> requested;
    std::vector<uint64_t> unknown;
    if (wanted.empty()) {
        shown = **supported;
        for (auto& p : shown)
            if (requested.insert(p->pid()).second) requests.push_back(p);
    } else {
        for (auto& p : gateway.pids()) {
            if (!wanted.count(p->pid())) continue;
            shown.push_back(p);
            const bool isSupported = p->supportStatus() == SupportStatus::supported;
            if (!isSupported || requested.insert(p->pid()).second) requests.push_back(p);
        }
        for (uint64_t n : wanted)
            if (std::none_of(shown.begin(), shown.end(), [&](auto& p) { return p->pid() == n; })) {
                std::cerr << "qzdiag: PID " << asTwoDigitHex(n) << " is not in the catalogue\n";
                unknown.push_back(n);
            }
    }
    // Each failed request's error: its case name (--json), and in words.
    std::map<uint64_t, std::string> errors, said;
    bool dropped = false;
    for (auto& p : requests) {
        // Once the link is gone nothing more is asked.
        if (dropped || (dropped = connection.dropped(gateway))) {
            errors[p->pid()] = describe(CommError::notConnected);
            said[p->pid()] = kLinkDropped;
            continue;
        }
        Answers<Result<std::shared_ptr<PIDInfo>, CommError>> refreshed;
        gateway.updatePID(p, refreshed.callback());
        auto r = refreshed.first();
        if (!r) {
            errors[p->pid()] = "no answer";
            said[p->pid()] = "the library did not answer";
        } else if (!*r) {
            errors[p->pid()] = describe(r->error());
            said[p->pid()] = connection.dropped(gateway) ? kLinkDropped : reason(r->error());
        }
    }
    dropped = dropped || connection.dropped(gateway);
    disconnect(gateway);

    // Each parameter's error: its request's, else "no value" when nothing decodes.
    size_t read = 0;
    std::vector<std::optional<std::string>> shownErrors;
    for (auto& p : shown) {
        std::optional<std::string> error;
        if (auto e = errors.find(p->pid()); e != errors.end())
            error = e->second;
        else if (parameterJson(p)["value"].is_null())
            error = "no value";
        if (!error) ++read;
        shownErrors.push_back(error);
    }
    if (json) {
        nlohmann::json list = nlohmann::json::array();
        for (size_t i = 0; i < shown.size(); ++i)
            list.push_back(parameterJson(shown[i], shownErrors[i]));
        for (uint64_t n : unknown) list.push_back(unknownJson(n));
        std::cout << list.dump(2) << "\n";
    } else {
        for (size_t i = 0; i < shown.size(); ++i) {
            const auto& p = shown[i];
            std::string line =
                asTwoDigitHex(p->pid()) + "  " + p->fullName() + ": " + readableValue(*p);
            if (auto e = said.find(p->pid()); e != said.end()) line += "  (" + e->second + ")";
            std::cout << line << "\n";
        }
    }
    if (read > 0) return kSuccess;
    std::cerr << "qzdiag: no value could be read"
              << (dropped ? std::string(": ") + kLinkDropped : "") << "\n";
    return connection.failed();
}

int runSmog(bool json, DiagSession& session) {
    Gateway& gateway = *session.gateway();
    const Connection connection = connect(gateway);
    if (connection.error) return fail(json, "smog", connection);
    Answers<Result<std::shared_ptr<SmogInfoReport>, SmogInfoError>> answer;
    session.engineNotes().clear();
    gateway.requestSmogInfo(answer.callback());
    auto result = answer.first();
    disconnect(gateway);
    if (!result)
        return printFailure(json, "smog", "the library did not answer", connection.failed());
    if (!*result) {
        // What failed, as the library's log says it.
        std::string why;
        for (const auto& note : session.engineNotes().notes())
            why += (why.empty() ? "" : "; ") + note;
        return printFailure(
            json, "smog", "the smog check failed: " + (why.empty() ? reason(result->error()) : why),
            connection.failed(), describe(result->error()));
    }
    auto report = **result;
    auto monitors = report->monitorStatus();
    const std::string verdict = describe(report->smogCheckResult());
    std::vector<std::pair<std::string, std::shared_ptr<NumericPID>>> figures = {
        {"runTimeSinceEngineStart", report->runTimeSinceEngineStart()},
        {"distanceMilOn", report->distanceMilOn()},
        {"distanceMilOff", report->distanceMilOff()},
        {"timeMilOn", report->timeMilOn()},
        {"timeMilOff", report->timeMilOff()}};
    if (json) {
        nlohmann::json doc{{"verdict", verdict},
                           {"milOn", monitors->milOn()},
                           {"dtcCount", monitors->dtcCount()},
                           {"monitorsComplete", monitors->areAllComplete()},
                           {"monitorStatus", monitors->description()},
                           {"numConfirmed", report->numConfirmed()},
                           {"numPending", report->numPending()}};
        // A counter not read carries its request's error; one not given is unsupported.
        for (auto& [key, pid] : figures) {
            const auto notRead = report->notRead(pid->pid());
            doc[key] =
                parameterJson(pid, notRead ? std::optional(describe(*notRead)) : std::nullopt);
        }
        std::cout << doc.dump(2) << "\n";
    } else {
        std::cout << "Verdict:          " << verdict << "\n"
                  << "MIL:              " << (monitors->milOn() ? "on" : "off") << "\n"
                  << "Emission codes:   " << monitors->dtcCount() << "\n"
                  << "Stored codes:     " << report->numConfirmed() << "\n"
                  << "Pending codes:    " << report->numPending() << "\n"
                  << "Monitors:         " << monitors->description() << "\n";
        for (auto& [key, pid] : figures) {
            const auto notRead = report->notRead(pid->pid());
            std::cout << pid->fullName() << ": "
                      << (notRead ? "not read (" + reason(*notRead) + ")" : readableValue(*pid))
                      << "\n";
        }
    }
    return 0;
}

}  // namespace qz::tools
