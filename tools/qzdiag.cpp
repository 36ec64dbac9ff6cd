// qzdiag: drives the library through its public API against the simulated sensor, which is
// plugged in as an MFi accessory (or in reach as a BGX13 Bluetooth LE module) and reached
// through the same session a real sensor uses.
//
//   qzdiag [OPTIONS] COMMAND [ARGS...]    qzdiag COMMAND --help    qzdiag --version
//
// Commands: info (connect, initialise, show the sensor, disconnect), logs (write the log
// archive and show its path), vin, live [PID...] and smog (the live-data and readiness calls,
// see LiveCommands.hpp), wifi (the Wi-Fi mode and configuration, see WiFiCommand.hpp), scan and
// clear (trouble codes, see ScanCommands.hpp). Exit statuses: ExitStatus.hpp.
//
// QZ_TIME_SCALE (a factor between 0 and 1) runs every wait and pause of the library that much
// faster, for tests of the demo.

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "DiagSession.hpp"
#include "ExitStatus.hpp"
#include "LiveCommands.hpp"
#include "ScanCommands.hpp"
#include "Version.hpp"
#include "WiFiCommand.hpp"
#include "platform/Clock.hpp"
#include "platform/FileSystem.hpp"

using qz::tools::DiagSession;
using qz::tools::InfoReport;
using qz::tools::kFailed;
using qz::tools::kRecovery;
using qz::tools::kSuccess;
using qz::tools::kUsage;

namespace {

struct Options {
    std::optional<std::string> vehicle;
    std::optional<std::string> home;
    qz::tools::Transport transport = qz::tools::Transport::mfi;
    bool json = false;
    bool help = false;
    bool version = false;
    std::string command;
    std::vector<std::string> args;  // after the command (the PIDs of `live`, the options of `wifi`)
};

// One command: how it is called, and what it does.
struct Command {
    const char* name;
    const char* synopsis;  // its arguments
    const char* summary;   // one line for the command list
    const char* details;   // for `qzdiag COMMAND --help`
};

const std::vector<Command>& commands() {
    static const std::vector<Command> list = {
        {"info", "", "connect to the sensor, initialise it, show its state, version and bus",
         "Connects to the first sensor in reach, waits for its start-up, shows its state,\n"
         "firmware version and vehicle bus and the library's version, and disconnects.\n"
         "Fails when the sensor does not start up (status 2 when it is in recovery mode).\n"},
        {"logs", "", "write the log archive and show its path",
         "Writes the library's log files into one compressed archive and shows its path.\n"},
        {"vin", "", "read the VIN through Mode 9, check it, show model year, make and parent",
         "Reads the VIN the vehicle reports, checks it and shows its model year, make and\n"
         "maker group. Fails when the VIN cannot be read or does not pass the check.\n"},
        {"live", "[PID...]", "refresh the supported parameters, or the listed PIDs (hex), once",
         "Finds the parameters the vehicle supports and reads each once; with PID numbers\n"
         "(hex, 0C or 0x0C), only those. Numbers are rounded to the resolution the parameter\n"
         "gives (--json keeps full precision and gives each parameter's \"error\", null when\n"
         "it was read). Fails when no value could be read: no vehicle, only unknown PIDs, or\n"
         "every value invalid.\n"},
        {"smog", "", "run the emissions-readiness check: verdict, figures and code counts",
         "Runs the emissions-readiness check: the verdict (pass, warning or fail), the\n"
         "readiness monitors, the stored and pending code counts and five distance and time\n"
         "counters.\n"},
        {"wifi",
         "--ssid S [--password P] [--security open|wep|wpa2] [--hidden] [--static "
         "IP,MASK,GATEWAY,DNS]",
         "switch the sensor to Wi-Fi mode and apply the configuration",
         "Switches the sensor to its Wi-Fi mode and applies the configuration: WPA2 unless\n"
         "--security says otherwise, DHCP unless --static gives the addresses. Fails when the\n"
         "library refuses the configuration (its reason is shown) or the sensor does not\n"
         "take it.\n"},
        {"scan", "[cel|com|all]", "scan for trouble codes (default all)",
         "Reads the VIN, then runs a check-engine (cel), quick (com) or full (all, the\n"
         "default) scan and shows every module, numbered by its position (@1, @2, ...), with\n"
         "its codes, statuses and descriptions (--json: one object with scanType, vin, make,\n"
         "result and modules, each with its position). A request to the user is shown and\n"
         "taken as done. Fails when the scan does not complete, saying why (--json: result\n"
         "is the library's case name, error the reason) with the modules read. The units\n"
         "shown are kept for clear @N (readable by the user alone); when they cannot be\n"
         "kept it says so, and no position names a module until a scan is kept.\n"},
        {"clear", "MODULE [scan [cel|com|all]]",
         "clear one module's codes (OBD: the generic codes)",
         "Scans and clears one module: MODULE is its position in the last scan shown (@5:\n"
         "a scan of that scan's kind runs, and nothing is cleared unless it has that very\n"
         "unit there, the same name, acronym, identifiers and line), or its acronym or\n"
         "name in any letter case after a full scan (OBD is the generic OBD-II module).\n"
         "A name that fits several modules (two ABS on two buses) clears none and lists\n"
         "them with their positions; one that fits none names the acronyms the scan found.\n"
         "With scan, scans again once the module has cleared. --json prints one object:\n"
         "acronym (position for @N) and cleared, the module's name, acronym and position\n"
         "once found, error (and choices or found) when it did not clear, scan (the second\n"
         "scan) when one ran. Fails when the module does not clear, or the last scan's\n"
         "record cannot be read; @ and no number is a usage error.\n"},
    };
    return list;
}

const Command* commandNamed(const std::string& name) {
    for (const auto& c : commands())
        if (name == c.name) return &c;
    return nullptr;
}

const char* kOptions =
    "options:\n"
    "  --transport mfi|ble     reach the sensor as an MFi accessory (default) or over\n"
    "                          Bluetooth LE through its BGX13 module\n"
    "  --vehicle PROFILE.json  the simulated vehicle (default: the built-in profile)\n"
    "  --home DIR              the folder that stands for the app's home\n"
    "  --json                  print one JSON document\n"
    "  -h, --help              show this help (after a command: the command's help)\n"
    "  --version               show the version\n"
    "  --                      end of options: what follows is the command and its arguments\n";

const char* kExitStatus =
    "exit status:\n"
    "  0   success\n"
    "  1   the operation failed (no sensor, or a read, scan, clear or configuration\n"
    "      that did not work)\n"
    "  2   the sensor is in firmware recovery mode: update its firmware first\n"
    "  64  usage error (unknown command or option, bad arguments)\n";

void usage(std::ostream& out) {
    out << "usage: qzdiag [OPTIONS] COMMAND [ARGS...]\n"
           "       qzdiag COMMAND --help\n"
           "       qzdiag --version\n"
           "\n"
           "commands:\n";
    for (const auto& c : commands()) {
        std::string head = std::string("  ") + c.name;
        if (*c.synopsis && std::string(c.name) != "wifi") head += std::string(" ") + c.synopsis;
        if (head.size() < 22)
            head.resize(22, ' ');
        else
            head += "\n" + std::string(22, ' ');
        out << head << c.summary << "\n";
    }
    out << "\n" << kOptions << "\n" << kExitStatus;
}

void commandUsage(const Command& c, std::ostream& out) {
    out << "usage: qzdiag [OPTIONS] " << c.name << (*c.synopsis ? " " : "") << c.synopsis << "\n\n"
        << c.details << "\n"
        << kOptions << "\n"
        << kExitStatus;
}

std::optional<Options> parse(int argc, char** argv, std::string& error) {
    Options options;
    std::vector<std::string> args(argv + 1, argv + argc);
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](const char* name) -> std::optional<std::string> {
            if (i + 1 >= args.size()) {
                error = std::string(name) + " needs a value";
                return std::nullopt;
            }
            return args[++i];
        };
        const bool isOption = !optionsEnded && !a.empty() && a[0] == '-';
        if (!isOption) {
            if (options.command.empty()) {
                options.command = a;
            } else if (options.command == "live" || options.command == "scan" ||
                       options.command == "clear") {
                options.args.push_back(a);
            } else {
                error = "unexpected argument " + a;
                return std::nullopt;
            }
        } else if (a == "--") {
            optionsEnded = true;
        } else if (options.command == "wifi" && qz::tools::isWiFiOption(a)) {
            options.args.push_back(a);
            if (qz::tools::wifiOptionTakesValue(a)) {
                auto v = value(a.c_str());
                if (!v) return std::nullopt;
                options.args.push_back(*v);
            }
        } else if (a == "--vehicle") {
            if (!(options.vehicle = value("--vehicle"))) return std::nullopt;
        } else if (a == "--transport") {
            auto t = value("--transport");
            if (!t) return std::nullopt;
            if (*t == "mfi") {
                options.transport = qz::tools::Transport::mfi;
            } else if (*t == "ble") {
                options.transport = qz::tools::Transport::ble;
            } else {
                error = "unknown transport " + *t + " (mfi or ble)";
                return std::nullopt;
            }
        } else if (a == "--home") {
            if (!(options.home = value("--home"))) return std::nullopt;
        } else if (a == "--json") {
            options.json = true;
        } else if (a == "-h" || a == "--help") {
            options.help = true;
        } else if (a == "--version") {
            options.version = true;
        } else {
            error = "unknown option " + a;
            return std::nullopt;
        }
    }
    if (options.command.empty() && !options.help && !options.version) {
        error = "no command given";
        return std::nullopt;
    }
    if (!options.command.empty() && !commandNamed(options.command)) {
        error = "unknown command " + options.command;
        return std::nullopt;
    }
    return options;
}

// Two decimals, as the sensor writes its version.
double rounded(float v) {
    return std::round(static_cast<double>(v) * 100.0) / 100.0;
}

std::string versionText(float v) {
    // No firmware is 0: the version was not read.
    if (v <= 0) return "not read";
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.2f", static_cast<double>(v));
    return buffer;
}

// A failure on standard error; with --json its document too.
int printError(const Options& options, const std::string& command, const std::string& message) {
    return qz::tools::printFailure(options.json, command, message, kFailed);
}

int runInfo(const Options& options, DiagSession& session) {
    InfoReport r = session.info();
    if (!r.error.empty() && !r.sensorName) return printError(options, "info", r.error);
    if (options.json) {
        nlohmann::json doc{{"command", "info"}, {"ok", r.ok()}};
        doc["sensor"] = {{"name", *r.sensorName},
                         {"identifier", r.sensorIdentifier.value_or("")},
                         {"type", r.sensorType}};
        doc["state"] = r.stateText;
        doc["initialized"] = r.initialized;
        // Null: not read.
        doc["sensorVersion"] =
            r.sensorVersion > 0 ? nlohmann::json(rounded(r.sensorVersion)) : nlohmann::json();
        doc["bus"] = r.bus;
        doc["libraryVersion"] = r.libraryVersion;
        doc["disconnected"] = r.disconnected;
        if (!r.error.empty()) doc["error"] = r.error;
        std::cout << doc.dump(2) << "\n";
    } else {
        std::cout << "Sensor:          " << *r.sensorName << " ("
                  << r.sensorIdentifier.value_or("no identifier") << ", " << r.sensorType << ")\n"
                  << "Sensor state:    " << r.stateText << "\n"
                  << "Sensor version:  " << versionText(r.sensorVersion) << "\n"
                  << "Bus:             " << r.bus << "\n"
                  << "Library version: " << r.libraryVersion << "\n"
                  << "Disconnected:    " << (r.disconnected ? "yes" : "no") << "\n";
    }
    if (!r.error.empty()) std::cerr << "qzdiag: " << r.error << "\n";
    if (r.ok()) return kSuccess;
    return r.recovery ? kRecovery : kFailed;
}

int runLogs(const Options& options, DiagSession& session) {
    auto path = session.logs();
    if (!path) return printError(options, "logs", "the log archive could not be written");
    if (options.json) {
        std::cout
            << nlohmann::json{{"command", "logs"}, {"ok", true}, {"path", path->string()}}.dump(2)
            << "\n";
    } else {
        std::cout << path->string() << "\n";
    }
    return kSuccess;
}

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    auto options = parse(argc, argv, error);
    if (!options) {
        // A script that asked for JSON gets its document; people get the usage too.
        const std::vector<std::string> args(argv + 1, argv + argc);
        const auto end = std::find(args.begin(), args.end(), "--");
        if (std::find(args.begin(), end, "--json") != end) {
            const auto named = std::find_if(args.begin(), args.end(), [](const std::string& a) {
                return commandNamed(a) != nullptr;
            });
            return qz::tools::usageError(true, named == args.end() ? "" : *named, error);
        }
        std::cerr << "qzdiag: " << error << "\n\n";
        usage(std::cerr);
        return kUsage;
    }
    if (options->help) {
        if (const Command* command = commandNamed(options->command))
            commandUsage(*command, std::cout);
        else
            usage(std::cout);
        return kSuccess;
    }
    if (options->version) {
        std::cout << "qzdiag " << qz::libraryVersion() << "\n";
        return kSuccess;
    }
    if (options->home) {
        std::filesystem::path home = std::filesystem::absolute(*options->home);
        if (!qz::Paths::createDirectories(home)) {
            return printError(*options, options->command, "cannot create " + home.string());
        }
        qz::Paths::setHome(home);
        qz::Paths::setDocumentsDirectory(home / "Documents");
        qz::Paths::setTemporaryDirectory(home / "tmp");
    }

    std::optional<qz::ScopedClock> fastClock;
    if (const char* scale = std::getenv("QZ_TIME_SCALE")) {
        const double factor = std::atof(scale);
        if (factor > 0 && factor < 1) fastClock.emplace(std::make_shared<qz::ScaledClock>(factor));
    }

    std::unique_ptr<DiagSession> session;
    try {
        session = std::make_unique<DiagSession>(options->vehicle, options->transport);
    } catch (const std::exception& e) {
        return printError(*options, options->command, e.what());
    }
    int rc = 0;
    if (options->command == "info")
        rc = runInfo(*options, *session);
    else if (options->command == "logs")
        rc = runLogs(*options, *session);
    else if (options->command == "vin")
        rc = qz::tools::runVin(options->json, *session);
    else if (options->command == "live")
        rc = qz::tools::runLive(options->json, options->args, *session);
    else if (options->command == "wifi")
        rc = qz::tools::runWiFi(options->json, options->args, *session);
    else if (options->command == "scan")
        rc = qz::tools::runScan(options->json, options->args, *session);
    else if (options->command == "clear")
        rc = qz::tools::runClear(options->json, options->args, *session);
    else
        rc = qz::tools::runSmog(options->json, *session);
    session.reset();
    return rc;
}
