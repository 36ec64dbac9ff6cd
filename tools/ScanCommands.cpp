#include "ScanCommands.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <mutex>
#include <optional>

#include <nlohmann/json.hpp>

#include "Answers.hpp"
#include "DiagSession.hpp"
#include "ExitStatus.hpp"
#include "LiveCommands.hpp"
#include "Reasons.hpp"
#include "api/Communication/Vehicle.hpp"
#include "api/Data/EnhancedProtocolManufacturerNames.hpp"
#include "api/Gateway/Gateway.hpp"
#include "api/Scan/InstanceStorage.hpp"
#include "platform/FileSystem.hpp"
#include "platform/Result.hpp"

namespace qz::tools {

namespace {

// Seconds (of the installed clock) a whole scan or clear may take.
constexpr double kScanTimeout = 3600.0;

// One unit as a scan showed it: two units may share a name and acronym (a make's units on two
// buses), never the identifiers they are asked and answer on together with their line.
struct Unit {
    std::string name;
    std::string acronym;
    std::string requestId;   // empty for none (the generic module)
    std::string responseId;  // empty for none
    std::string line;        // its bus, protocol, pins and path, as the engine read it

    bool operator==(const Unit&) const = default;
};

// What one scan gave.
struct ScanOutcome {
    PelkScanType type = PelkScanType::all;
    std::optional<std::string> vin;
    std::string make;
    bool ran = false;    // the scan was started (not for a connection that did not open)
    std::string result;  // "complete" or the error's case name
    std::string error;   // why it did not complete, in words
    PelkModules modules;
    std::vector<Unit> units;  // the modules' units, in the same order

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

std::string joined(const std::vector<std::string>& parts, const std::string& separator) {
    std::string text;
    for (const auto& p : parts) text += (text.empty() ? "" : separator) + p;
    return text;
}

// The acronyms of a scan's modules, in order, each once: "ECM, ABS, OBD".
std::string acronyms(const PelkModules& modules) {
    std::vector<std::string> seen;
    for (const auto& m : modules)
        if (std::find(seen.begin(), seen.end(), m->acronym()) == seen.end())
            seen.push_back(m->acronym());
    return seen.empty() ? "none" : joined(seen, ", ");
}

// Why a scan ended in `kind`, in words: what the engine or the link said, and what was read.
std::string failure(PelkScanError::Kind kind, const PelkModules& modules,
                    std::vector<std::string> notes, bool dropped) {
    if (dropped) notes.insert(notes.begin(), "the link to the sensor dropped");
    std::string text = reason(kind);
    if (!notes.empty()) text += " (" + joined(notes, "; ") + ")";
    return text + "; " +
           (modules.empty() ? std::string("no module was read")
                            : "modules read: " + acronyms(modules));
}

// The unit a module of the latest scan stands for, from the engine's record of it.
Unit unitOf(const std::shared_ptr<PelkModule>& module) {
    Unit unit{module->name(), module->acronym(), {}, {}, {}};
    const auto record = InstanceStorage::record(module);
    if (!record) return unit;
    unit.requestId = record->requestId().value_or("");
    unit.responseId = record->responseId().value_or("");
    std::vector<std::string> line;
    if (record->busType()) line.push_back("bus " + *record->busType());
    for (auto [key, said] : {std::pair{"PROTOCOL", "protocol "},
                             {"TP2", "TP2.0 address "},
                             {"CallUp", "call-up "},
                             {"RESPONSE_PIN_COMMAND", "pins "}})
        if (auto value = record->extra(key).text()) line.push_back(said + *value);
    if (record->extraFlag("wasReadOnDiagH")) line.push_back("DIAG-H");
    unit.line = joined(line, ", ");
    return unit;
}

// The VIN read through Mode 9, else the profile's, as the user would enter it.
std::optional<std::string> vehicleVin(Gateway& gateway, const DiagSession& session) {
    Answers<Result<std::string, CommError>> answer;
    gateway.requestVin(answer.callback());
    auto vin = answer.first();
    if (vin && *vin) return **vin;
    if (session.profileVin())
        std::cerr << "qzdiag: the VIN could not be read ("
                  << (vin ? vinFailure(gateway, vin->error()) : "the library did not answer")
                  << "), scanning with the profile's VIN" << std::endl;
    return session.profileVin();
}

// Runs one scan on the connected sensor, answering its interactions.
ScanOutcome scanOnce(bool json, DiagSession& session, const Connection& connection,
                     PelkScanType type, const std::optional<std::string>& vin) {
    Gateway& gateway = *session.gateway();
    ScanOutcome outcome;
    outcome.type = type;
    outcome.vin = vin;
    outcome.ran = true;
    session.engineNotes().clear();
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
    std::optional<PelkScanError::Kind> failed;
    if (!end) {
        failed = PelkScanError::Kind::timeout;
    } else if (end->kind() == PelkScanProgress::Kind::error) {
        failed = end->error()->kind();
    } else if (*end->result()) {
        outcome.result = "complete";
        outcome.modules = **end->result();
    } else {
        failed = end->result()->error().kind();
        outcome.modules = end->result()->error().modules();
    }
    for (const auto& m : outcome.modules) outcome.units.push_back(unitOf(m));
    if (failed) {
        outcome.result = describe(*failed);
        outcome.error = failure(*failed, outcome.modules, session.engineNotes().notes(),
                                connection.dropped(gateway));
    }
    return outcome;
}

// What a scan that could not start shows: its connection's error.
ScanOutcome notScanned(PelkScanType type, const Connection& connection) {
    ScanOutcome outcome;
    outcome.type = type;
    outcome.make = "Unknown";
    outcome.result = describe(connection.recovery ? PelkScanError::Kind::notInitialized
                                                  : PelkScanError::Kind::disconnected);
    outcome.error = connection.error.value_or("");
    return outcome;
}

nlohmann::ordered_json scanJson(const ScanOutcome& o) {
    using Json = nlohmann::ordered_json;
    Json modules = Json::array();
    for (size_t i = 0; i < o.modules.size(); ++i) {
        const auto& m = o.modules[i];
        Json codes = Json::array();
        for (const auto& c : m->results())
            codes.push_back({{"code", c->code()},
                             {"status", c->status()},
                             {"description", c->codeDescription()}});
        modules.push_back({{"position", i + 1},
                           {"name", m->name()},
                           {"acronym", m->acronym()},
                           {"light", rawValue(m->lightCategory())},
                           {"category", rawValue(m->category())},
                           {"codes", codes}});
    }
    Json doc{{"scanType", rawValue(o.type)},
             {"vin", o.vin ? Json(*o.vin) : Json()},
             {"make", o.make},
             {"result", o.result}};
    if (!o.ok()) doc["error"] = o.error;
    doc["modules"] = modules;
    return doc;
}

std::string padded(const std::string& text, size_t width) {
    return text + std::string(width > text.size() ? width - text.size() : 0, ' ');
}

void printTable(const ScanOutcome& o) {
    std::cout << "Scan " << rawValue(o.type) << " of " << o.vin.value_or("an unknown VIN") << " ("
              << o.make << "): " << (o.ok() ? "complete" : "not complete") << ", "
              << o.modules.size() << (o.modules.size() == 1 ? " module" : " modules") << "\n";
    for (size_t i = 0; i < o.modules.size(); ++i) {
        const auto& m = o.modules[i];
        std::cout << "\n@" << i + 1 << " " << m->name() << " (" << m->acronym()
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

// The units of the last scan qzdiag showed, by position: what "@N" names.
struct Shown {
    std::optional<std::string> vin;
    PelkScanType type = PelkScanType::all;
    std::vector<Unit> modules;
};

// The record's layout; a record without it (name and acronym alone) is of an older qzdiag.
constexpr int kRecordFormat = 2;

std::filesystem::path shownFile() {
    return Paths::applicationSupportDirectory() / "qzdiag-last-scan.json";
}

std::string systemError(int error) {
    return std::strerror(error);
}

// Writes all of `text` to `fd`; the error that stopped it, else 0.
int writeAll(int fd, const std::string& text) {
    for (size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno != EINTR) return errno;
        if (n == 0) return ENOSPC;
        if (n > 0) done += static_cast<size_t>(n);
    }
    return 0;
}

// Writes `text` as `file` whole or not at all, readable by its owner alone (it holds the VIN):
// through a temporary file of this process, renamed over it. Why it could not, else none.
std::optional<std::string> writeWhole(const std::filesystem::path& file, const std::string& text) {
    if (!Paths::createDirectories(file.parent_path()))
        return "the folder " + file.parent_path().string() + " cannot be made";
    const auto temporary =
        file.parent_path() / (file.filename().string() + "." + std::to_string(::getpid()) + ".new");
    ::unlink(temporary.c_str());  // one a crashed run of the same process number left
    const int fd =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return "the folder " + file.parent_path().string() +
               " takes no new file: " + systemError(errno);
    int error = writeAll(fd, text);
    if (!error && ::fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && !error) error = errno;
    if (!error && ::rename(temporary.c_str(), file.c_str()) != 0) error = errno;
    if (!error) return std::nullopt;
    ::unlink(temporary.c_str());
    return file.string() + ": " + systemError(error);
}

// Where a scan's record could not be written, leaves in its place why (`note`): whole, else
// written in place (a folder that takes no new file, a full disk), else the record left empty
// (an empty file needs no room on the disk). False when an earlier scan's record is still
// there, naming its modules.
bool keepNote(const std::filesystem::path& file, const std::string& note) {
    std::error_code ec;
    const auto status = std::filesystem::symlink_status(file, ec);
    // A folder in its place is neither written nor read as a record.
    if (std::filesystem::is_directory(status)) return true;
    if (!writeWhole(file, note)) return true;
    const int fd =
        ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return !std::filesystem::exists(status) || std::filesystem::remove(file, ec);
    const bool whole = writeAll(fd, note) == 0;
    const bool emptied = whole || ::ftruncate(fd, 0) == 0;
    return ::close(fd) == 0 && emptied;
}

// Keeps what a scan showed, for a later "@N". When it cannot, says so and leaves why in its
// place, never the record of an earlier scan: "@N" then names nothing rather than a module the
// user did not see.
void remember(const ScanOutcome& o) {
    if (!o.ran) return;
    nlohmann::json doc{{"format", kRecordFormat},
                       {"vin", o.vin ? nlohmann::json(*o.vin) : nlohmann::json()},
                       {"scanType", rawValue(o.type)},
                       {"modules", nlohmann::json::array()}};
    for (const auto& u : o.units)
        doc["modules"].push_back({{"name", u.name},
                                  {"acronym", u.acronym},
                                  {"requestId", u.requestId},
                                  {"responseId", u.responseId},
                                  {"line", u.line}});
    const auto file = shownFile();
    const auto failed = writeWhole(file, doc.dump());
    if (!failed) return;
    std::string said =
        "qzdiag: the scan shown could not be kept for a later clear @N (" + *failed + ")";
    const nlohmann::json note{{"format", kRecordFormat}, {"notKept", *failed}};
    if (!keepNote(file, note.dump()))
        said += "; the record of an earlier scan is still there: a position names its modules";
    std::cerr << said << "\n";
}

// The record of the last scan shown: none when no scan was kept, else why it cannot be used.
Result<std::optional<Shown>, std::string> lastShown(const std::string& named) {
    const auto file = shownFile();
    auto refused = [&](const std::string& why) -> Result<std::optional<Shown>, std::string> {
        return std::unexpected("the record of the last scan shown cannot be read: " +
                               file.string() + " " + why + " (run qzdiag scan again)");
    };
    std::error_code ec;
    const auto status = std::filesystem::status(file, ec);
    if (status.type() == std::filesystem::file_type::not_found) return std::nullopt;
    if (std::filesystem::is_directory(status))
        return std::unexpected("the record of the last scan shown cannot be read: " +
                               file.string() + " is a folder (move it away, then run qzdiag scan)");
    if (ec) return refused("cannot be reached: " + ec.message());
    if (!std::filesystem::is_regular_file(status)) return refused("is not a file");
    std::ifstream in(file, std::ios::binary);
    if (!in.is_open()) return refused("cannot be opened: " + systemError(errno));
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // What a scan that could not be kept leaves: scanning again where it could not be written
    // keeps nothing either.
    auto notKept = [&](const std::string& why) -> Result<std::optional<Shown>, std::string> {
        return std::unexpected("the last scan shown could not be kept for a later clear @N (" +
                               why + "), so nothing says which module " + named + " is");
    };
    if (text.empty()) return notKept("its record " + file.string() + " was left empty");
    const auto doc = nlohmann::json::parse(text, nullptr, false);
    if (doc.is_discarded()) return refused("is damaged: it holds no JSON document");
    if (doc.is_object() && doc.contains("notKept") && doc["notKept"].is_string())
        return notKept(doc["notKept"].get<std::string>());
    if (!doc.is_object() || !doc.contains("modules") || !doc["modules"].is_array())
        return refused("is damaged: it holds no list of modules");
    // An older qzdiag kept names and acronyms alone.
    const bool older = !doc.contains("format");
    if (!older && doc["format"] != kRecordFormat)
        return refused("is in a format this qzdiag does not know (" + doc["format"].dump() + ")");
    Shown shown;
    for (const auto& m : doc["modules"]) {
        Unit unit;
        bool whole = m.is_object();
        for (auto [key, field] : {std::pair{"name", &unit.name},
                                  {"acronym", &unit.acronym},
                                  {"requestId", &unit.requestId},
                                  {"responseId", &unit.responseId},
                                  {"line", &unit.line}}) {
            if (older && field == &unit.requestId) break;
            if (!whole || !m.contains(key) || !m[key].is_string()) {
                whole = false;
                break;
            }
            *field = m[key].get<std::string>();
        }
        if (!whole)
            return refused("is damaged: its module " + std::to_string(shown.modules.size() + 1) +
                           " is not a module");
        shown.modules.push_back(std::move(unit));
    }
    if (doc.contains("vin") && doc["vin"].is_string())
        shown.vin = doc["vin"].get<std::string>();
    else if (doc.contains("vin") && !doc["vin"].is_null())
        return refused("is damaged: its VIN is not text");
    if (older)
        return std::unexpected(
            "the record of the last scan shown (" + file.string() +
            ") comes from an older qzdiag, which kept no more than names and acronyms: it does "
            "not say which unit " +
            named + " was (run qzdiag scan again)");
    const auto type = doc.contains("scanType") && doc["scanType"].is_string()
                          ? pelkScanType(doc["scanType"].get<std::string>())
                          : std::nullopt;
    if (!type) return refused("is damaged: it names no scan type");
    shown.type = *type;
    return shown;
}

// Prints a scan and keeps what it showed; its exit status (`failed` when the scan did not
// complete). A scan that did not start shows its error alone.
int report(bool json, const ScanOutcome& o, int failed) {
    remember(o);
    if (json)
        std::cout << scanJson(o).dump(2) << "\n";
    else if (o.ran)
        printTable(o);
    if (o.ok()) return kSuccess;
    std::cerr << "qzdiag: " << o.error << "\n";
    return failed;
}

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// The module a user named for `clear`: "@N" (its position in the scan), its acronym or its
// name in any letter case.
struct Choice {
    std::optional<size_t> index;     // the module, when the name fits one
    std::vector<size_t> fitting;     // the modules it fits, when several
    std::optional<std::string> why;  // when it fits none: why, else the name is unknown
};

// "Powertrain Control Module (PCM)"; beside `other`, a unit of the same name and acronym,
// with what tells them apart: "(PCM, request ID 7E0)".
std::string unitText(const Unit& unit, const Unit& other) {
    std::string text = unit.name + " (" + unit.acronym;
    auto value = [](const std::string& v) { return v.empty() ? std::string("none") : v; };
    if (unit != other && unit.name == other.name && unit.acronym == other.acronym) {
        if (unit.requestId != other.requestId)
            text += ", request ID " + value(unit.requestId);
        else if (unit.responseId != other.responseId)
            text += ", response ID " + value(unit.responseId);
        else
            text += ", read on " + (unit.line.empty() ? std::string("no line named") : unit.line);
    }
    return text + ")";
}

// "@N" names the unit the user saw at N in the last scan shown; it is chosen only while the
// clear's own scan has that very unit there (its name, acronym, identifiers and line).
Choice choosePosition(size_t position, const std::string& named, const Shown& shown,
                      const ScanOutcome& scanned) {
    Choice choice;
    const size_t count = shown.modules.size();
    if (shown.vin != scanned.vin) {
        choice.why =
            "the last scan shown was of another vehicle (" + shown.vin.value_or("no VIN") + ")";
    } else if (position > count) {
        choice.why = "the last scan shown reported no module " + named + " (it reported " +
                     std::to_string(count) +
                     (count == 1 ? " module, @1" : " modules, @1 to @" + std::to_string(count)) +
                     ")";
    } else {
        const Unit& was = shown.modules[position - 1];
        if (position > scanned.units.size()) {
            choice.why = named + " was " + unitText(was, was) +
                         " in the last scan shown, but this scan has no module " + named;
        } else if (const Unit& now = scanned.units[position - 1]; now != was) {
            choice.why = named + " was " + unitText(was, now) +
                         " in the last scan shown, but this scan has " + unitText(now, was) +
                         " at " + named;
        } else {
            choice.index = position - 1;
        }
    }
    if (choice.why) *choice.why += "; nothing was cleared";
    return choice;
}

// A module named by its acronym or name, in any letter case.
Choice chooseNamed(const std::string& named, const PelkModules& modules) {
    Choice choice;
    for (size_t i = 0; i < modules.size(); ++i)
        if (upper(modules[i]->acronym()) == upper(named) ||
            upper(modules[i]->name()) == upper(named))
            choice.fitting.push_back(i);
    if (choice.fitting.size() == 1) {
        choice.index = choice.fitting.front();
        choice.fitting.clear();
    }
    return choice;
}

// The position "@N" names (from 1), none for a module named otherwise; a text that starts with
// "@" and is no position is a usage error, said in `error`.
std::optional<size_t> positionNamed(const std::string& named, std::string& error) {
    if (!named.starts_with('@')) return std::nullopt;
    const std::string digits = named.substr(1);
    const bool number = !digits.empty() && std::all_of(digits.begin(), digits.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c));
    });
    const size_t significant =
        digits.size() - std::min(digits.find_first_not_of('0'), digits.size());
    if (!number || significant == 0) {
        error = "not a position: " + named + " (a module's position is @1, @2, ...)";
        return std::nullopt;
    }
    // Beyond any scan: kept as a number that no scan reaches.
    return significant > 9 ? size_t{1000000000} : std::stoul(digits);
}

// "@5 Anti-lock Brake and Vehicle Dynamic Control (ABS)"
std::string positioned(const PelkModules& modules, size_t index) {
    const auto& m = modules[index];
    return "@" + std::to_string(index + 1) + " " + m->name() + " (" + m->acronym() + ")";
}

// How messages name a module: its acronym, with its position and name when another module of
// the scan has the same acronym.
std::string label(const PelkModules& modules, size_t index) {
    const auto& acronym = modules[index]->acronym();
    const auto same = std::count_if(modules.begin(), modules.end(),
                                    [&](const auto& m) { return m->acronym() == acronym; });
    if (same < 2) return acronym;
    return acronym + " (@" + std::to_string(index + 1) + " " + modules[index]->name() + ")";
}

std::optional<PelkScanType> scanTypeArgument(const std::vector<std::string>& args, size_t from) {
    if (args.size() <= from) return PelkScanType::all;
    if (args.size() > from + 1) return std::nullopt;
    return pelkScanType(args[from]);
}

}  // namespace

int runScan(bool json, const std::vector<std::string>& args, DiagSession& session) {
    auto type = scanTypeArgument(args, 0);
    if (!type) return usageError(json, "scan", "scan takes one of cel, com or all");
    Gateway& gateway = *session.gateway();
    const Connection connection = connect(gateway);
    if (connection.error) return report(json, notScanned(*type, connection), connection.failed());
    const auto outcome = scanOnce(json, session, connection, *type, vehicleVin(gateway, session));
    disconnect(gateway);
    return report(json, outcome, connection.failed());
}

int runClear(bool json, const std::vector<std::string>& args, DiagSession& session) {
    if (args.empty())
        return usageError(
            json, "clear",
            "clear needs the module: its acronym (OBD: generic codes), its name or @POSITION");
    std::optional<PelkScanType> rescan;
    if (args.size() > 1) {
        if (args[1] != "scan") return usageError(json, "clear", "unexpected argument " + args[1]);
        rescan = scanTypeArgument(args, 2);
        if (!rescan) return usageError(json, "clear", "scan takes one of cel, com or all");
    }
    const std::string named = args[0];
    std::string notAPosition;
    const std::optional<size_t> position = positionNamed(named, notAPosition);
    if (!notAPosition.empty()) return usageError(json, "clear", notAPosition);
    Gateway& gateway = *session.gateway();
    // One JSON document: the clear, and the scan after it when one was asked for. A module named
    // by position is reported by its position until it is found.
    using Json = nlohmann::ordered_json;
    Json doc = position ? Json{{"position", *position}, {"cleared", false}}
                        : Json{{"acronym", named}, {"cleared", false}};
    auto print = [&](bool cleared, const std::string& message, int failed) {
        doc["cleared"] = cleared;
        if (!cleared) {
            doc["error"] = message;
            std::cerr << "qzdiag: " << message << "\n";
        } else if (!json) {
            std::cout << message << "\n";
        }
        return cleared ? kSuccess : failed;
    };
    auto finish = [&](int rc) {
        if (json) std::cout << doc.dump(2) << "\n";
        return rc;
    };
    // A position names a unit of the last scan shown: without a record of it nothing is cleared,
    // and the clear's own scan is of that scan's kind.
    std::optional<Shown> shown;
    if (position) {
        auto record = lastShown(named);
        if (!record) return finish(print(false, record.error() + "; nothing was cleared", kFailed));
        if (!*record)
            return finish(print(false,
                                "no scan has been shown yet to say which module " + named +
                                    " is (run qzdiag scan first); nothing was cleared",
                                kFailed));
        shown = std::move(**record);
    }
    const Connection connection = connect(gateway);
    if (connection.error) return finish(print(false, *connection.error, connection.failed()));
    const int failed = connection.failed();

    const auto vin = vehicleVin(gateway, session);
    const auto scanned =
        scanOnce(json, session, connection, shown ? shown->type : PelkScanType::all, vin);
    const PelkModules& modules = scanned.modules;
    const Choice choice =
        position ? choosePosition(*position, named, *shown, scanned) : chooseNamed(named, modules);
    if (choice.index) {
        const auto& m = modules[*choice.index];
        doc["acronym"] = m->acronym();
        doc["name"] = m->name();
        doc["position"] = *choice.index + 1;
    }
    int rc = kSuccess;
    if (!scanned.ok() && modules.empty()) {
        rc = print(false, scanned.error + "; nothing was cleared", failed);
    } else if (!choice.fitting.empty()) {
        std::vector<std::string> choices;
        Json listed = Json::array();
        for (size_t i : choice.fitting) {
            choices.push_back(positioned(modules, i));
            listed.push_back({{"position", i + 1},
                              {"name", modules[i]->name()},
                              {"acronym", modules[i]->acronym()}});
        }
        rc = print(false,
                   named + " fits " + std::to_string(choices.size()) +
                       " modules of the scan, nothing was cleared: " + joined(choices, ", ") +
                       "; name one by its position (clear @" +
                       std::to_string(choice.fitting.front() + 1) + ")",
                   failed);
        doc["choices"] = listed;
        remember(scanned);  // the positions just shown
    } else if (!choice.index) {
        rc = print(false,
                   choice.why.value_or("the scan reported no module " + named + " (it found " +
                                       acronyms(modules) + "); nothing was cleared"),
                   failed);
        doc["found"] = Json::array();
        for (const auto& m : modules) doc["found"].push_back(m->acronym());
    } else {
        // A scan that read only part of the vehicle still reported the modules it read: those
        // clear as any other.
        if (!scanned.ok()) std::cerr << "qzdiag: " << scanned.error << "\n";
        const std::string called = label(modules, *choice.index);
        Answers<PelkClearResult> answer;
        gateway.clearModule(modules[*choice.index], answer.callback());
        auto result = answer.first(kScanTimeout);
        if (!result)
            rc = print(false, "the clear of " + called + " got no answer", failed);
        else if (result->kind() == PelkClearResult::Kind::error)
            rc = print(false, "the clear of " + called + " failed: " + reason(*result->error()),
                       failed);
        else if (!result->result())
            rc = print(false,
                       called + " did not clear: the module refused the clear or did not answer it",
                       failed);
        else
            rc = print(true, "Cleared " + called, failed);
    }
    if (rc == kSuccess && rescan) {
        const auto after = scanOnce(json, session, connection, *rescan, vin);
        if (json) {
            remember(after);
            doc["scan"] = scanJson(after);
            if (!after.ok()) std::cerr << "qzdiag: " << after.error << "\n";
            rc = after.ok() ? kSuccess : failed;
        } else {
            rc = report(false, after, failed);
        }
    }
    disconnect(gateway);
    return finish(rc);
}

}  // namespace qz::tools
