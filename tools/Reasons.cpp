#include "Reasons.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string_view>

#include "api/Communication/GatewayLogger.hpp"
#include "api/PIDs/PIDInterface.hpp"
#include "lib/Facades/QZEAdapters.hpp"
#include "lib/Logging/QZELogging.hpp"

namespace qz::tools {

std::string reason(CommError error) {
    switch (error) {
        case CommError::timedOut:
            return "the sensor did not answer";
        case CommError::noData:
            return "the vehicle gave no data";
        case CommError::noDelegate:
            return "the library was released before it answered";
        case CommError::invalidData:
            return "the vehicle's answer held no usable value";
        case CommError::unsupported:
            return "the vehicle does not give this value";
        case CommError::notConnected:
            return "no sensor is connected";
        case CommError::deviceBusy:
            return "another operation holds the sensor";
    }
    return describe(error);
}

std::string reason(const PelkError& error) {
    switch (error.kind()) {
        case PelkError::Kind::general:
            return "the link to the sensor did not open (" + error.generalDescription() + ")";
        case PelkError::Kind::initialization:
            return "the vehicle did not answer (no vehicle, or its ignition is off)";
        case PelkError::Kind::callbackDeallocated:
            return "the library was released before it answered";
        case PelkError::Kind::notConnected:
            return "no sensor is connected";
        case PelkError::Kind::deviceBusy:
            return "another operation holds the sensor";
        case PelkError::Kind::dataError:
            break;
    }
    return error.description();
}

std::string reason(SmogInfoError error) {
    switch (error) {
        case SmogInfoError::setupFailed:
            return "the check could not read what a verdict needs: the sensor refused or did not "
                   "answer its set-up, or the vehicle did not answer (no vehicle, or its ignition "
                   "is off), or its monitor status or a code list could not be read";
        case SmogInfoError::notConnected:
            return "no sensor is connected";
        case SmogInfoError::deviceBusy:
            return "another operation holds the sensor";
    }
    return describe(error);
}

std::string reason(const PelkClearError& error) {
    switch (error.kind()) {
        case PelkClearError::Kind::communication: {
            // Only the generic clear's "KQCC" fails so; its description ends in the error's
            // number: "... (QZEnhanced.CommError error 0.)".
            const std::string& text = error.communicationDescription();
            constexpr std::string_view kNumber = "CommError error ";
            const size_t at = text.find(kNumber);
            const int number = at == std::string::npos ? -1 : std::atoi(&text[at + kNumber.size()]);
            if (number < 0 || number > static_cast<int>(CommError::deviceBusy))
                return "the exchange with the sensor failed" +
                       (text.empty() ? "" : " (" + text + ")");
            const auto failure = static_cast<CommError>(number);
            return failure == CommError::timedOut
                       ? "the clear command KQCC got no answer"
                       : "the clear command KQCC failed: " + reason(failure);
        }
        case PelkClearError::Kind::notScanned:
            return "the module is not one of the latest scan's";
        case PelkClearError::Kind::disconnected:
            return "no sensor is connected";
        case PelkClearError::Kind::deviceBusy:
            return "another operation holds the sensor";
    }
    return describe(error);
}

std::string reason(PelkScanError::Kind kind) {
    using K = PelkScanError::Kind;
    switch (kind) {
        case K::communicaton:
            return "the scan could not read everything: communication error";
        case K::disconnected:
            return "the scan could not go on: the sensor is not connected";
        case K::timeout:
            return "the scan did not finish in time";
        case K::notInitialized:
            return "the scan could not start: the sensor did not start up";
        case K::errorLoading:
            return "the scan could not be loaded for this vehicle's make";
        case K::deviceBusy:
            return "the scan could not start: another operation holds the sensor";
        case K::general:
            return "the scan could not start: the library was released first";
        case K::enhancedUnsupported:
            return "no manufacturer scan for this vehicle";
    }
    return describe(kind);
}

namespace {

// "<module> with request_ID: <id>" at the start of `text`: "<module> (request ID <id>)".
std::string moduleNamed(std::string_view text) {
    constexpr std::string_view kId = " with request_ID: ";
    const size_t at = text.find(kId);
    std::string module(text.substr(0, at));
    if (module.empty() || module == "nil" || module == "(null)") module = "a module";
    if (at == std::string_view::npos) return module;
    std::string_view rest = text.substr(at + kId.size());
    const std::string id(rest.substr(0, rest.find_first_of(" ,:")));
    if (id.empty() || id == "nil" || id == "(null)") return module;
    return module + " (request ID " + id + ")";
}

// A command as a user reads it: a control byte by its name ("<DLE>KQCD1"), another byte that
// is no printable text by its value ("<C3>"), and in quotes when it holds what would read as
// the sentence's own punctuation ("KQSP;").
std::string readableCommand(std::string_view command) {
    static constexpr std::array<const char*, 32> kControls = {
        "NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS",  "HT",  "LF",
        "VT",  "FF",  "CR",  "SO",  "SI",  "DLE", "DC1", "DC2", "DC3", "DC4", "NAK",
        "SYN", "ETB", "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};
    std::string text;
    bool quoted = command.empty();
    for (const char c : command) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < kControls.size()) {
            text.append("<").append(kControls[byte]).append(">");
        } else if (byte >= 0x7F) {
            char value[8];
            std::snprintf(value, sizeof value, "<%02X>", byte);
            text += value;
        } else {
            text += c;
            quoted = quoted || std::string_view(" ;,()\"").find(c) != std::string_view::npos;
        }
    }
    return quoted ? "\"" + text + "\"" : text;
}

// A sensor's reply on one line: its line breaks as blanks, without its prompt.
std::string oneLine(std::string_view reply) {
    std::string text;
    for (char c : reply) {
        if (c == '>') continue;
        const bool blank = std::iscntrl(static_cast<unsigned char>(c)) || c == ' ';
        if (blank && (text.empty() || text.back() == ' ')) continue;
        text += blank ? ' ' : c;
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text.empty() ? "nothing" : "\"" + text + "\"";
}

// The reason an engine line gives, or empty for a line that gives none.
std::string noteOf(std::string_view line) {
    auto after = [&](std::string_view head) -> std::optional<std::string_view> {
        if (!line.starts_with(head)) return std::nullopt;
        return line.substr(head.size());
    };
    if (auto rest = after("Setup command refused: "))
        return "the sensor refused the set-up command " + readableCommand(*rest);
    if (auto rest = after("Setup command not answered: "))
        return "the set-up command " + readableCommand(*rest) + " got no answer";
    if (auto rest = after("Restore command refused: "))
        return "the sensor refused the restore command " + readableCommand(*rest) +
               ", so the generic codes were not read";
    if (auto rest = after("Restore command not answered: "))
        return "the restore command " + readableCommand(*rest) +
               " got no answer, so the generic codes were not read";
    // "<module>; <module>" not read, for the reason given once and for many.
    auto notRead = [](std::string_view list, const std::string& one, const std::string& many) {
        std::vector<std::string> modules;
        for (size_t start = 0; start <= list.size();) {
            const size_t end = std::min(list.find("; ", start), list.size());
            modules.push_back(moduleNamed(list.substr(start, end - start)));
            start = end + 2;
        }
        if (modules.size() == 1) return modules.front() + " was not read: " + one;
        std::string names;
        for (size_t i = 0; i < modules.size(); ++i)
            names += (i == 0 ? "" : i + 1 == modules.size() ? " and " : ", ") + modules[i];
        return names + " were not read: " + many;
    };
    if (auto rest = after("Modules not read, the sensor did not accept their set-up: "))
        return notRead(*rest, "the sensor did not accept its set-up",
                       "the sensor did not accept their set-up");
    if (auto rest = after("Modules not read, the sensor's firmware version is not known: "))
        return notRead(*rest, "it needs a sensor firmware, and the sensor's version is not known",
                       "they need a sensor firmware, and the sensor's version is not known");
    if (auto rest = after("Incomplete answer from module: ")) {
        // What the module did follows the count of codes kept.
        constexpr std::string_view kDid = " codes: ";
        const size_t at = rest->find(kDid);
        if (at == std::string_view::npos) return moduleNamed(*rest) + " answered only in part";
        return moduleNamed(*rest) + " " + std::string(rest->substr(at + kDid.size()));
    }
    if (auto rest = after("Fault tables not answered by module: "))
        return moduleNamed(*rest) + " did not answer all its fault tables";
    if (auto rest = after("Generic code read stopped before its end: ")) {
        constexpr std::string_view kAfter = " after ";
        const size_t at = rest->find(kAfter);
        if (at == std::string_view::npos)
            return "the generic code read " + std::string(*rest) + " stopped before its end";
        return "the generic code read " + std::string(rest->substr(0, at)) +
               " stopped before its end, after " + std::string(rest->substr(at + kAfter.size()));
    }
    if (auto rest = after("Generic code read failed: ")) {
        constexpr std::string_view kAnswered = " answered ";
        const size_t at = rest->find(kAnswered);
        const std::string command = readableCommand(rest->substr(0, at));
        const auto reply =
            at == std::string_view::npos ? std::string_view() : rest->substr(at + kAnswered.size());
        if (at == std::string_view::npos || reply == QZVehicleCommunicationProtocol::kNoDataReply)
            return "the generic code read " + command + " got no answer";
        return "the generic code read " + command + " was answered " + oneLine(reply);
    }
    // The library's public lines of a smog check without a verdict and of supported PIDs not
    // read for the sensor's set-up say why in words.
    for (const std::string_view head : {std::string_view("Smog check gave no verdict: "),
                                        std::string_view(PIDInterface::kSupportNotRead)})
        if (const size_t at = line.find(head); at != std::string_view::npos)
            return std::string(line.substr(at + head.size()));
    if (line.starts_with("No vehicle bus named by the sensor and no code read"))
        return "the sensor named no vehicle bus and no code was read: no vehicle answered, check "
               "that the ignition is on";
    return {};
}

}  // namespace

// Notes the engine's warnings and errors, then hands every line on; notes the library's public
// lines too.
class EngineNotes::Adapter : public LoggerInterface, public GatewayLoggerDelegate {
  public:
    explicit Adapter(std::shared_ptr<LoggerInterface> next) : next_(std::move(next)) {}

    bool wants(QZELogLevel level) const override {
        if (level == QZELogLevel::warning || level == QZELogLevel::error) return true;
        return next_ && next_->wants(level);
    }
    void logVerbose(const std::optional<std::string>& text) override {
        if (next_) next_->logVerbose(text);
    }
    void logDebug(const std::optional<std::string>& text) override {
        if (next_) next_->logDebug(text);
    }
    void logInfo(const std::optional<std::string>& text) override {
        if (next_) next_->logInfo(text);
    }
    void logWarning(const std::optional<std::string>& text) override {
        note(text);
        if (next_ && next_->wants(QZELogLevel::warning)) next_->logWarning(text);
    }
    void logError(const std::optional<std::string>& text) override {
        note(text);
        if (next_ && next_->wants(QZELogLevel::error)) next_->logError(text);
    }

    void receivedLog(const std::string& line) override { note(line); }

    void clear() {
        std::lock_guard lock(mutex_);
        notes_.clear();
    }
    std::vector<std::string> notes() const {
        std::lock_guard lock(mutex_);
        return notes_;
    }

  private:
    void note(const std::optional<std::string>& text) {
        if (!text) return;
        auto found = noteOf(*text);
        if (found.empty()) return;
        std::lock_guard lock(mutex_);
        if (std::find(notes_.begin(), notes_.end(), found) == notes_.end())
            notes_.push_back(std::move(found));
    }

    const std::shared_ptr<LoggerInterface> next_;
    mutable std::mutex mutex_;
    std::vector<std::string> notes_;
};

std::shared_ptr<EngineNotes> EngineNotes::listen() {
    auto notes = std::make_shared<EngineNotes>();
    auto& engineLog = QZELogging::shared();
    notes->adapter_ = std::make_shared<Adapter>(engineLog.adapter());
    engineLog.registerLoggerInterface(notes->adapter_);
    GatewayLogger::setDelegate(notes->adapter_);
    return notes;
}

void EngineNotes::clear() {
    adapter_->clear();
}

std::vector<std::string> EngineNotes::notes() const {
    return adapter_->notes();
}

}  // namespace qz::tools
