#include "sim/SensorCore.hpp"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <set>

#include "platform/Locked.hpp"
#include "sim/SensorDisplay.hpp"

namespace qz::sim {

namespace {

std::string normalise(const std::string& command) {
    std::string key;
    for (char c : command) {
        // Blanks and control characters (the BMW set-up puts 0x10 before "KQCD1") are ignored.
        if (c == ' ' || static_cast<unsigned char>(c) < 0x20) continue;
        key.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    }
    return key;
}

bool isHexText(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) {
        return std::isxdigit(static_cast<unsigned char>(c)) != 0;
    });
}

bool startsWith(const std::string& s, const char* prefix) {
    return s.rfind(prefix, 0) == 0;
}

std::string hexByte(unsigned v) {
    char buf[4];
    std::snprintf(buf, sizeof buf, "%02X", v & 0xFFu);
    return buf;
}

// Set-up commands the sensor accepts with "OK" (after the "KQ"/"AT" head).
constexpr const char* kSetupHeads[] = {"AX", "A$", "L0",  "L1", "S0", "S1", "ST",
                                       "AT", "CC", "CAF", "FC", "TA", "WS", "Z"};

// The pins a protocol selects ("KQSP" text → "KQSM" pair); none: the pins stay.
std::optional<std::string> pinsOfProtocol(const std::string& protocol) {
    static const std::map<std::string, std::string> pins = {
        {"1", "2A"}, {"2", "20"}, {"3", "70"}, {"4", "70"}, {"5", "70"}, {"6", "6E"}, {"7", "6E"},
        {"8", "6E"}, {"9", "6E"}, {":", "10"}, {";", "E0"}, {"<", "19"}, {"=", "3B"}};
    auto it = pins.find(protocol);
    if (it == pins.end()) return std::nullopt;
    return it->second;
}

enum class Family { Can, KLine, J1850 };

std::optional<uint32_t> hexValue(const std::string& text) {
    if (text.empty() || text.size() > 8 || !isHexText(text)) return std::nullopt;
    return static_cast<uint32_t>(std::stoul(text, nullptr, 16));
}

// The protocol text that stands for the vehicle's bus while none is selected.
std::string autoProtocol(int bus) {
    if (bus == 58) return ":";
    if (bus == 59) return ";";
    return std::to_string(bus);
}

// The bus a protocol text selects, as "KQDP" reports it; the vehicle's bus when automatic.
int activeBus(const std::string& protocol, int vehicleBus) {
    if (protocol.size() == 1 && protocol[0] >= '1' && protocol[0] <= '9') return protocol[0] - '0';
    if (protocol == ":") return 58;
    if (protocol == ";") return 59;
    return vehicleBus;
}

Family familyOf(const std::string& protocol, int vehicleBus) {
    if (protocol == ":" || protocol == "<" || protocol == "=") return Family::Can;
    if (protocol == ";") return Family::KLine;
    const int bus = activeBus(protocol, vehicleBus);
    if (bus == 1 || bus == 2) return Family::J1850;
    if ((bus >= 3 && bus <= 5) || bus == 59 || bus == 97) return Family::KLine;
    return Family::Can;
}

bool listed(const std::vector<std::string>& choices, const std::string& value) {
    return choices.empty() || std::find(choices.begin(), choices.end(), value) != choices.end();
}

// The longest request key of `table` that begins `request` (both hex without blanks).
const ModuleProfile::Replies::value_type* longestPrefix(const ModuleProfile::Replies& table,
                                                        const std::string& request) {
    const ModuleProfile::Replies::value_type* best = nullptr;
    for (const auto& entry : table)
        if (startsWith(request, entry.first.c_str()) &&
            (!best || entry.first.size() > best->first.size()))
            best = &entry;
    return best;
}

// What a unit does on a generic clear: its stored and pending codes go (permanent ones stay),
// the lamp goes off with its code count, every non-continuous monitor it supports starts over
// (not complete; the continuous ones run all the time), and the counters since the clear and
// those of the lamp restart from 0.
void clearGenerically(EcuProfile& ecu) {
    ecu.stored.clear();
    ecu.pending.clear();
    auto bytesOf = [](const std::string& text) {
        std::string digits;
        for (char c : text)
            if (c != ' ') digits += c;
        std::vector<unsigned> bytes;
        if (digits.size() % 2 != 0 || !isHexText(digits)) return bytes;  // left as it stands
        for (size_t i = 0; i + 1 < digits.size(); i += 2)
            bytes.push_back(static_cast<unsigned>(std::stoul(digits.substr(i, 2), nullptr, 16)));
        return bytes;
    };
    auto textOf = [](const std::vector<unsigned>& bytes) {
        std::string text;
        for (unsigned b : bytes) {
            if (!text.empty()) text += ' ';
            text += hexByte(b);
        }
        return text;
    };
    if (auto status = ecu.mode1.find(0x01); status != ecu.mode1.end()) {
        auto bytes = bytesOf(status->second);
        if (bytes.size() == 4) {
            bytes[0] = 0;         // lamp off, no code
            bytes[3] = bytes[2];  // each supported monitor not complete
            status->second = textOf(bytes);
        }
    }
    for (uint8_t counter : {0x21, 0x30, 0x31, 0x4D, 0x4E})
        if (auto it = ecu.mode1.find(counter); it != ecu.mode1.end())
            if (const auto bytes = bytesOf(it->second); !bytes.empty())
                it->second = textOf(std::vector<unsigned>(bytes.size(), 0));
}

}  // namespace

Fault Fault::silence(int times, std::string match) {
    return {Kind::Silence, std::move(match), times, {}, 0, 0, 0};
}
Fault Fault::noData(int times, std::string match) {
    return {Kind::NoData, std::move(match), times, {}, 0, 0, 0};
}
Fault Fault::unknown(int times, std::string match) {
    return {Kind::Unknown, std::move(match), times, {}, 0, 0, 0};
}
Fault Fault::reply(std::string text, int times, std::string match) {
    return {Kind::Reply, std::move(match), times, std::move(text), 0, 0, 0};
}
Fault Fault::split(int parts, double gapSeconds, int times, std::string match) {
    return {Kind::Split, std::move(match), times, {}, parts, gapSeconds, 0};
}
Fault Fault::trailing(std::string text, int times, std::string match) {
    return {Kind::TrailingText, std::move(match), times, std::move(text), 0, 0, 0};
}
Fault Fault::delay(double seconds, int times, std::string match) {
    return {Kind::Delay, std::move(match), times, {}, 0, seconds, 0};
}
Fault Fault::disconnect(double reappearAfter, int times, std::string match) {
    return {Kind::Disconnect, std::move(match), times, {}, 0, reappearAfter, 0};
}

const Bytes& SensorCore::recoveryProbe() {
    static const Bytes probe = [] {
        Bytes b{0x14};
        for (char c : std::string("Recovery Mode?")) b.push_back(static_cast<uint8_t>(c));
        return b;
    }();
    return probe;
}

SensorCore::SensorCore(VehicleProfile profile) : profile_(std::move(profile)) {
    firmware_ = profile_.recovery;
    modules_.assign(profile_.modules.size(), {});
    resetState();
}

void SensorCore::resetState() {
    echo_ = profile_.echo;
    headers_ = false;
    multi_ = false;
    protocol_ = "0";
    pins_ = pinsOfProtocol(autoProtocol(profile_.bus)).value_or("6E");
    header_.clear();
    filter_.reset();
    mask_.reset();
    rawCan_ = false;
    extendedCan_ = false;
    responseBytes_ = false;
    interface_.clear();
}

std::vector<Output> SensorCore::receive(const Bytes& wire) {
    std::vector<Output> out;
    std::lock_guard lock(mutex_);
    if (firmware_) {
        fwBuffer_.insert(fwBuffer_.end(), wire.begin(), wire.end());
        feedFirmware(out);
        return out;
    }
    for (uint8_t b : wire) feedCommandByte(b, out);
    return out;
}

// In command mode a raw probe frame is recognised and ignored: a sensor that is not in
// recovery mode does not answer it. Anything else is scrambled command text.
void SensorCore::feedCommandByte(uint8_t wire, std::vector<Output>& out) {
    const Bytes& probe = recoveryProbe();
    if (line_.empty() && (!probe_.empty() || wire == probe[0])) {
        probe_.push_back(wire);
        if (probe_.back() == probe[probe_.size() - 1]) {
            if (probe_.size() == probe.size()) probe_.clear();
            return;
        }
        Bytes pending;
        pending.swap(probe_);
        // Not a probe after all: the bytes are command text.
        for (uint8_t b : pending) feedText(scrambleByte(b), out);
        return;
    }
    feedText(scrambleByte(wire), out);
}

void SensorCore::feedText(uint8_t c, std::vector<Output>& out) {
    if (c == '\r') {
        std::string command;
        command.swap(line_);
        runCommand(command, out);
    } else if (c != '\n') {
        line_.push_back(static_cast<char>(c));
    }
}

void SensorCore::feedFirmware(std::vector<Output>& out) {
    const Bytes& probe = recoveryProbe();
    std::string acks;
    while (fwBuffer_.size() >= kFrameSize) {
        // Resynchronise on a probe: text sent to a sensor in recovery is dropped before it.
        auto at = std::search(fwBuffer_.begin(), fwBuffer_.end(), probe.begin(), probe.end());
        if (at != fwBuffer_.end() && at != fwBuffer_.begin() &&
            at - fwBuffer_.begin() < static_cast<long>(kFrameSize)) {
            fwBuffer_.erase(fwBuffer_.begin(), at);
            continue;
        }
        Bytes frame(fwBuffer_.begin(), fwBuffer_.begin() + kFrameSize);
        fwBuffer_.erase(fwBuffer_.begin(), fwBuffer_.begin() + kFrameSize);
        if (frame == probe) {
            if (!acks.empty()) out.push_back({Output::Kind::Bytes, toBytes(acks), 0});
            acks.clear();
            out.push_back({Output::Kind::Bytes, scramble(std::string_view("s")), 0});
            continue;
        }
        frames_.push_back(frame);
        acks.push_back(frame[0] == 0x01 ? 'C' : frame[0] == 0x04 ? 'D' : 'K');
        if (frame[0] == 0x04 && rebootAfterUpdate_) {
            // The last frame: acknowledge it, then restart into the new firmware.
            out.push_back({Output::Kind::Bytes, toBytes(acks), 0});
            acks.clear();
            out.push_back({Output::Kind::Disconnect, {}, dropAfter_});
            out.push_back({Output::Kind::Reappear, {}, dropAfter_ + backAfter_});
            fwBuffer_.clear();
            firmware_ = false;
            ++reboots_;
            resetState();
            break;
        }
    }
    if (!acks.empty()) out.push_back({Output::Kind::Bytes, toBytes(acks), 0});
}

void SensorCore::runCommand(const std::string& command, std::vector<Output>& out) {
    commands_.push_back(command);
    std::string key = normalise(command);
    const bool echoed = echo_;  // a command that switches echo is answered in the old mode
    Reply r = applyFaults(command, key);
    if (!r.silent) {
        std::string text = r.text;
        if (echoed) text = command + "\r" + text;
        Bytes wire = scramble(text);
        int parts = std::clamp<int>(r.parts, 1, std::max<int>(1, static_cast<int>(wire.size())));
        size_t start = 0;
        for (int i = 0; i < parts; ++i) {
            size_t end = (i == parts - 1) ? wire.size() : wire.size() * (i + 1) / parts;
            out.push_back({Output::Kind::Bytes, Bytes(wire.begin() + start, wire.begin() + end),
                           r.delay + r.gap * i});
            start = end;
        }
    }
    if (r.disconnect) {
        double at = r.delay + r.gap * std::max(0, r.parts - 1);
        out.push_back({Output::Kind::Disconnect, {}, at});
        if (r.reappear >= 0) out.push_back({Output::Kind::Reappear, {}, at + r.reappear});
    }
}

SensorCore::Reply SensorCore::applyFaults(const std::string& command, const std::string& key) {
    Reply r;
    std::optional<Fault::Kind> replacement;
    std::string replacementText;
    std::string trailing;
    for (auto& f : faults_) {
        if (f.times == 0) continue;
        if (!f.match.empty() && normalise(f.match) != key) continue;
        if (f.skip > 0) {
            --f.skip;
            continue;
        }
        if (f.times > 0) --f.times;
        switch (f.kind) {
            case Fault::Kind::Silence:
                r.silent = true;
                break;
            case Fault::Kind::NoData:
            case Fault::Kind::Unknown:
            case Fault::Kind::Reply:
                if (!replacement) {
                    replacement = f.kind;
                    replacementText = f.text;
                }
                break;
            case Fault::Kind::Split:
                r.parts = f.parts;
                r.gap = f.seconds;
                break;
            case Fault::Kind::TrailingText:
                trailing += f.text;
                break;
            case Fault::Kind::Delay:
                r.delay += f.seconds;
                break;
            case Fault::Kind::Disconnect:
                r.disconnect = true;
                r.reappear = f.seconds;
                break;
        }
    }
    faults_.erase(
        std::remove_if(faults_.begin(), faults_.end(), [](const Fault& f) { return f.times == 0; }),
        faults_.end());
    if (!linkDropped_ && profile_.dropLinkAfter == key) {
        linkDropped_ = true;
        r.disconnect = true;
        r.reappear = -1;
    }
    if (r.silent) return r;
    if (!replacement) {
        // A command the profile silences gets no answer, not even the prompt.
        if (auto given = profile_.answers.find(key);
            given != profile_.answers.end() && !given->second) {
            r.silent = true;
            return r;
        }
        r.text = answerLocked(command, key);
    } else if (*replacement == Fault::Kind::NoData) {
        r.text = "NO DATA\r>";
    } else if (*replacement == Fault::Kind::Unknown) {
        r.text = "?\r>";
    } else {
        r.text = replacementText;
    }
    r.text += trailing;
    return r;
}

std::string SensorCore::answer(const std::string& command) {
    std::lock_guard lock(mutex_);
    return answerLocked(command, normalise(command));
}

std::string SensorCore::answerLocked(const std::string& command, const std::string& key) {
    if (key.empty()) return ">";
    if (auto given = profile_.answers.find(key); given != profile_.answers.end())
        return given->second ? *given->second + "\r>" : std::string();
    for (auto it = handlers_.rbegin(); it != handlers_.rend(); ++it) {
        if (auto text = (*it)(key)) return *text + "\r>";
    }
    return body(key) + "\r>";
}

std::string SensorCore::body(const std::string& key) {
    if (isHexText(key)) return header_.empty() ? obdBody(key) : moduleBody(key);
    if (!startsWith(key, "KQ") && !startsWith(key, "AT")) return "?";
    const std::string op = key.substr(2);
    if (op == "D" || op == "Z") {
        resetState();
        return "OK";
    }
    if (op == "I") return "OSAPI " + profile_.version;
    if (op == "FW") {
        loaderRequested_ = true;
        return "OK";
    }
    if (op == "DP") return std::to_string(activeBus(protocol_, profile_.bus));
    if (op == "TC") return codeBody(0);
    if (op == "TCP") return codeBody(1);
    if (op == "TCA") return codeBody(2);
    if (op == "CC") {
        for (auto& ecu : profile_.ecus) clearGenerically(ecu);
        return "OK";
    }
    if (op == "X0" || op == "X1") {
        multi_ = op == "X1";
        return "OK";
    }
    if (op == "H0" || op == "H1") {
        headers_ = op == "H1";
        return "OK";
    }
    if (op == "E0" || op == "E1") {
        echo_ = op == "E1";
        return "OK";
    }
    if (op == "AX") {
        wifiMode_ = true;
        return "OK";
    }
    if (auto reply = busSetting(op)) return *reply;
    for (const char* head : kSetupHeads) {
        if (startsWith(op, head)) return "OK";
    }
    return "?";
}

// The settings that decide which module a request reaches and how its answer is shown.
std::optional<std::string> SensorCore::busSetting(const std::string& op) {
    if (op.size() < 2) return std::nullopt;
    const std::string head = op.substr(0, 2);
    const std::string value = op.substr(2);
    auto hex = [&](std::optional<uint32_t>& target) -> std::string {
        auto v = hexValue(value);
        if (!v) return "?";
        target = v;
        return "OK";
    };
    auto flag = [&](bool& target) -> std::string {
        if (value != "0" && value != "1") return "?";
        target = value == "1";
        return "OK";
    };
    if (head == "SP") {
        if (value.empty()) return "?";
        protocol_ = value;
        pins_ = pinsOfProtocol(value).value_or(pins_);
        interface_.clear();
        return "OK";
    }
    if (head == "SM") {
        if (value.size() != 2 || !isHexText(value)) return "?";
        pins_ = value;
        return "OK";
    }
    if (head == "SH") {
        if (!hexValue(value)) return "?";
        header_ = value;
        return "OK";
    }
    if (head == "CF") return hex(filter_);
    if (head == "CM") return hex(mask_);
    if (head == "CR") return flag(rawCan_);
    if (head == "CD") return flag(extendedCan_);
    if (head == "RP") return flag(responseBytes_);
    if (head == "IF") {
        if (value.empty()) return "?";
        interface_ = value;
        return "OK";
    }
    return std::nullopt;
}

// A request to the modules the header in force selects (see sim/README.md, "Modules").
std::string SensorCore::moduleBody(const std::string& key) {
    if (key.size() % 2 != 0) return "NO DATA";
    const std::string protocol =
        protocol_ == "0" || protocol_.empty() ? autoProtocol(profile_.bus) : protocol_;
    const Family family = familyOf(protocol, profile_.bus);
    const uint32_t header = *hexValue(header_);
    // A three-byte K-line or J1850 header: format (or priority), target, tester.
    const bool threeBytes = header_.size() == 6 && family != Family::Can;
    const auto headerByte = [&](int i) { return static_cast<uint8_t>(header >> (16 - 8 * i)); };
    const uint32_t mask = mask_.value_or(0x1FFFFFFF);

    std::string out;
    for (size_t i = 0; i < profile_.modules.size(); ++i) {
        const auto& m = profile_.modules[i];
        if (!listed(m.protocols, protocol) || !listed(m.pins, pins_)) continue;
        if (!m.interface.empty() && m.interface != interface_) continue;
        if (m.request != header && !(threeBytes && m.request == headerByte(1))) continue;
        std::string request = key;
        if (family == Family::Can) {
            if (filter_ && (m.response & mask) != (*filter_ & mask)) continue;
            if (extendedCan_ != m.extRequest.has_value()) continue;
            if (m.extRequest) {
                if (key.substr(0, 2) != hexByte(*m.extRequest)) continue;
                request = key.substr(2);
            }
        }

        const auto* answer = moduleAnswer(i, request);
        if (!answer) continue;
        if (answer->text) {  // the sensor's own words or junk, as they stand
            out += *answer->text + "\r";
            if (!multi_) break;
            continue;
        }
        switch (family) {
            case Family::Can: {
                const auto id = display::identifierText(m.response, m.wide, profile_.idBytes);
                out += display::canAnswer(*answer, {id, headers_, rawCan_ || m.raw,
                                                    extendedCan_ ? m.extResponse : std::nullopt,
                                                    profile_.headersEveryLine, !profile_.noSpaces});
                break;
            }
            case Family::KLine: {
                display::KLine view{headers_,
                                    0x80,
                                    true,
                                    0xF1,
                                    static_cast<uint8_t>(m.response),
                                    profile_.iso9141Headers,
                                    !profile_.noSpaces};
                if (threeBytes) {
                    view.format = headerByte(0);
                    view.lengthInFormat = (headerByte(0) & 0x3F) != 0;
                    view.target = headerByte(2);
                }
                out += display::kLineAnswer(*answer, view);
                break;
            }
            case Family::J1850: {
                display::J1850 view{headers_, 0x6C, 0xF1, static_cast<uint8_t>(m.response),
                                    !profile_.noSpaces};
                if (threeBytes) {
                    view.priority = headerByte(0);
                    view.target = headerByte(2);
                }
                out += display::j1850Answer(*answer, view);
                break;
            }
        }
        if (!multi_) break;
    }
    return out.empty() ? "NO DATA" : out;
}

// What module `index` answers to `request` this time (none: it stays silent); a positive
// answer to its clear request clears its codes.
const ModuleProfile::Answer* SensorCore::moduleAnswer(size_t index, const std::string& request) {
    const auto& m = profile_.modules[index];
    auto& state = modules_[index];
    const auto* entry = state.cleared ? longestPrefix(m.cleared, request) : nullptr;
    const bool fromCleared = entry != nullptr;
    if (!entry) entry = longestPrefix(m.replies, request);
    if (!entry) {
        state.lastRequest.reset();
        return nullptr;
    }
    const bool repeat = state.lastRequest == entry->first && state.lastFromCleared == fromCleared;
    const size_t at = repeat ? std::min(state.next, entry->second.size() - 1) : 0;
    state.lastRequest = entry->first;
    state.lastFromCleared = fromCleared;
    state.next = at + 1;
    const auto& answer = entry->second[at];
    if (answer.text) return &answer;
    if (answer.empty()) return nullptr;
    if (answer.front().empty() || answer.front().front() != 0x7F) {
        for (const auto& clear : m.clear)
            if (startsWith(request, clear.c_str())) state.cleared = true;
    }
    return &answer;
}

std::string SensorCore::obdBody(const std::string& key) {
    if (key.size() < 4 || key.size() % 2 != 0) return "NO DATA";
    const unsigned service = std::stoul(key.substr(0, 2), nullptr, 16);
    const unsigned pid = std::stoul(key.substr(2, 2), nullptr, 16);
    std::vector<std::pair<std::string, std::string>> lines;  // address, data
    for (size_t i = 0; i < profile_.ecus.size(); ++i) {
        const auto& ecu = profile_.ecus[i];
        std::string data;
        if (service == 0x01 && key.size() == 4) {
            if (auto it = ecu.mode1.find(static_cast<uint8_t>(pid)); it != ecu.mode1.end()) {
                data = it->second;
            } else if (pid % 0x20 == 0 && !ecu.mode1.empty()) {
                auto has = [&](unsigned p) {
                    if (ecu.mode1.count(static_cast<uint8_t>(p))) return true;
                    return p % 0x20 == 0 &&
                           ecu.mode1.upper_bound(static_cast<uint8_t>(p)) != ecu.mode1.end();
                };
                if (pid == 0 || has(pid)) {
                    uint32_t bits = 0;
                    for (unsigned k = 1; k <= 32; ++k)
                        if (pid + k <= 0xFF && has(pid + k)) bits |= 1u << (32 - k);
                    data = hexByte(bits >> 24) + " " + hexByte(bits >> 16) + " " +
                           hexByte(bits >> 8) + " " + hexByte(bits);
                }
            }
        } else if (service == 0x09 && key.size() == 4) {
            const std::string vin = !ecu.vin.empty() ? ecu.vin : i == 0 ? profile_.vin : "";
            if (auto it = ecu.mode9.find(static_cast<uint8_t>(pid)); it != ecu.mode9.end()) {
                data = it->second;
            } else if (!vin.empty() && pid == 0x02) {
                data = vinBody(vin);
            } else if (pid == 0x00 && (!vin.empty() || !ecu.mode9.empty())) {
                uint32_t bits = vin.empty() ? 0 : (1u << 30);
                for (const auto& [p, _] : ecu.mode9)
                    if (p >= 1 && p <= 32) bits |= 1u << (32 - p);
                data = hexByte(bits >> 24) + " " + hexByte(bits >> 16) + " " + hexByte(bits >> 8) +
                       " " + hexByte(bits);
            }
        }
        if (!data.empty()) lines.emplace_back(ecu.address, data);
        if (!multi_ && !lines.empty()) break;
    }
    if (lines.empty()) return "NO DATA";
    std::string out;
    for (const auto& [address, data] : lines) {
        // A unit's answer may span several lines; each carries the unit's header.
        size_t start = 0;
        while (start <= data.size()) {
            size_t end = data.find('\r', start);
            if (end == std::string::npos) end = data.size();
            if (!out.empty()) out += "\r";
            if (headers_) out += address + " ";
            if (responseBytes_) out += hexByte(service | 0x40) + " " + hexByte(pid) + " ";
            out += data.substr(start, end - start) + " ";
            start = end + 1;
        }
    }
    return out;
}

// On CAN the sensor joins the frames of the VIN into one line: the count of items (01) and the
// 17 characters. On the older buses the VIN comes as five messages of a sequence number and
// four bytes, the first one padded with zeros.
std::string SensorCore::vinBody(const std::string& vin) const {
    std::string out;
    if (profile_.isCan()) {
        out = "01";
        for (char c : vin) out += " " + hexByte(static_cast<uint8_t>(c));
        return out;
    }
    std::string padded = std::string((4 - vin.size() % 4) % 4, '\0') + vin;
    for (size_t i = 0; i * 4 < padded.size(); ++i) {
        if (i) out += "\r";
        out += hexByte(static_cast<unsigned>(i + 1));
        for (size_t k = 0; k < 4; ++k) {
            out += ' ';
            out += hexByte(static_cast<uint8_t>(padded[i * 4 + k]));
        }
    }
    return out;
}

std::string SensorCore::codeBody(int which) const {
    std::vector<std::string> codes;
    std::set<std::string> seen;
    for (const auto& ecu : profile_.ecus) {
        const auto& list = which == 0 ? ecu.stored : which == 1 ? ecu.pending : ecu.permanent;
        for (const auto& code : list)
            if (seen.insert(code).second) codes.push_back(code);
    }
    if (codes.empty()) return "NO DATA";
    std::string out;
    for (const auto& code : codes) out += code + "\r";
    return out;
}

void SensorCore::addFault(Fault fault) {
    std::lock_guard lock(mutex_);
    faults_.push_back(std::move(fault));
}

void SensorCore::clearFaults() {
    std::lock_guard lock(mutex_);
    faults_.clear();
}

void SensorCore::addHandler(Handler handler) {
    std::lock_guard lock(mutex_);
    handlers_.push_back(std::move(handler));
}

std::vector<std::string> SensorCore::commands() const {
    return lockedCopy(mutex_, commands_);
}

void SensorCore::clearCommands() {
    std::lock_guard lock(mutex_);
    commands_.clear();
}

std::vector<Bytes> SensorCore::firmwareFrames() const {
    return lockedCopy(mutex_, frames_);
}

bool SensorCore::firmwareMode() const {
    return lockedCopy(mutex_, firmware_);
}

void SensorCore::setFirmwareMode(bool on) {
    std::lock_guard lock(mutex_);
    firmware_ = on;
    fwBuffer_.clear();
    line_.clear();
    probe_.clear();
}

bool SensorCore::takeLoaderRequest() {
    std::lock_guard lock(mutex_);
    return std::exchange(loaderRequested_, false);
}

int SensorCore::reboots() const {
    return lockedCopy(mutex_, reboots_);
}

void SensorCore::setRebootTimes(double dropAfter, double backAfter) {
    std::lock_guard lock(mutex_);
    dropAfter_ = dropAfter;
    backAfter_ = backAfter;
}

void SensorCore::setRebootsAfterUpdate(bool on) {
    lockedAssign(mutex_, rebootAfterUpdate_, on);
}

bool SensorCore::echo() const {
    return lockedCopy(mutex_, echo_);
}

void SensorCore::setEcho(bool on) {
    lockedAssign(mutex_, echo_, on);
}

bool SensorCore::headers() const {
    return lockedCopy(mutex_, headers_);
}

bool SensorCore::multiResponse() const {
    return lockedCopy(mutex_, multi_);
}

std::string SensorCore::protocol() const {
    return lockedCopy(mutex_, protocol_);
}

bool SensorCore::wifiMode() const {
    return lockedCopy(mutex_, wifiMode_);
}

std::string SensorCore::header() const {
    return lockedCopy(mutex_, header_);
}

std::string SensorCore::pins() const {
    return lockedCopy(mutex_, pins_);
}

VehicleProfile SensorCore::profile() const {
    return lockedCopy(mutex_, profile_);
}

void SensorCore::setProfile(VehicleProfile profile) {
    std::lock_guard lock(mutex_);
    profile_ = std::move(profile);
    firmware_ = profile_.recovery;
    modules_.assign(profile_.modules.size(), {});
    linkDropped_ = false;
    resetState();
}

}  // namespace qz::sim
