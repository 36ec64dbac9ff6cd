#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace qz::sim {

// One control unit of the simulated vehicle.
struct EcuProfile {
    std::string address;                   // header text, e.g. "7E8"
    std::map<uint8_t, std::string> mode1;  // PID -> data bytes ("1A F8"), no service/PID echo
    std::map<uint8_t, std::string> mode9;  // extra Mode 9 answers (PID -> data bytes)
    std::vector<std::string> stored;       // "KQTC"
    std::vector<std::string> pending;      // "KQTCP"
    std::vector<std::string> permanent;    // "KQTCA"
    std::string vin;  // answered to "0902" by this unit (the first unit falls back to the top vin)
};

// One manufacturer control module, reached through the header, protocol and pins in force
// (see sim/README.md, "Modules").
struct ModuleProfile {
    using Message = std::vector<uint8_t>;  // one response message, service byte first
    // What the module sends for one request: its messages, or, when `text` is set, the sensor's
    // own words or junk printed as they stand ("?", "CAN ERROR").
    struct Answer : std::vector<Message> {
        std::optional<std::string> text;
    };
    using Answers = std::vector<Answer>;             // one answer per repeat; the last one stays
    using Replies = std::map<std::string, Answers>;  // request hex (upper case, no blanks)

    std::string name;                    // for messages only
    std::vector<std::string> protocols;  // "KQSP" values that reach it; empty: any
    std::vector<std::string> pins;       // "KQSM" pairs ("6E") that reach it; empty: any
    std::string interface;               // "KQIF" value it needs; empty: any
    uint32_t request = 0;                // CAN identifier, or K-line/J1850 address
    uint32_t response = 0;
    bool wide = false;                   // 29-bit CAN identifiers
    std::optional<uint8_t> extRequest;   // extended addressing: first byte of each request
    std::optional<uint8_t> extResponse;  // extended addressing: first byte of each reply frame
    bool raw = false;                    // CAN answers are raw frames, not ISO-TP messages
    Replies replies;
    std::vector<std::string> clear;  // request hex prefixes that clear the module's codes
    Replies cleared;                 // answers that take precedence once cleared
};

// The sensor and the vehicle behind it, read from a JSON document (see sim/README.md).
// Unknown keys are kept in `raw` so that extensions can read their own sections.
struct VehicleProfile {
    std::string version = "4.05";  // answered to "KQI"
    int bus = 6;                   // answered to "KQDP"
    // With headers on, a CAN module's identifier starts every line of its answer (as ELM327-type
    // adapters print it), not only the first.
    bool headersEveryLine = false;
    // With headers on, a 29-bit identifier is printed as four spaced bytes ("18 DA F1 10").
    bool idBytes = false;
    // Module answers are printed without blanks between the bytes ("7E8037F1922"), as
    // ELM327-type adapters print them with spaces off.
    bool noSpaces = false;
    // With headers on, a K-line module's messages carry ISO 9141-2's header "48 6B <source>"
    // instead of the KWP2000 one.
    bool iso9141Headers = false;
    bool recovery = false;  // the sensor sits in firmware recovery mode
    bool echo = false;      // echo commands from start-up
    std::string vin;
    std::vector<EcuProfile> ecus;
    std::vector<ModuleProfile> modules;
    // Sensor commands (blanks removed, upper case) answered otherwise than usual: the text to
    // give (the prompt follows), or none for silence.
    std::map<std::string, std::optional<std::string>> answers;
    // The link drops right after the sensor answers this command (blanks removed, upper case)
    // the first time, and does not come back: a sensor pulled out in the middle of a scan.
    std::optional<std::string> dropLinkAfter;
    nlohmann::json raw = nlohmann::json::object();

    // Throws std::invalid_argument with a readable message on a malformed document.
    static VehicleProfile fromJson(const nlohmann::json& doc);
    static VehicleProfile fromText(const std::string& text);
    // Throws std::runtime_error when the file cannot be read.
    static VehicleProfile load(const std::filesystem::path& path);
    // The built-in profile: a CAN 11/500 car with one engine control unit.
    static VehicleProfile builtIn();
    // The folder of the sample profiles shipped with the simulator.
    static std::filesystem::path sampleFolder();

    bool isCan() const { return bus >= 6 && bus <= 9; }
};

}  // namespace qz::sim
