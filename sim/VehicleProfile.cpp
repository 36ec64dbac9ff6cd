#include "sim/VehicleProfile.hpp"

#include <cctype>
#include <fstream>
#include <sstream>
#include <stdexcept>

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

}  // namespace

VehicleProfile VehicleProfile::fromJson(const nlohmann::json& doc) {
    if (!doc.is_object()) fail("the document must be an object");
    VehicleProfile p;
    p.raw = doc;
    if (doc.contains("sensor")) {
        const auto& s = doc["sensor"];
        if (!s.is_object()) fail("\"sensor\" must be an object");
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
