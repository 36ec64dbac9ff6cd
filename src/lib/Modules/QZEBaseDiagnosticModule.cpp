#include "lib/Modules/QZEBaseDiagnosticModule.hpp"

#include <algorithm>
#include <cctype>
#include <optional>

#include "lib/Facades/QZEData.hpp"
#include "lib/Facades/QZEVehicle.hpp"
#include "lib/Logging/QZELogging.hpp"
#include "lib/Utils/QZEnhancedUtils.hpp"
#include "platform/Clock.hpp"

namespace qz {

namespace {

constexpr int kSendAttempts = 3;
// "Response pending" answers one request may get before the module counts as not answering:
// on CAN, with the pause before each new request, a wait of at most 25 s.
constexpr int kPendingAnswers = 6;
constexpr double kKlinePause = 1.0;
constexpr double kCanPause = 5.0;

// The framing of module answers on a sensor protocol ("1" and "2" J1850; "3" to "5" and ";"
// K-line; the rest CAN).
QZEFraming framingOfProtocol(const OptionalText& protocol) {
    if (!protocol || protocol->size() != 1) return QZEFraming::can;
    switch ((*protocol)[0]) {
        case '1':
        case '2':
            return QZEFraming::j1850;
        case '3':
        case '4':
        case '5':
        case ';':
            return QZEFraming::kLine;
        default:
            return QZEFraming::can;
    }
}

}  // namespace

namespace {

QZELogging& log() {
    return QZELogging::shared();
}

bool contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

// Seconds between two looks at the link while the user is asked.
constexpr double kLinkPoll = 0.25;

void pause(double seconds) {
    QZEVehicle::TheVehicle().pause(seconds);
}

std::vector<std::string> toStrings(const reply::Tokens& tokens) {
    return {tokens.begin(), tokens.end()};
}

}  // namespace

// The wait for the user, shared with the notification observers so that a post racing with
// the module's destruction never touches a freed module.
struct QZEBaseDiagnosticModule::Interaction {
    std::atomic<bool> awaiting{false};
    std::mutex mutex;
    std::condition_variable changed;
    bool interrupted = false;
    // The link went away while this module lived: no later wait could end by the sensor, and a
    // loss just before a wait begins must not leave it blocked.
    bool linkLost = false;

    void begin() {
        std::lock_guard lock(mutex);
        interrupted = linkLost;
        awaiting = !linkLost;
    }
    // Ends a wait: by the user, or by the link going away.
    void end(bool byUser) {
        {
            std::lock_guard lock(mutex);
            if (!byUser) {
                linkLost = true;
                if (!awaiting) return;
                interrupted = true;
            }
            awaiting = false;
        }
        changed.notify_all();
    }
};

QZEBaseDiagnosticModule::QZEBaseDiagnosticModule(int64_t manufacturer)
    : m_vehicleManufacturer(manufacturer), interaction_(std::make_shared<Interaction>()) {
    auto& center = NotificationCenter::defaultCenter();
    auto complete = [state = interaction_](const Notification&) { state->end(true); };
    auto linkLost = [state = interaction_](const Notification&) { state->end(false); };
    observers_.push_back(
        center.addObserver(QZEModuleNotifications::kInteractionComplete, complete));
    observers_.push_back(center.addObserver(QZEModuleNotifications::kDeviceDisconnected, linkLost));
    observers_.push_back(center.addObserver(QZEModuleNotifications::kDeviceTimedOut, linkLost));
}

QZEBaseDiagnosticModule::~QZEBaseDiagnosticModule() {
    for (auto token : observers_) NotificationCenter::defaultCenter().removeObserver(token);
}

bool QZEBaseDiagnosticModule::scanCodes(QZEModuleData&) {
    log().logVerbose("Not implemented, should not be called!");
    return false;
}

bool QZEBaseDiagnosticModule::clearCodes(QZEModuleData&) {
    log().logVerbose("Not implemented, should not be called!");
    return false;
}

// --- Sending ---

QZECommandReply QZEBaseDiagnosticModule::sendCommandToOstrel(const std::string& cmd) {
    log().logVerbose("Send this command to the vehicle: %@", cmd);
    QZECommandReply reply = QZEVehicle::TheVehicle().sendCommand(cmd);
    // With the sensor's echo on, the command comes back before its answer.
    reply.text = std::string(reply::withoutEcho(reply.text, cmd));
    if (!cmd.starts_with("KQ")) rate(reply, askedOf(cmd));
    return reply;
}

bool QZEBaseDiagnosticModule::sendSetupCommandToOstrel(const std::string& cmd) {
    QZESetupAnswer answer = QZESetupAnswer::unanswered;
    for (int attempt = 0; attempt < kSendAttempts && answer != QZESetupAnswer::accepted; ++attempt)
        answer = QZEVehicle::TheVehicle().sendSetupCommand(cmd);
    return setupTaken(cmd, answer);
}

bool QZEBaseDiagnosticModule::setupTaken(const std::string& cmd, QZESetupAnswer answer) {
    switch (answer) {
        case QZESetupAnswer::accepted:
            return true;
        case QZESetupAnswer::refused:
            log().logError("Setup command refused: %@", cmd);
            return false;
        case QZESetupAnswer::unanswered:
            // Once the link is gone, its end is what happened, not the command's.
            if (QZEVehicle::TheVehicle().isLinkOpen())
                log().logError("Setup command not answered: %@", cmd);
            return false;
    }
    return false;
}

bool QZEBaseDiagnosticModule::setUpForRead(const std::string& cmd) {
    if (sendSetupCommandToOstrel(cmd)) return true;
    // The sensor is not in the state the module needs: what it would read is not its own.
    noteOutcome(QZEReadOutcome::setupRefused);
    return false;
}

QZEAsked QZEBaseDiagnosticModule::askedOf(const std::string& cmd) const {
    if (asking_) return *asking_;
    return QZEAsked::of(cmd, framingOfProtocol(QZEVehicle::TheVehicle().activeProtocolString()),
                        displayed());
}

QZEDisplayForm QZEBaseDiagnosticModule::displayed() {
    return QZEVehicle::TheVehicle().displayForm();
}

QZECommandReply QZEBaseDiagnosticModule::sendCommandWithReties(const std::string& cmd) {
    const QZEAsked asked = askedOf(cmd);
    // The sensor's NO DATA, whole: a reply cut short is the module's to tell.
    auto noData = [&](const QZECommandReply& reply) {
        return !reply.cutShort && reply::holdsNoData(reply.text) &&
               QZEModuleReply::classify(reply, asked).kind == QZEReplyKind::sensorWord;
    };
    QZECommandReply reply = sendCommandToOstrel(cmd);
    for (int attempt = 2; attempt <= kSendAttempts && noData(reply); ++attempt) {
        log().logInfo("Retrying NO_DATA CMD: %@, attempt %@ of 3", cmd, std::to_string(attempt));
        reply = sendCommandToOstrel(cmd);
    }
    return reply;
}

QZECommandReply QZEBaseDiagnosticModule::retryIfNrcAckOnKline(const std::string& cmd) {
    Asking asking(*this, cmd, QZEFraming::kLine);
    return retryOnKline(cmd, [this](const std::string& c) { return sendCommandToOstrel(c); });
}

QZECommandReply QZEBaseDiagnosticModule::retryOnKline(
    const std::string& cmd, const std::function<QZECommandReply(const std::string&)>& send) {
    const QZEAsked asked = askedOf(cmd);
    QZECommandReply reply;
    std::optional<QZECommandReply> waiting;  // its last "pending" or "busy"
    int sends = 0;
    int pending = 0;
    while (sends < kSendAttempts) {
        reply = send(cmd);
        const QZEReplyKind kind = QZEModuleReply::classify(reply, asked).kind;
        if (kind == QZEReplyKind::pending || kind == QZEReplyKind::busy) waiting = reply;
        switch (kind) {
            case QZEReplyKind::pending:
                // A module still working on the request is asked again at once, without using
                // up a send, until it has said so kPendingAnswers times.
                if (++pending < kPendingAnswers) continue;
                return reply;
            case QZEReplyKind::busy:
            case QZEReplyKind::silence:
                ++sends;
                pause(kKlinePause);  // also after the last send
                continue;
            case QZEReplyKind::sensorWord:
                // Nothing of a module that has answered: asked again, as a silent one is.
                if (!stillAnswering(waiting)) return reply;
                ++sends;
                pause(kKlinePause);
                continue;
            default:
                return reply;
        }
    }
    // A module that answered is never one that did not: its last answer stands.
    return stillAnswering(waiting) ? *waiting : reply;
}

bool QZEBaseDiagnosticModule::stillAnswering(const std::optional<QZECommandReply>& waiting) {
    // Once the link is gone, its end is what happened.
    return waiting && QZEVehicle::TheVehicle().isLinkOpen();
}

QZECommandReply QZEBaseDiagnosticModule::retryIfNrcAckOnCAN(const std::string& cmd) {
    Asking asking(*this, cmd, QZEFraming::can);
    const QZEAsked asked = askedOf(cmd);
    QZECommandReply reply;
    std::optional<QZECommandReply> waiting;  // its last "pending" or "busy"
    int sends = 0;
    int pending = 0;
    while (sends < kSendAttempts) {
        reply = sendCommandToOstrel(cmd);
        const QZEReplyKind kind = QZEModuleReply::classify(reply, asked).kind;
        if (kind == QZEReplyKind::pending || kind == QZEReplyKind::busy) waiting = reply;
        switch (kind) {
            case QZEReplyKind::silence:
            case QZEReplyKind::sensorWord:
                // NO DATA among the sensor's words ends it at once, unless the module has
                // answered: then it is asked again, as a busy one is.
                if (!stillAnswering(waiting)) {
                    if (kind == QZEReplyKind::silence) pause(kCanPause);
                    return reply;
                }
                ++sends;
                pause(kCanPause);
                continue;
            case QZEReplyKind::pending:
                // Still working on it: asked again after the pause, without using up a send,
                // until it has said so kPendingAnswers times.
                if (++pending >= kPendingAnswers) return reply;
                pause(kCanPause);
                continue;
            case QZEReplyKind::busy:
                ++sends;
                pause(kCanPause);  // also after the last send
                continue;
            default:
                return reply;
        }
    }
    // A module that answered is never one that did not: its last answer stands.
    return stillAnswering(waiting) ? *waiting : reply;
}

void QZEBaseDiagnosticModule::evaluteModuleResponse(const QZECommandReply& reply) {
    if (asking_) return rate(reply, *asking_);
    // Without the request: any service, and any message that is no negative answer answers it.
    QZEAsked any = QZEAsked::of(
        "", framingOfProtocol(QZEVehicle::TheVehicle().activeProtocolString()), displayed());
    any.positive = QZEAsked::kAnyByte;
    rate(reply, any);
}

void QZEBaseDiagnosticModule::rate(const QZECommandReply& reply, const QZEAsked& asked) {
    rate(QZEModuleReply::classify(reply, asked));
}

void QZEBaseDiagnosticModule::rate(const QZEModuleReply& classified) {
    int64_t state = ResponseStateNoData;
    const char* name = "NoData";
    switch (classified.kind) {
        case QZEReplyKind::silence:
            state = ResponseStateUnknown;
            name = "Unknown";
            break;
        case QZEReplyKind::refusal:
        case QZEReplyKind::pending:
        case QZEReplyKind::busy:
            // Negative answers, of every code.
            state = ResponseStateHasNakData;
            name = "NakData";
            break;
        case QZEReplyKind::answer:
            state = ResponseStateHasData;
            name = "HasData";
            break;
        case QZEReplyKind::cutShort:
        case QZEReplyKind::damaged:
            // The module's bytes came: it answered, and what it said could not be read (the read
            // is the one to tell that it could not). Nothing of it came: nothing is known.
            state = classified.unknown ? ResponseStateUnknown : ResponseStateHasData;
            name = classified.unknown ? "Unknown" : "HasData";
            break;
        default:  // the sensor's words, another address's answer
            break;
    }
    if (state > responseLimit_) return;
    if (state > responseState_) {
        log().logInfo("Updrading response state to %@due to response: %@", name, classified.text);
        responseState_ = state;
    }
}

std::vector<std::string> QZEBaseDiagnosticModule::cleanResponseString(std::string_view reply) {
    return toStrings(reply::tokens(reply));
}

std::vector<std::string> QZEBaseDiagnosticModule::parseResponseToArray(std::string_view reply) {
    return cleanResponseString(reply);
}

std::vector<QZEMessageBytes> QZEBaseDiagnosticModule::readableMessages(
    const QZEModuleReply& reply) {
    if (reply.kind != QZEReplyKind::damaged) return reply.messages;
    // A damaged message's bytes are no code, not even those before the damage.
    std::vector<QZEMessageBytes> out;
    for (size_t i = 0; i < reply.messages.size(); ++i)
        if (i < reply.whole.size() && reply.whole[i]) out.push_back(reply.messages[i]);
    return out;
}

// --- Results ---

void QZEBaseDiagnosticModule::addCode(const std::string& code, const std::string& status,
                                      const std::optional<std::string>& description) {
    log().logInfo("Adding Code: %@, status: %@, description: %@", code, status, description);
    const auto at = indexOfCode(code);
    if (!at) {
        m_codeIndex.emplace(code, m_codeArray.size());
        m_codeArray.push_back(code);
        ++m_indexedCodes;
        m_lastIndexedCode = code;
        m_statusArray.push_back(status);
        if (description) m_definitionArray.push_back(*description);
        return;
    }
    const size_t i = *at;
    if (i >= m_statusArray.size() || status.empty()) return;
    std::string& stored = m_statusArray[i];
    size_t start = 0;
    while (start <= status.size()) {
        size_t end = std::min(status.find('/', start), status.size());
        std::string word = status.substr(start, end - start);
        if (!word.empty() && !contains(stored, word)) {
            if (!stored.empty()) stored += '/';
            stored += word;
        }
        start = end + 1;
    }
}

void QZEBaseDiagnosticModule::addCode(const std::string& code, const std::string& status) {
    addCode(code, status, std::nullopt);
}

std::optional<size_t> QZEBaseDiagnosticModule::indexOfCode(const std::string& code) {
    // Emptied or rewritten directly since the last look: index it again.
    if (m_codeArray.size() < m_indexedCodes ||
        (m_indexedCodes > 0 && m_codeArray[m_indexedCodes - 1] != m_lastIndexedCode)) {
        m_codeIndex.clear();
        m_indexedCodes = 0;
    }
    for (; m_indexedCodes < m_codeArray.size(); ++m_indexedCodes)
        m_codeIndex.try_emplace(m_codeArray[m_indexedCodes], m_indexedCodes);
    if (m_indexedCodes > 0) m_lastIndexedCode = m_codeArray[m_indexedCodes - 1];
    auto it = m_codeIndex.find(code);
    if (it == m_codeIndex.end()) return std::nullopt;
    if (m_codeArray[it->second] != code) {
        m_codeIndex.clear();
        m_indexedCodes = 0;
        return indexOfCode(code);
    }
    return it->second;
}

void QZEBaseDiagnosticModule::clearResults() {
    m_codeArray.clear();
    m_statusArray.clear();
    m_definitionArray.clear();
    m_codeIndex.clear();
    m_indexedCodes = 0;
    m_lastIndexedCode.clear();
}

QZEBaseDiagnosticModule::Results QZEBaseDiagnosticModule::results() const {
    return {m_codeArray, m_statusArray, m_definitionArray};
}

void QZEBaseDiagnosticModule::restoreResults(Results saved) {
    clearResults();
    m_codeArray = std::move(saved.codes);
    m_statusArray = std::move(saved.statuses);
    m_definitionArray = std::move(saved.definitions);
}

void QZEBaseDiagnosticModule::addCodeUnlessFiller(const std::string& code,
                                                  const std::string& status) {
    if (!reply::isFillerCode(code)) addCode(code, status);
}

// --- Bus and pins ---

bool QZEBaseDiagnosticModule::setProtocolIfNeeded(const std::optional<std::string>& protocol) {
    if (!protocol || protocol->size() != 1) {
        log().logError("Invalid protocol requested");
        return true;
    }
    if (QZEVehicle::TheVehicle().activeProtocolString() == protocol) return true;
    return sendSetupCommandToOstrel(setupCommand("SP" + *protocol));
}

bool QZEBaseDiagnosticModule::setPinsIfNeeded(const std::optional<std::string>& pins) {
    if (!pins || pins->size() != 2) return true;
    if (!QZEnhancedUtils::checkFwIsAtLeast(400, "PIN SWITCHING")) return true;
    int high = reply::hexDigit((*pins)[0]);
    int low = reply::hexDigit((*pins)[1]);
    if (high < 0 || low < 0) {
        log().logError("Invalid pins requested: %@", *pins);
        return true;
    }
    auto& vehicle = QZEVehicle::TheVehicle();
    if (vehicle.activeHighPin() == high && vehicle.activeLowPin() == low) return true;
    return sendSetupCommandToOstrel("KQSM" + *pins);
}

// --- Interaction ---

void QZEBaseDiagnosticModule::postInteractionNotificaiton(const std::string& message) {
    interaction_->begin();
    NotificationCenter::defaultCenter().post(QZEModuleNotifications::kInteractionRequired, nullptr,
                                             {{"msg", message}});
}

void QZEBaseDiagnosticModule::handleInteractionResponse() {
    interaction_->end(true);
}

bool QZEBaseDiagnosticModule::awaitingInteraction() const {
    return interaction_->awaiting;
}

bool QZEBaseDiagnosticModule::waitForInteraction() {
    auto clock = Clock::current();
    auto& state = *interaction_;
    while (true) {
        {
            std::unique_lock lock(state.mutex);
            if (clock->waitFor(lock, state.changed, kLinkPoll, [&] { return !state.awaiting; }))
                return !state.interrupted;
        }
        // A session may tell of its end only after the scan (BLE does so on the queue the scan
        // holds): the link itself is looked at between the waits.
        if (!QZEVehicle::TheVehicle().isLinkOpen()) state.end(false);
    }
}

// --- Helpers ---

std::string QZEBaseDiagnosticModule::setupCommand(std::string_view suffix) {
    std::string out = QZEData::sharedData().useNewCommandSet() ? "KQ" : "AT";
    out += suffix;
    return out;
}

bool QZEBaseDiagnosticModule::sendSetupCommands(std::initializer_list<std::string> commands) {
    for (const auto& cmd : commands)
        if (!sendSetupCommandToOstrel(cmd)) return false;
    return true;
}

QZECommandReply QZEBaseDiagnosticModule::request(const std::string& cmd, Retry retry) {
    switch (retry) {
        case Retry::noData:
            return sendCommandWithReties(cmd);
        case Retry::nrcKline:
            return retryIfNrcAckOnKline(cmd);
        case Retry::nrcCan:
            return retryIfNrcAckOnCAN(cmd);
        case Retry::nrcJ1850: {
            Asking asking(*this, cmd, QZEFraming::j1850);
            return retryOnKline(cmd,
                                [this](const std::string& c) { return sendCommandWithReties(c); });
        }
        case Retry::none:
            break;
    }
    return sendCommandToOstrel(cmd);
}

QZEModuleReply QZEBaseDiagnosticModule::exchange(const std::string& cmd, Retry retry,
                                                 const QZEAsked& asked) {
    const auto before = asking_;
    asking_ = asked;
    const QZECommandReply reply = request(cmd, retry);
    asking_ = before;
    return QZEModuleReply::classify(reply, asked);
}

bool QZEBaseDiagnosticModule::selectBus(const QZEModuleData& module) {
    if (auto protocol = module.extra("protocol").text())
        if (!setProtocolIfNeeded(protocol)) return false;
    if (auto pins = module.extra("pins").text()) return setPinsIfNeeded(pins);
    return true;
}

}  // namespace qz
