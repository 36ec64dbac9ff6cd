#include "api/Live/SmogInfoRetriever.hpp"

// GCC 12 sees std::regex's inlined state moves read an uninitialised std::function when it
// optimises with the sanitizers (a false warning).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <regex>
#pragma GCC diagnostic pop

#include "api/Communication/Relay.hpp"
#include "api/Communication/Vehicle.hpp"
#include "api/Live/LiveDataSupportChecker.hpp"
#include "api/Logging/Log.hpp"
#include "lib/Decoders/QZEReplyText.hpp"
#include "lib/Facades/QZEVehicle.hpp"
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

void SmogInfoRetriever::fail(std::string cause) {
    Log::e("Smog check: " + cause);
    failures_.push_back(std::move(cause));
}

bool SmogInfoRetriever::linkDropped() {
    auto relay = vehicle_ ? vehicle_->relay() : nullptr;
    if (!relay || relay->linkOpen()) return false;
    if (!dropped_) fail("the link to the sensor dropped");
    dropped_ = true;
    return true;
}

bool SmogInfoRetriever::setUp(const char* command) {
    auto relay = vehicle_ ? vehicle_->relay() : nullptr;
    if (!relay) {
        fail("the library has no link to the sensor");
        return false;
    }
    if (linkDropped()) return false;
    auto reply = relay->sendToSensor(command, false, 0, MultiResponseStrategy::bitwiseOr);
    if (!reply && linkDropped()) return false;
    const bool taken = reply && reply::isAccepted(*reply);
    if (!taken) fail(Vehicle::setupNotTaken(command, reply, !reply && relay->answerUnknown()));
    return taken;
}

Result<std::shared_ptr<SmogInfoReport>, SmogInfoError> SmogInfoRetriever::retrieveSmogStatus() {
    failures_.clear();
    dropped_ = false;
    if (!setUp("KQX1")) {
        Log::e("Setup failed");
        return std::unexpected(dropped_ ? SmogInfoError::notConnected : SmogInfoError::setupFailed);
    }
    auto relay = vehicle_->relay();
    if (!relay) {
        Log::e("Vehicle does not have a relay set");
        fail("the library has no link to the sensor");
        return std::unexpected(SmogInfoError::setupFailed);
    }
    // Once "KQX1" is accepted, "KQX0" ends the check whatever was read. A verdict needs the
    // monitor status and both code lists: without them the check fails.
    auto end = [&](std::shared_ptr<SmogInfoReport> report)
        -> Result<std::shared_ptr<SmogInfoReport>, SmogInfoError> {
        if (!setUp("KQX0")) {
            Log::e("Setup failed");
            return std::unexpected(dropped_ ? SmogInfoError::notConnected
                                            : SmogInfoError::setupFailed);
        }
        if (!report) return std::unexpected(SmogInfoError::setupFailed);
        return report;
    };
    // Named answers where the sensor takes it: the late rest of an earlier answer is not read as
    // the next one.
    const auto named = vehicle_->answersNamed();
    if (!named) {
        if (!linkDropped()) fail(vehicle_->responseBytesUnknown());
        return end(nullptr);
    }
    auto flags = LiveDataSupportChecker(relay, *named).checkSupport(false);
    if (!flags) {
        if (!linkDropped())
            fail("the vehicle did not answer 0100 (no vehicle, or its ignition is off)");
        return end(nullptr);
    }

    auto report = std::shared_ptr<SmogInfoReport>(new SmogInfoReport());
    for (const auto& p : report->pids()) {
        if (linkDropped()) return end(nullptr);
        const uint64_t number = p->pid();
        const bool monitors = number == 0x01;
        if (number >= flags->size() || !(*flags)[number]) {
            p->setSupportStatus(SupportStatus::unsupported);
            Log::i(p->fullName() + " not supported");
            // Every OBD-II vehicle gives 01 01: the walk did not read it.
            if (monitors)
                fail(
                    "the monitor status (01 01) was not read: the vehicle does not list it "
                    "among its PIDs");
            continue;
        }
        p->setSupportStatus(SupportStatus::supported);
        const auto strategy = p->category() == PIDCategory::numeric
                                  ? MultiResponseStrategy::smallestValue
                                  : MultiResponseStrategy::bitwiseOr;
        if (auto read = vehicle_->sendAndUpdate(*p, true, strategy)) {
            Log::i("Updated: " + p->description());
        } else {
            // Listed by the vehicle, so given: the report says it was not read.
            report->setNotRead(number, read.error());
            Log::e(p->fullName() + " error updating");
            if (monitors && !linkDropped())
                fail("the monitor status (01 01) was not read: 0101 got no usable answer");
        }
    }

    // "NO DATA" lists no code; a failed exchange, "?" or an error word lists nothing.
    auto count = [&](const char* command, const char* what) -> int64_t {
        auto r = vehicle_->relay();
        OptionalText reply;
        if (linkDropped()) return 0;
        if (r)
            if (auto sent = r->sendToSensor(command, false, 0, MultiResponseStrategy::bitwiseOr))
                reply = std::move(*sent);
        if (QZEnhancedScanner::isCodeListAnswer(reply, QZEVehicle::TheVehicle().displayForm()))
            return countCodeLines(*reply);
        if (linkDropped()) return 0;
        fail(std::string("the ") + what + " codes were not read: " + command +
             (reply ? " was answered \"" + reply::joinedTokens(reply::tokens(*reply)) + "\""
                    : std::string(" got no answer")));
        return 0;
    };
    report->setNumConfirmed(count("KQTC", "stored"));
    report->setNumPending(count("KQTCP", "pending"));
    Log::i("MIL Status report complete: " + report->description());
    return end(failures_.empty() ? report : nullptr);
}

}  // namespace qz
