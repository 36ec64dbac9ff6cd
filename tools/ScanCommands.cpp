#include "ScanCommands.hpp"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <optional>

#include <nlohmann/json.hpp>

#include "Answers.hpp"
#include "DiagSession.hpp"
#include "ExitStatus.hpp"
#include "LiveCommands.hpp"
#include "api/Communication/Vehicle.hpp"
#include "api/Data/EnhancedProtocolManufacturerNames.hpp"
#include "api/Gateway/Gateway.hpp"

namespace qz::tools {

namespace {

// Seconds (of the installed clock) a whole scan or clear may take.
constexpr double kScanTimeout = 3600.0;

// What one scan gave.
struct ScanOutcome {
    PelkScanType type = PelkScanType::all;
    std::optional<std::string> vin;
    std::string make;
    std::string result;  // "complete" or the error's case name
    PelkModules modules;

    bool ok() const { return result == "complete"; }
};

// The progress bar on standard error, drawn only on a terminal.
class ProgressBar {
  public:
    ProgressBar() : shown_(::isatty(STDERR_FILENO) == 1) {}
    ~ProgressBar() { finish(); }
    void show(float fraction) {
        if (!shown_) return;
        const int width = 40;
        const float clamped = std::clamp(fraction, 0.0f, 1.0f);
        const int filled = static_cast<int>(clamped * static_cast<float>(width) + 0.5f);
        std::lock_guard lock(mutex_);
        std::cerr << "\r[" << std::string(static_cast<size_t>(filled), '#')
                  << std::string(static_cast<size_t>(width - filled), ' ') << "] "
                  << static_cast<int>(clamped * 100.0f + 0.5f) << "%" << std::flush;
        drawn_ = true;
    }
    // Ends the bar's line before other text.
    void finish() {
        std::lock_guard lock(mutex_);
        if (drawn_) std::cerr << "\n" << std::flush;
        drawn_ = false;
    }

  private:
    const bool shown_;
    std::mutex mutex_;
    bool drawn_ = false;
};

bool isEnd(const PelkScanProgress& p) {
    if (p.kind() == PelkScanProgress::Kind::complete) return true;
    return p.kind() == PelkScanProgress::Kind::error &&
           p.error()->kind() != PelkScanError::Kind::enhancedUnsupported;
}

// The VIN read through Mode 9, else the profile's, as the user would enter it.
std::optional<std::string> vehicleVin(Gateway& gateway, const DiagSession& session) {
    Answers<Result<std::string, CommError>> answer;
    gateway.requestVin(answer.callback());
    auto vin = answer.first();
    if (vin && *vin) return **vin;
    if (session.profileVin())
        std::cerr << "qzdiag: the VIN could not be read ("
                  << (vin ? describe(vin->error()) : std::string("no answer"))
                  << "), scanning with the profile's VIN" << std::endl;
    return session.profileVin();
}

// Runs one scan on the connected sensor, answering its interactions.
ScanOutcome scanOnce(bool json, Gateway& gateway, PelkScanType type,
                     const std::optional<std::string>& vin) {
    ScanOutcome outcome;
    outcome.type = type;
    outcome.vin = vin;
    auto bar = std::make_shared<ProgressBar>();
    Answers<PelkScanProgress> answers;
    auto deliver = answers.callback();
    gateway.performScan(vin, type, [bar, deliver, json](PelkScanProgress p) {
        if (p.kind() == PelkScanProgress::Kind::update) {
            bar->show(p.percentage());
            return;
        }
        if (p.kind() == PelkScanProgress::Kind::interactionRequired) {
            bar->finish();
            (json ? std::cerr : std::cout) << p.interaction()->msg() << std::endl;
            if (p.interaction()->listener()) p.interaction()->listener()();
            return;
        }
        if (p.kind() == PelkScanProgress::Kind::error &&
            p.error()->kind() == PelkScanError::Kind::enhancedUnsupported) {
            bar->finish();
            std::cerr << "qzdiag: no manufacturer scan for this vehicle, reading the generic codes"
                      << std::endl;
            return;
        }
        deliver(std::move(p));
    });
    auto end = answers.waitFor(isEnd, kScanTimeout);
    bar->finish();
    outcome.make = enhancedProtocolManufacturerName(
        static_cast<int64_t>(gateway.vehicle()->activeEnhancedProtocol()));
    if (!end) {
        outcome.result = describe(PelkScanError::Kind::timeout);
    } else if (end->kind() == PelkScanProgress::Kind::error) {
        outcome.result = describe(*end->error());
    } else if (*end->result()) {
        outcome.result = "complete";
        outcome.modules = **end->result();
    } else {
        outcome.result = describe(end->result()->error());
        outcome.modules = end->result()->error().modules();
    }
    return outcome;
}

nlohmann::ordered_json scanJson(const ScanOutcome& o) {
    using Json = nlohmann::ordered_json;
    Json modules = Json::array();
    for (const auto& m : o.modules) {
        Json codes = Json::array();
        for (const auto& c : m->results())
            codes.push_back({{"code", c->code()},
                             {"status", c->status()},
                             {"description", c->codeDescription()}});
        modules.push_back({{"name", m->name()},
                           {"acronym", m->acronym()},
                           {"light", rawValue(m->lightCategory())},
                           {"category", rawValue(m->category())},
                           {"codes", codes}});
    }
    return {{"scanType", rawValue(o.type)},
            {"vin", o.vin ? Json(*o.vin) : Json()},
            {"make", o.make},
            {"result", o.result},
            {"modules", modules}};
}

std::string padded(const std::string& text, size_t width) {
    return text + std::string(width > text.size() ? width - text.size() : 0, ' ');
}

void printTable(const ScanOutcome& o) {
    std::cout << "Scan " << rawValue(o.type) << " of " << o.vin.value_or("an unknown VIN") << " ("
              << o.make << "): " << o.result << ", " << o.modules.size()
              << (o.modules.size() == 1 ? " module" : " modules") << "\n";
    for (const auto& m : o.modules) {
        std::cout << "\n"
                  << m->name() << " (" << m->acronym()
                  << ")  light: " << rawValue(m->lightCategory())
                  << ", category: " << rawValue(m->category()) << "\n";
        const auto codes = m->results();
        if (codes.empty()) {
            std::cout << "  no codes\n";
            continue;
        }
        size_t codeWidth = 4, statusWidth = 6;
        for (const auto& c : codes) {
            codeWidth = std::max(codeWidth, c->code().size());
            statusWidth = std::max(statusWidth, c->status().size());
        }
        std::cout << "  " << padded("CODE", codeWidth) << "  " << padded("STATUS", statusWidth)
                  << "  DESCRIPTION\n";
        for (const auto& c : codes)
            std::cout << "  " << padded(c->code(), codeWidth) << "  "
                      << padded(c->status(), statusWidth) << "  " << c->codeDescription() << "\n";
    }
}

// Prints a scan; its exit status (`failed` when the scan did not complete).
int report(bool json, const ScanOutcome& o, int failed) {
    if (json)
        std::cout << scanJson(o).dump(2) << "\n";
    else
        printTable(o);
    if (o.ok()) return kSuccess;
    std::cerr << "qzdiag: the scan failed: " << o.result << "\n";
    return failed;
}

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// The acronyms of a scan's modules, in order, each once: "ECM, ABS, OBD".
std::string acronyms(const PelkModules& modules) {
    std::vector<std::string> seen;
    for (const auto& m : modules)
        if (std::find(seen.begin(), seen.end(), m->acronym()) == seen.end())
            seen.push_back(m->acronym());
    std::string text;
    for (const auto& a : seen) text += (text.empty() ? "" : ", ") + a;
    return text.empty() ? "none" : text;
}

std::optional<PelkScanType> scanTypeArgument(const std::vector<std::string>& args, size_t from) {
    if (args.size() <= from) return PelkScanType::all;
    if (args.size() > from + 1) return std::nullopt;
    return pelkScanType(args[from]);
}

int usageError(const std::string& message) {
    std::cerr << "qzdiag: " << message << "\n";
    return kUsage;
}

}  // namespace

int runScan(bool json, const std::vector<std::string>& args, DiagSession& session) {
    auto type = scanTypeArgument(args, 0);
    if (!type) return usageError("scan takes one of cel, com or all");
    Gateway& gateway = *session.gateway();
    const Connection connection = connect(gateway);
    if (connection.error) {
        std::cerr << "qzdiag: " << *connection.error << "\n";
        return kFailed;
    }
    const auto outcome = scanOnce(json, gateway, *type, vehicleVin(gateway, session));
    disconnect(gateway);
    return report(json, outcome, connection.failed());
}

int runClear(bool json, const std::vector<std::string>& args, DiagSession& session) {
    if (args.empty()) return usageError("clear needs the acronym of a module (OBD: generic codes)");
    std::optional<PelkScanType> rescan;
    if (args.size() > 1) {
        if (args[1] != "scan") return usageError("unexpected argument " + args[1]);
        rescan = scanTypeArgument(args, 2);
        if (!rescan) return usageError("scan takes one of cel, com or all");
    }
    std::string acronym = args[0];
    Gateway& gateway = *session.gateway();
    // One JSON document: the clear, and the scan after it when one was asked for.
    nlohmann::ordered_json doc;
    auto print = [&](bool cleared, const std::string& message, int failed) {
        if (json) {
            doc = nlohmann::ordered_json{{"acronym", acronym}, {"cleared", cleared}};
            if (!cleared) doc["error"] = message;
        } else if (cleared) {
            std::cout << message << "\n";
        }
        if (!cleared) std::cerr << "qzdiag: " << message << "\n";
        return cleared ? kSuccess : failed;
    };
    auto finish = [&](int rc) {
        if (json) std::cout << doc.dump(2) << "\n";
        return rc;
    };
    const Connection connection = connect(gateway);
    if (connection.error) return finish(print(false, *connection.error, kFailed));
    const int failed = connection.failed();

    const auto vin = vehicleVin(gateway, session);
    const auto scanned = scanOnce(json, gateway, PelkScanType::all, vin);
    // Acronyms match whatever their letter case.
    std::shared_ptr<PelkModule> module;
    for (const auto& m : scanned.modules)
        if (!module && upper(m->acronym()) == upper(acronym)) module = m;
    if (module) acronym = module->acronym();
    int rc = kSuccess;
    if (!scanned.ok()) {
        rc = print(false, "the scan failed: " + scanned.result, failed);
    } else if (!module) {
        rc = print(false,
                   "the scan reported no module " + acronym + " (it found " +
                       acronyms(scanned.modules) + ")",
                   failed);
        if (json) {
            doc["found"] = nlohmann::ordered_json::array();
            for (const auto& m : scanned.modules) doc["found"].push_back(m->acronym());
        }
    } else {
        Answers<PelkClearResult> answer;
        gateway.clearModule(module, answer.callback());
        auto result = answer.first(kScanTimeout);
        if (!result)
            rc = print(false, "the clear of " + acronym + " got no answer", failed);
        else if (result->kind() == PelkClearResult::Kind::error)
            rc = print(false, "the clear of " + acronym + " failed: " + describe(*result->error()),
                       failed);
        else if (!result->result())
            rc = print(false, "the module " + acronym + " did not clear", failed);
        else
            rc = print(true, "Cleared " + acronym, failed);
    }
    if (rc == kSuccess && rescan) {
        const auto after = scanOnce(json, gateway, *rescan, vin);
        if (json) {
            doc["scan"] = scanJson(after);
            if (!after.ok()) std::cerr << "qzdiag: the scan failed: " << after.result << "\n";
            rc = after.ok() ? kSuccess : failed;
        } else {
            rc = report(false, after, failed);
        }
    }
    disconnect(gateway);
    return finish(rc);
}

}  // namespace qz::tools
