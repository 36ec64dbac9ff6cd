#include "api/Live/SmogInfoRetriever.hpp"

#include <regex>

#include "api/Communication/Relay.hpp"
#include "api/Communication/Vehicle.hpp"
#include "api/Live/LiveDataSupportChecker.hpp"
#include "api/Logging/Log.hpp"
#include "lib/Scanning/QZEnhancedScanner.hpp"

namespace qz {

namespace {

// Splits at every line break character (CR, LF, VT, FF, NEL, LS, PS).
std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out(1);
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        size_t breakLength = 0;
        if (c == '\n' || c == '\r' || c == '\v' || c == '\f') {
            breakLength = 1;
        } else if (c == 0xC2 && i + 1 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) == 0x85) {
            breakLength = 2;
        } else if (c == 0xE2 && i + 2 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) == 0x80 &&
                   (static_cast<unsigned char>(text[i + 2]) == 0xA8 ||
                    static_cast<unsigned char>(text[i + 2]) == 0xA9)) {
            breakLength = 3;
        }
        if (breakLength) {
            out.emplace_back();
            i += breakLength - 1;
        } else {
            out.back().push_back(text[i]);
        }
    }
    return out;
}

}  // namespace

int64_t SmogInfoRetriever::countCodeLines(const std::string& reply) {
    static const std::regex code("^[B|C|P|U][0-9,a-f,A-F]{4}(-)?([a-f,A-F,0-9]{2})?");
    std::string text;
    for (char c : reply)
        if (c != '>') text.push_back(c);
    int64_t n = 0;
    for (const auto& line : lines(text))
        if (std::regex_search(line, code)) ++n;
    return n;
}

Result<std::shared_ptr<SmogInfoReport>, SmogInfoError> SmogInfoRetriever::retrieveSmogStatus() {
    auto relay = vehicle_ ? vehicle_->relay() : nullptr;
    if (!relay) {
        Log::e("Setup failed");
        return std::unexpected(SmogInfoError::setupFailed);
    }
    if (!relay->sendToSensor("KQX1", false, 0, MultiResponseStrategy::bitwiseOr)) {
        Log::e("Setup failed");
        return std::unexpected(SmogInfoError::setupFailed);
    }
    relay = vehicle_->relay();
    if (!relay) {
        Log::e("Vehicle does not have a relay set");
        return std::unexpected(SmogInfoError::setupFailed);
    }
    // Once "KQX1" is accepted, "KQX0" ends the check whatever was read. A verdict needs the
    // monitor status and both code lists: without them the check fails.
    auto end = [&](std::shared_ptr<SmogInfoReport> report)
        -> Result<std::shared_ptr<SmogInfoReport>, SmogInfoError> {
        auto r = vehicle_->relay();
        if (!r || !r->sendToSensor("KQX0", false, 0, MultiResponseStrategy::bitwiseOr)) {
            Log::e("Setup failed");
            return std::unexpected(SmogInfoError::setupFailed);
        }
        if (!report) return std::unexpected(SmogInfoError::setupFailed);
        return report;
    };
    auto flags = LiveDataSupportChecker(relay).checkSupport(false);
    if (!flags) {
        Log::e("Smog check: the vehicle did not answer the support walk");
        return end(nullptr);
    }

    bool complete = true;
    auto report = std::shared_ptr<SmogInfoReport>(new SmogInfoReport());
    for (const auto& p : report->pids()) {
        const uint64_t number = p->pid();
        const bool monitors = number == 0x01;
        if (number >= flags->size() || !(*flags)[number]) {
            p->setSupportStatus(SupportStatus::unsupported);
            Log::i(p->fullName() + " not supported");
            if (monitors) {
                // Every OBD-II vehicle gives 01 01: the walk did not read it.
                Log::e("Smog check: monitor status (01 01) not read: not flagged by the walk");
                complete = false;
            }
            continue;
        }
        p->setSupportStatus(SupportStatus::supported);
        const auto strategy = p->category() == PIDCategory::numeric
                                  ? MultiResponseStrategy::smallestValue
                                  : MultiResponseStrategy::bitwiseOr;
        if (vehicle_->sendAndUpdate(*p, true, strategy)) {
            Log::i("Updated: " + p->description());
        } else {
            Log::e(p->fullName() + " error updating");
            if (monitors) {
                Log::e("Smog check: monitor status (01 01) not read");
                complete = false;
            }
        }
    }

    // "NO DATA" lists no code; a failed exchange, "?" or an error word lists nothing.
    auto count = [&](const char* command, const char* what) -> int64_t {
        auto r = vehicle_->relay();
        OptionalText reply;
        if (r)
            if (auto sent = r->sendToSensor(command, false, 0, MultiResponseStrategy::bitwiseOr))
                reply = std::move(*sent);
        if (QZEnhancedScanner::isCodeListAnswer(reply)) return countCodeLines(*reply);
        Log::e(std::string("Smog check: ") + what + " not read: " + command + " answered " +
               reply.value_or("nothing"));
        complete = false;
        return 0;
    };
    report->setNumConfirmed(count("KQTC", "stored codes"));
    report->setNumPending(count("KQTCP", "pending codes"));
    Log::i("MIL Status report complete: " + report->description());
    return end(complete ? report : nullptr);
}

}  // namespace qz
