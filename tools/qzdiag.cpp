// qzdiag: drives the library through its public API against the simulated sensor, which is
// plugged in as an MFi accessory (or in reach as a BGX13 Bluetooth LE module) and reached
// through the same session a real sensor uses.
//
//   qzdiag [--transport mfi|ble] [--vehicle PROFILE.json] [--home DIR] [--json] COMMAND [ARGS...]
//
// Commands: info (connect, initialise, show the sensor, disconnect), logs (write the log
// archive and show its path), vin, live [PID...] and smog (the live-data and readiness calls,
// see LiveCommands.hpp), wifi (the Wi-Fi mode and configuration, see WiFiCommand.hpp), scan and
// clear (trouble codes, see ScanCommands.hpp).
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
#include "LiveCommands.hpp"
#include "ScanCommands.hpp"
#include "WiFiCommand.hpp"
#include "platform/Clock.hpp"
#include "platform/FileSystem.hpp"

using qz::tools::DiagSession;
using qz::tools::InfoReport;

namespace {

struct Options {
    std::optional<std::string> vehicle;
    std::optional<std::string> home;
    qz::tools::Transport transport = qz::tools::Transport::mfi;
    bool json = false;
    std::string command;
    std::vector<std::string> args;  // after the command (the PIDs of `live`, the options of `wifi`)
};

void usage(std::ostream& out) {
    out << "usage: qzdiag [--transport mfi|ble] [--vehicle PROFILE.json] [--home DIR] [--json] "
           "COMMAND\n"
           "\n"
           "commands:\n"
           "  info   connect to the sensor, initialise it, show its state, version and bus\n"
           "  logs   write the log archive and show its path\n"
           "  vin    read the VIN through Mode 9, check it, show model year, make and parent\n"
           "  live [PID...]  refresh the supported parameters, or the listed PIDs (hex), once\n"
           "  smog   run the emissions-readiness check: verdict, figures and code counts\n"
           "  wifi --ssid S [--password P] [--security open|wep|wpa2] [--hidden]\n"
           "       [--static IP,MASK,GATEWAY,DNS]\n"
           "         switch the sensor to Wi-Fi mode and apply the configuration (WPA2 unless\n"
           "         told otherwise; DHCP unless --static)\n"
           "  scan [cel|com|all]  scan for trouble codes (default all): every module with its\n"
           "         codes, statuses and descriptions\n"
           "  clear ACRONYM [scan [cel|com|all]]\n"
           "         scan (all), clear the module with that acronym (OBD: the generic codes);\n"
           "         with scan, scan again afterwards\n"
           "\n"
           "options:\n"
           "  --transport mfi|ble     reach the sensor as an MFi accessory (default) or over\n"
           "                          Bluetooth LE through its BGX13 module\n"
           "  --vehicle PROFILE.json  the simulated vehicle (default: the built-in profile)\n"
           "  --home DIR              the folder that stands for the app's home\n"
           "  --json                  print one JSON document\n";
}

std::optional<Options> parse(int argc, char** argv, std::string& error) {
    Options options;
    std::vector<std::string> args(argv + 1, argv + argc);
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](const char* name) -> std::optional<std::string> {
            if (i + 1 >= args.size()) {
                error = std::string(name) + " needs a value";
                return std::nullopt;
            }
            return args[++i];
        };
        if (options.command == "wifi" && qz::tools::isWiFiOption(a)) {
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
            options.command = "help";
        } else if (!a.empty() && a[0] == '-') {
            error = "unknown option " + a;
            return std::nullopt;
        } else if (options.command.empty()) {
            options.command = a;
        } else if (options.command == "live" || options.command == "scan" ||
                   options.command == "clear") {
            options.args.push_back(a);
        } else {
            error = "unexpected argument " + a;
            return std::nullopt;
        }
    }
    if (options.command.empty()) {
        error = "no command given";
        return std::nullopt;
    }
    return options;
}

// Two decimals, as the sensor writes its version.
double rounded(float v) {
    return std::round(static_cast<double>(v) * 100.0) / 100.0;
}

std::string versionText(float v) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.2f", static_cast<double>(v));
    return buffer;
}

int printError(const Options& options, const std::string& command, const std::string& message) {
    if (options.json) {
        std::cout << nlohmann::json{{"command", command}, {"ok", false}, {"error", message}}.dump(2)
                  << "\n";
    } else {
        std::cerr << "qzdiag: " << message << "\n";
    }
    return 1;
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
        doc["sensorVersion"] = rounded(r.sensorVersion);
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
        if (!r.error.empty()) std::cerr << "qzdiag: " << r.error << "\n";
    }
    return r.ok() ? 0 : 2;
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
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    auto options = parse(argc, argv, error);
    if (!options) {
        std::cerr << "qzdiag: " << error << "\n";
        usage(std::cerr);
        return 64;
    }
    if (options->command == "help") {
        usage(std::cout);
        return 0;
    }
    static const std::vector<std::string> kCommands = {"info", "logs", "vin",  "live",
                                                       "smog", "wifi", "scan", "clear"};
    if (std::find(kCommands.begin(), kCommands.end(), options->command) == kCommands.end()) {
        std::cerr << "qzdiag: unknown command " << options->command << "\n";
        usage(std::cerr);
        return 64;
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
