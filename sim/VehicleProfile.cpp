#include "sim/VehicleProfile.hpp"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <utility>

namespace qz::sim {

namespace {

const char* kBuiltInProfile = R"({
  "sensor": { "version": "4.05", "bus": 6, "recovery": false },
  "vin": "1HGCM82633A004352",
  "ecus": [
    { "address": "7E8",
      "mode1": { "01": "81 07 65 04", "05": "5A", "0C": "1A F8", "0D": "32",
                 "1C": "01", "1F": "01 2C", "21": "00 00", "30": "0A", "31": "01 F4",
                 "4D": "00 00", "4E": "00 10" },
      "stored": ["P0420"], "pending": [], "permanent": [] }
  ]
})";

[[noreturn]] void fail(const std::string& what) {
    throw std::invalid_argument("vehicle profile: " + what);
}

// Normalises a byte list text: upper-case two-digit tokens joined by single blanks.
std::string normaliseBytes(const std::string& text, const std::string& where) {
    std::istringstream in(text);
    std::string token, out;
    while (in >> token) {
        if (token.size() != 2 || !std::isxdigit(static_cast<unsigned char>(token[0])) ||
            !std::isxdigit(static_cast<unsigned char>(token[1])))
            fail(where + ": \"" + token + "\" is not a two-digit hex byte");
        for (char& c : token) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (!out.empty()) out += ' ';
        out += token;
    }
    return out;
}

std::map<uint8_t, std::string> readPidMap(const nlohmann::json& obj, const std::string& where) {
    std::map<uint8_t, std::string> out;
    if (obj.is_null()) return out;
    if (!obj.is_object()) fail(where + " must be an object");
    for (const auto& [key, value] : obj.items()) {
        if (key.size() != 2 || !std::isxdigit(static_cast<unsigned char>(key[0])) ||
            !std::isxdigit(static_cast<unsigned char>(key[1])))
            fail(where + ": key \"" + key + "\" is not a two-digit hex PID");
        if (!value.is_string()) fail(where + "." + key + " must be a text");
        out[static_cast<uint8_t>(std::stoi(key, nullptr, 16))] =
            normaliseBytes(value.get<std::string>(), where + "." + key);
    }
    return out;
}

std::vector<std::string> readCodes(const nlohmann::json& arr, const std::string& where) {
    std::vector<std::string> out;
    if (arr.is_null()) return out;
    if (!arr.is_array()) fail(where + " must be an array");
    for (const auto& code : arr) {
        if (!code.is_string()) fail(where + " must hold texts");
        out.push_back(code.get<std::string>());
    }
    return out;
}

// Hex text with blanks removed, upper-cased; none when another character is in it.
std::optional<std::string> hexText(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == ' ' || c == '\t') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
        out.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    }
    return out;
}

std::string evenHex(const nlohmann::json& value, const std::string& where) {
    if (!value.is_string()) fail(where + " must be a text");
    auto hex = hexText(value.get<std::string>());
    if (!hex || hex->size() % 2 != 0)
        fail(where + ": \"" + value.get<std::string>() + "\" is not a list of hex bytes");
    return *hex;
}

std::vector<uint8_t> bytesOf(const std::string& hex) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return out;
}

uint32_t readId(const nlohmann::json& module, const char* key, const std::string& where,
                size_t& digits) {
    if (!module.contains(key) || !module[key].is_string())
        fail(where + "." + key + " must be a text");
    auto hex = hexText(module[key].get<std::string>());
    if (!hex || hex->empty() || hex->size() > 8)
        fail(where + "." + key + " must be an identifier of 1 to 8 hex digits");
    digits = hex->size();
    return static_cast<uint32_t>(std::stoul(*hex, nullptr, 16));
}

uint8_t readByte(const nlohmann::json& value, const std::string& where) {
    std::string hex = evenHex(value, where);
    if (hex.size() != 2) fail(where + " must be one hex byte");
    return bytesOf(hex)[0];
}

// A text or a list of texts, blanks removed and upper-cased.
std::vector<std::string> readChoices(const nlohmann::json& value, const std::string& where) {
    std::vector<std::string> out;
    auto add = [&](const nlohmann::json& v) {
        if (!v.is_string()) fail(where + " must be a text or a list of texts");
        std::string text;
        for (char c : v.get<std::string>())
            if (c != ' ')
                text.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
        if (text.empty()) fail(where + " must not be empty");
        out.push_back(text);
    };
    if (value.is_array()) {
        for (const auto& v : value) add(v);
    } else {
        add(value);
    }
    return out;
}

// One answer: messages separated by "|"; an empty text is an answer of no message. A text with
// any character other than hex digits, blanks and "|" is printed as it stands.
ModuleProfile::Answer readAnswer(const nlohmann::json& value, const std::string& where) {
    if (!value.is_string()) fail(where + " must be a text");
    const std::string text = value.get<std::string>();
    ModuleProfile::Answer answer;
    if (text.find_first_not_of(" \t") == std::string::npos) return answer;
    if (text.find_first_not_of("0123456789ABCDEFabcdef \t|") != std::string::npos) {
        answer.text = text;
        return answer;
    }
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = std::min(text.find('|', start), text.size());
        std::string hex = evenHex(nlohmann::json(text.substr(start, end - start)), where);
        if (hex.empty()) fail(where + ": an empty message between \"|\"");
        if (hex.size() > 2 * 4095) fail(where + ": a message longer than 4095 bytes");
        answer.push_back(bytesOf(hex));
        start = end + 1;
    }
    return answer;
}

ModuleProfile::Replies readReplies(const nlohmann::json& obj, const std::string& where) {
    ModuleProfile::Replies out;
    if (obj.is_null()) return out;
    if (!obj.is_object()) fail(where + " must be an object");
    for (const auto& [key, value] : obj.items()) {
        const std::string at = where + "[\"" + key + "\"]";
        std::string request = evenHex(nlohmann::json(key), at);
        ModuleProfile::Answers answers;
        if (value.is_array()) {
            if (value.empty()) fail(at + " must not be an empty list");
            for (const auto& v : value) answers.push_back(readAnswer(v, at));
        } else {
            answers.push_back(readAnswer(value, at));
        }
        if (!out.emplace(request, std::move(answers)).second)
            fail(at + ": the request is given twice");
    }
    return out;
}

ModuleProfile readModule(const nlohmann::json& m, const std::string& where) {
    static const std::set<std::string> known = {"name",    "protocol", "pins",       "interface",
                                                "request", "response", "extRequest", "extResponse",
                                                "raw",     "replies",  "clear",      "cleared"};
    if (!m.is_object()) fail(where + " must be an object");
    for (const auto& [key, _] : m.items())
        if (!known.count(key)) fail(where + ": unknown key \"" + key + "\"");
    ModuleProfile module;
    if (m.contains("name")) {
        if (!m["name"].is_string()) fail(where + ".name must be a text");
        module.name = m["name"].get<std::string>();
    }
    if (m.contains("protocol")) module.protocols = readChoices(m["protocol"], where + ".protocol");
    if (m.contains("pins")) {
        module.pins = readChoices(m["pins"], where + ".pins");
        for (const auto& pins : module.pins)
            if (pins.size() != 2 || !hexText(pins))
                fail(where + ".pins: \"" + pins + "\" is not two hex digits");
    }
    if (m.contains("interface")) {
        auto choices = readChoices(m["interface"], where + ".interface");
        if (choices.size() != 1) fail(where + ".interface must be one text");
        module.interface = choices[0];
    }
    size_t requestDigits = 0, responseDigits = 0;
    module.request = readId(m, "request", where, requestDigits);
    module.response = readId(m, "response", where, responseDigits);
    module.wide = std::max(requestDigits, responseDigits) > 3 ||
                  std::max(module.request, module.response) > 0x7FF;
    if (m.contains("extRequest") != m.contains("extResponse"))
        fail(where + ": extRequest and extResponse go together");
    if (m.contains("extRequest")) {
        module.extRequest = readByte(m["extRequest"], where + ".extRequest");
        module.extResponse = readByte(m["extResponse"], where + ".extResponse");
    }
    if (m.contains("raw")) {
        if (!m["raw"].is_boolean()) fail(where + ".raw must be true or false");
        module.raw = m["raw"].get<bool>();
    }
    module.replies = readReplies(m.value("replies", nlohmann::json()), where + ".replies");
    if (m.contains("clear")) {
        for (const auto& clear : readChoices(m["clear"], where + ".clear"))
            module.clear.push_back(evenHex(nlohmann::json(clear), where + ".clear"));
    }
    module.cleared = readReplies(m.value("cleared", nlohmann::json()), where + ".cleared");
    if (!module.cleared.empty() && module.clear.empty())
        fail(where + ": \"cleared\" needs \"clear\"");
    return module;
}

// How the sensor prints module answers.
void readDisplayOptions(const nlohmann::json& sensor, VehicleProfile& p) {
    for (auto [key, flag] :
         {std::pair{"headersEveryLine", &p.headersEveryLine}, std::pair{"idBytes", &p.idBytes},
          std::pair{"noSpaces", &p.noSpaces}, std::pair{"iso9141Headers", &p.iso9141Headers}}) {
        if (!sensor.contains(key)) continue;
        if (!sensor[key].is_boolean())
            fail(std::string("sensor.") + key + " must be true or false");
        *flag = sensor[key].get<bool>();
    }
}

// A command as the sensor compares it: blanks removed, upper case.
std::string commandKey(const std::string& command) {
    std::string key;
    for (char c : command)
        if (c != ' ' && c != '\t')
            key.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    return key;
}

// sensor.answers: command text -> answer text, or null for silence.
std::map<std::string, std::optional<std::string>> readSensorAnswers(const nlohmann::json& obj) {
    if (!obj.is_object()) fail("sensor.answers must be an object");
    std::map<std::string, std::optional<std::string>> out;
    for (const auto& [command, answer] : obj.items()) {
        const std::string key = commandKey(command);
        if (key.empty()) fail("sensor.answers: an empty command");
        if (!answer.is_null() && !answer.is_string())
            fail("sensor.answers[\"" + command + "\"] must be a text or null");
        std::optional<std::string> text;
        if (answer.is_string()) text = answer.get<std::string>();
        if (!out.emplace(key, std::move(text)).second)
            fail("sensor.answers: \"" + command + "\" is given twice");
    }
    return out;
}

}  // namespace

VehicleProfile VehicleProfile::fromJson(const nlohmann::json& doc) {
    if (!doc.is_object()) fail("the document must be an object");
    VehicleProfile p;
    p.raw = doc;
    if (doc.contains("sensor")) {
        const auto& s = doc["sensor"];
        if (!s.is_object()) fail("\"sensor\" must be an object");
        readDisplayOptions(s, p);
        if (s.contains("version")) {
            if (s["version"].is_string())
                p.version = s["version"].get<std::string>();
            else if (s["version"].is_number())
                p.version = s["version"].dump();
            else
                fail("sensor.version must be a text");
        }
        if (s.contains("bus")) {
            if (!s["bus"].is_number_integer()) fail("sensor.bus must be an integer");
            p.bus = s["bus"].get<int>();
        }
        if (s.contains("recovery")) {
            if (!s["recovery"].is_boolean()) fail("sensor.recovery must be true or false");
            p.recovery = s["recovery"].get<bool>();
        }
        if (s.contains("echo")) {
            if (!s["echo"].is_boolean()) fail("sensor.echo must be true or false");
            p.echo = s["echo"].get<bool>();
        }
        if (s.contains("answers")) p.answers = readSensorAnswers(s["answers"]);
        if (s.contains("dropLinkAfter")) {
            if (!s["dropLinkAfter"].is_string() ||
                commandKey(s["dropLinkAfter"].get<std::string>()).empty())
                fail("sensor.dropLinkAfter must be a command");
            p.dropLinkAfter = commandKey(s["dropLinkAfter"].get<std::string>());
        }
    }
    if (doc.contains("vin")) {
        if (!doc["vin"].is_string()) fail("\"vin\" must be a text");
        p.vin = doc["vin"].get<std::string>();
    }
    if (doc.contains("ecus")) {
        const auto& ecus = doc["ecus"];
        if (!ecus.is_array()) fail("\"ecus\" must be an array");
        for (size_t i = 0; i < ecus.size(); ++i) {
            const auto& e = ecus[i];
            std::string where = "ecus[" + std::to_string(i) + "]";
            if (!e.is_object()) fail(where + " must be an object");
            EcuProfile ecu;
            if (!e.contains("address") || !e["address"].is_string())
                fail(where + ".address must be a text");
            ecu.address = e["address"].get<std::string>();
            ecu.mode1 = readPidMap(e.value("mode1", nlohmann::json()), where + ".mode1");
            ecu.mode9 = readPidMap(e.value("mode9", nlohmann::json()), where + ".mode9");
            ecu.stored = readCodes(e.value("stored", nlohmann::json()), where + ".stored");
            ecu.pending = readCodes(e.value("pending", nlohmann::json()), where + ".pending");
            ecu.permanent = readCodes(e.value("permanent", nlohmann::json()), where + ".permanent");
            if (e.contains("vin")) {
                if (!e["vin"].is_string()) fail(where + ".vin must be a text");
                ecu.vin = e["vin"].get<std::string>();
            }
            p.ecus.push_back(std::move(ecu));
        }
    }
    if (doc.contains("modules")) {
        const auto& modules = doc["modules"];
        if (!modules.is_array()) fail("\"modules\" must be an array");
        for (size_t i = 0; i < modules.size(); ++i)
            p.modules.push_back(readModule(modules[i], "modules[" + std::to_string(i) + "]"));
    }
    return p;
}

VehicleProfile VehicleProfile::fromText(const std::string& text) {
    nlohmann::json doc;
    try {
        doc = nlohmann::json::parse(text);
    } catch (const nlohmann::json::parse_error& e) {
        fail(std::string("not valid JSON: ") + e.what());
    }
    return fromJson(doc);
}

VehicleProfile VehicleProfile::load(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("vehicle profile: cannot read " + path.string());
    std::stringstream ss;
    ss << in.rdbuf();
    return fromText(ss.str());
}

VehicleProfile VehicleProfile::builtIn() {
    return fromText(kBuiltInProfile);
}

std::filesystem::path VehicleProfile::sampleFolder() {
#ifdef QZ_SIM_PROFILE_DIR
    return QZ_SIM_PROFILE_DIR;
#else
    return "sim/profiles";
#endif
}

}  // namespace qz::sim
