#include "api/PIDs/PIDInterface.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "api/Communication/Relay.hpp"
#include "api/Communication/Vehicle.hpp"
#include "api/Live/LiveDataSupportChecker.hpp"
#include "api/Logging/Log.hpp"
#include "api/PIDs/HexText.hpp"
#include "api/PIDs/Mode1/Mode1PIDs.hpp"
#include "api/PIDs/PIDRequest.hpp"
#include "lib/Decoders/QZEReplyText.hpp"
#include "platform/Locked.hpp"

namespace qz {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string trimmed(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && isBlank(s[b])) ++b;
    while (e > b && isBlank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

std::vector<std::string> splitDroppingEmpty(const std::string& s, char sep) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : s) {
        if (c == sep) {
            if (!cur.empty()) out.push_back(std::move(cur));
            cur.clear();
        } else {
            cur.push_back(c);
        }
    }
    if (!cur.empty()) out.push_back(std::move(cur));
    return out;
}

// One left-to-right pass: text that the removal joins up is not removed again.
void removeAll(std::string& s, std::string_view what) {
    for (size_t at = 0; (at = s.find(what, at)) != std::string::npos;) s.erase(at, what.size());
}

double numberOf(const std::shared_ptr<NumericPID>& pid) {
    auto v = pid->value();
    return v ? v->value : 0.0;
}

}  // namespace

std::string PIDInterface::requestText(const PIDInfo& pid) {
    return PIDRequest::of(pid).text();
}

Result<std::vector<std::string>, CommError> PIDInterface::cleanAnswer(const std::string& answer,
                                                                      Mode mode,
                                                                      int64_t responseBytes) {
    // The answer's lines are the non-empty pieces between carriage returns, trimmed; the last
    // is the prompt line. The data lines' texts, joined with single blanks, are split at every
    // single blank (empty tokens count). From two data lines on, each line of a live-data
    // answer gives its words (runs between blanks) but the first; a line that gives none still
    // leaves the empty token between its neighbours. No joined text is built: the tokens are
    // taken from the lines as they stand.
    const std::string_view all(answer);
    size_t lines = 0, promptStart = 0;
    for (size_t at = 0; at < all.size();) {
        const size_t cr = std::min(all.find('\r', at), all.size());
        if (cr > at) {
            ++lines;
            promptStart = at;
        }
        at = cr + 1;
    }
    if (lines < 2) return std::unexpected(CommError::invalidData);
    const bool dropFirst = mode == Mode::LiveData && lines >= 3;

    std::vector<std::string> tokens;
    tokens.reserve(promptStart / 3 + 1);
    for (size_t at = 0; at < promptStart;) {
        const size_t cr = all.find('\r', at);
        std::string_view line = all.substr(at, cr - at);
        at = cr + 1;
        if (line.empty()) continue;
        while (!line.empty() && isBlank(line.front())) line.remove_prefix(1);
        while (!line.empty() && isBlank(line.back())) line.remove_suffix(1);
        if (line.empty()) return std::unexpected(CommError::invalidData);
        const size_t before = tokens.size();
        bool first = dropFirst;
        const char* const end = line.data() + line.size();
        for (const char* from = line.data();; ++from) {
            const char* blank = from;
            bool hex = true;
            for (; blank != end && *blank != ' '; ++blank) hex = hex && hexDigitValue(*blank) >= 0;
            if (first && blank != from) {
                first = false;  // the echo word: neither checked nor kept
            } else if (!dropFirst || blank != from) {
                if (!hex) return std::unexpected(CommError::invalidData);
                tokens.emplace_back(from, blank);
            }
            if (blank == end) break;
            from = blank;
        }
        if (tokens.size() == before) tokens.emplace_back();
    }
    if (static_cast<int64_t>(tokens.size()) < responseBytes)
        return std::unexpected(CommError::invalidData);
    return tokens;
}

std::optional<std::string> PIDInterface::namedAnswer(std::string_view answer, const PIDInfo& pid) {
    return PIDRequest::of(pid).bytesOf(answer);
}

bool PIDInterface::namesRequest(std::string_view reply, const PIDInfo& pid) {
    return PIDRequest::of(pid).namedBy(reply);
}

std::vector<std::string> PIDInterface::vinData(const std::string& answer) {
    std::string text = answer;
    removeAll(text, " \r>");
    std::vector<std::string> lines;
    for (auto piece : splitDroppingEmpty(text, '\r')) {
        std::string line;
        for (char c : piece) {
            if (c == '>' || c == '\r')
                line.push_back(' ');
            else if (c != '\n')
                line.push_back(c);
        }
        for (size_t at = 0; (at = line.find("  ", at)) != std::string::npos; ++at)
            line.erase(at, 1);
        line = trimmed(line);
        if (std::find(lines.begin(), lines.end(), line) == lines.end()) lines.push_back(line);
    }
    std::vector<std::string> data;
    for (const auto& line : lines) {
        for (const auto& token : splitDroppingEmpty(line, ' ')) {
            auto byte = parseByte(token);
            if (!byte) continue;
            const bool vinChar =
                (*byte >= 0x30 && *byte <= 0x39) || (*byte >= 0x41 && *byte <= 0x5A);
            if (vinChar) data.push_back(asTwoDigitHex(static_cast<uint64_t>(*byte), false));
        }
    }
    if (data.empty()) data.emplace_back();
    return data;
}

Result<std::shared_ptr<PIDInfo>, CommError> PIDInterface::updatePid(
    const std::shared_ptr<PIDInfo>& pid) {
    if (!pid) return std::unexpected(CommError::invalidData);
    if (pid->mode() == Mode::VehicleInfo && pid->pid() == 2) return updateVinPid(pid);
    auto r = relay();
    if (!r) {
        Log::e("Relay not set");
        return std::unexpected(CommError::noDelegate);
    }
    // Asked to name the service and PID before the bytes, the sensor's answer shows whose it is:
    // what names another request (the late rest of an earlier answer) is none of this one's.
    auto v = vehicle();
    const auto named = v ? v->answersNamed() : Result<bool, CommError>(false);
    if (!named) return std::unexpected(named.error());
    auto bytes = PIDRequest::of(*pid).ask(*r, *named, false, 0, MultiResponseStrategy::bitwiseOr);
    if (!bytes) return std::unexpected(bytes.error());
    auto tokens = cleanAnswer(*bytes, pid->mode(), pid->responseBytes());
    if (!tokens) return std::unexpected(tokens.error());

    // Only objects of the request's own service take the answer.
    PIDList targets;
    auto map = pidMap();
    if (auto it = map->find(pid->pid()); it != map->end())
        for (const auto& p : it->second)
            if (p->mode() == pid->mode() && p->supportStatus() == SupportStatus::supported)
                targets.push_back(p);
    if (targets.empty()) targets.push_back(pid);
    for (const auto& t : targets) t->setData(*tokens);
    return pid;
}

bool PIDInterface::onCanBus(const std::shared_ptr<Vehicle>& vehicle) {
    if (!vehicle) return false;
    switch (vehicle->activeMainBus()) {
        case BusProtocol::can11500:
        case BusProtocol::can29500:
        case BusProtocol::can11250:
        case BusProtocol::can29250:
            return true;
        default:
            return false;
    }
}

Result<std::shared_ptr<PIDInfo>, CommError> PIDInterface::updateVinPid(
    const std::shared_ptr<PIDInfo>& pid) {
    auto r = relay();
    if (!r) {
        Log::e("Relay not set");
        return std::unexpected(CommError::noDelegate);
    }
    // The VIN's bytes alone where the sensor takes it; named, its names are taken off.
    auto v = vehicle();
    const auto named = v ? v->answersNamed(false) : Result<bool, CommError>(false);
    if (!named) return std::unexpected(named.error());
    const bool onCan = onCanBus(v);
    if (!onCan) (void)r->sendToSensor("KQX1", false, 0, MultiResponseStrategy::bitwiseOr);
    auto answer = PIDRequest::of(*pid).ask(*r, *named, !onCan, 0, MultiResponseStrategy::unchanged);
    if (!onCan) (void)r->sendToSensor("KQX0", false, 0, MultiResponseStrategy::bitwiseOr);
    if (!answer) return std::unexpected(answer.error());
    pid->setData(vinData(*answer));
    return pid;
}

Result<PIDInterface::PIDList, PelkError> PIDInterface::checkSupport() {
    auto r = relay();
    if (!r) {
        Log::e("Relay not set");
        return std::unexpected(PelkError::initialization());
    }
    auto v = vehicle();
    const auto named = v ? v->answersNamed() : Result<bool, CommError>(false);
    if (!named && !r->linkOpen()) return std::unexpected(PelkError::notConnected());
    if (!named) {
        // Not the vehicle: the sensor's set-up.
        Log::PublicError(std::string(kSupportNotRead) + v->responseBytesUnknown());
        return std::unexpected(PelkError::initialization());
    }
    auto walk = LiveDataSupportChecker(r, *named).checkSupport(true);
    // A walk the link's end cut short says nothing of the vehicle.
    if (!walk && !r->linkOpen()) return std::unexpected(PelkError::notConnected());
    if (!walk) return std::unexpected(PelkError::initialization());
    std::vector<bool> flags = std::move(*walk);

    std::vector<uint8_t> val13, val1D;
    auto readLayout = [&](uint64_t number, std::shared_ptr<DirectDataPID> probe,
                          std::vector<uint8_t>& into) -> bool {
        if (!flags[number]) return true;
        flags[number] = false;
        if (!updatePid(probe)) return false;
        into = probe->value().value_or(std::vector<uint8_t>{});
        return true;
    };
    if (!readLayout(0x13, std::make_shared<PID0113>(Mode::LiveData), val13))
        return std::unexpected(PelkError::initialization());
    if (!readLayout(0x1D, std::make_shared<PID011D>(Mode::LiveData), val1D))
        return std::unexpected(PelkError::initialization());

    double maxRatio = 0, maxVoltage = 0, maxCurrent = 0, maxPressure = 0, maxAirFlow = 0;
    if (flags[0x4F]) {
        flags[0x4F] = false;
        auto er = std::make_shared<PID014F_ER>(Mode::LiveData);
        auto osv = std::make_shared<PID014F_OSV>(Mode::LiveData);
        auto osc = std::make_shared<PID014F_OSC>(Mode::LiveData);
        auto imap = std::make_shared<PID014F_IMAP>(Mode::LiveData);
        for (const std::shared_ptr<PIDInfo>& p :
             {std::shared_ptr<PIDInfo>(er), std::shared_ptr<PIDInfo>(osv),
              std::shared_ptr<PIDInfo>(osc), std::shared_ptr<PIDInfo>(imap)})
            if (!updatePid(p)) return std::unexpected(PelkError::initialization());
        maxRatio = numberOf(er);
        maxVoltage = numberOf(osv);
        maxCurrent = numberOf(osc);
        maxPressure = numberOf(imap);
    }
    if (flags[0x50]) {
        flags[0x50] = false;
        auto fr = std::make_shared<PID0150_FR>(Mode::LiveData);
        if (!updatePid(fr)) return std::unexpected(PelkError::initialization());
        maxAirFlow = numberOf(fr);
    }

    // A new discovery starts from scratch: nothing a previous vehicle supported carries over.
    auto map = pidMap();
    for (const auto& [number, list] : *map)
        for (const auto& p : list) p->setSupportStatus(SupportStatus::unknown);

    for (size_t i = 0; i < flags.size(); ++i) {
        if (!flags[i]) continue;
        auto it = map->find(i);
        if (it == map->end()) continue;
        for (const auto& p : it->second) {
            p->setSupportStatus(SupportStatus::supported);
            if (auto* layout = dynamic_cast<PIDDeterminedByPID13*>(p.get()))
                layout->conformBasedOnPIDS(val13, val1D);
            if (auto* a = dynamic_cast<PIDScaledByPID4FA*>(p.get()); a && maxRatio != 0)
                a->scaleBasedOnPID4FA(maxRatio / 65535.0);
            if (auto* b = dynamic_cast<PIDScaledByPID4FB*>(p.get()); b && maxVoltage != 0)
                b->scaleBasedOnPID4FB(maxVoltage / 65535.0);
            if (auto* c = dynamic_cast<PIDScaledByPID4FC*>(p.get()); c && maxCurrent != 0)
                c->scaleBasedOnPID4FC(maxCurrent / 32768.0);
            if (auto* d = dynamic_cast<PIDScaledByPID4FD*>(p.get()); d && maxPressure != 0)
                d->scaleBasedOnPID4FD(maxPressure / 255.0);
            if (auto* f = dynamic_cast<PIDScaledByPID50A*>(p.get()); f && maxAirFlow != 0)
                f->scaleBasedOnPID50A(maxAirFlow / 65535.0);
            if (p->supportBit()) {
                if (updatePid(p)) p->setSupportedViaSupportBit();
            }
        }
    }
    return supportedPIDs();
}

Result<bool, PelkError> PIDInterface::checkVinSupport() {
    auto r = relay();
    if (!r) {
        Log::e("Relay not set");
        return std::unexpected(PelkError::initialization());
    }
    auto v = vehicle();
    const auto named = v ? v->answersNamed() : Result<bool, CommError>(false);
    if (!named)
        return std::unexpected(
            PelkError::general(describe(named.error()), static_cast<int64_t>(named.error())));
    auto supported = LiveDataSupportChecker(r, *named).checkVinSupport();
    if (!supported)
        return std::unexpected(PelkError::general(describe(supported.error()),
                                                  static_cast<int64_t>(supported.error())));
    return *supported;
}

PIDInterface::PIDMap PIDInterface::buildCatalogue() {
    PIDMap map;
    for (const auto& info : mode1Classes()) {
        if (!info.row->inCatalogue) continue;
        map[info.row->pid].push_back(info.make(Mode::LiveData));
    }
    return map;
}

std::shared_ptr<const PIDInterface::PIDMap> PIDInterface::pidMap() const {
    std::lock_guard<std::mutex> l(mutex_);
    // Building takes no outside lock and calls out to nothing, so it may run under ours.
    if (!pidMap_) pidMap_ = std::make_shared<const PIDMap>(buildCatalogue());
    return pidMap_;
}

void PIDInterface::setPidMap(PIDMap map) {
    lockedAssign(mutex_, pidMap_, std::make_shared<const PIDMap>(std::move(map)));
}

PIDInterface::PIDList PIDInterface::getPids() const {
    auto map = pidMap();
    PIDList out;
    for (const auto& [pid, list] : *map) out.insert(out.end(), list.begin(), list.end());
    return out;
}

PIDInterface::PIDList PIDInterface::supportedPIDs() const {
    auto map = pidMap();
    PIDList out;
    for (const auto& [pid, list] : *map)
        for (const auto& p : list)
            if (p->supportStatus() == SupportStatus::supported) out.push_back(p);
    return out;
}

std::shared_ptr<Relay> PIDInterface::relay() const {
    return lockedCopy(mutex_, relay_);
}

void PIDInterface::setRelay(std::shared_ptr<Relay> relay) {
    lockedAssign(mutex_, relay_, std::move(relay));
}

std::shared_ptr<Vehicle> PIDInterface::vehicle() const {
    return lockedCopy(mutex_, vehicle_);
}

void PIDInterface::setVehicle(std::shared_ptr<Vehicle> vehicle) {
    lockedAssign(mutex_, vehicle_, std::move(vehicle));
}

}  // namespace qz
