#include "lib/Modules/Makes/Vag.hpp"

#include <algorithm>
#include <cctype>
#include <functional>
#include <utility>

#include "lib/Facades/QZEVehicle.hpp"
#include "lib/Logging/QZELogging.hpp"
#include "lib/Utils/EnhancedProtocolManufacturer.hpp"

namespace qz {

namespace {

constexpr int64_t kVag = static_cast<int64_t>(EnhancedProtocolManufacturer::VOLKSWAGEN);

// TP2.0: the channel set-up goes to 200 and is answered on the module's call-up identifier;
// the parameters are asked once the channel is open; A8 closes it.
constexpr const char* kSetupIdentifier = "200";
constexpr const char* kSetupRequest = " C0 00 10 00 03 01";
constexpr const char* kChannelParameters = "A0 0F 8A FF 32 FF";
constexpr const char* kChannelClose = "A8";
// Replies (and acknowledgements) one request may take before its answer is whole.
constexpr int kTp2Rounds = 16;
constexpr int kPendingAttempts = 3;
constexpr double kPendingPause = 5.0;

QZELogging& log() {
    return QZELogging::shared();
}

bool isHexByte(std::string_view token) {
    return token.size() == 2 && std::isxdigit(static_cast<unsigned char>(token[0])) &&
           std::isxdigit(static_cast<unsigned char>(token[1]));
}

// The frames of a raw CAN reply: one per line (printed without blanks or with them), an
// identifier in front skipped. A line that begins with a byte and does not hold whole bytes to
// its end is no frame: it was cut inside a byte, or garbled.
struct RawFrames {
    std::vector<std::vector<std::string>> frames;
    bool cut = false;      // a line of bytes ending in half a byte
    bool garbled = false;  // a line of bytes holding a token that is no byte
};

RawFrames rawFrames(std::string_view text) {
    RawFrames out;
    reply::Identifiers identifiers;
    const QZEAsked shown = QZEAsked::of("", QZEFraming::can, QZEBaseDiagnosticModule::displayed());
    for (const auto& line : QZEModuleReply::spacedLines(text, shown)) {
        auto t = reply::tokens(line);
        t.erase(t.begin(), t.begin() + static_cast<std::ptrdiff_t>(identifiers.at(t)));
        if (t.empty()) continue;
        if (std::all_of(t.begin(), t.end(), isHexByte)) {
            out.frames.emplace_back(t.begin(), t.end());
        } else if (isHexByte(t[0]) && !reply::holdsSensorError(line) && !reply::holdsNoData(line)) {
            const bool halfByte = t.back().size() == 1 && reply::isHexToken(t.back());
            if (halfByte && std::all_of(t.begin(), t.end() - 1, isHexByte))
                out.cut = true;
            else
                out.garbled = true;
        }
    }
    return out;
}

// A channel frame's answer that could not be read: damaged, or the frame asked for cut short
// (`size` bytes, `ours` telling it from other frames), or too little of it came to tell. None
// otherwise.
std::optional<QZEModuleReply> unreadableFrame(
    const QZECommandReply& text, const std::string& from, size_t size,
    const std::function<bool(const QZEMessageBytes&)>& ours) {
    QZEAsked asked = QZEAsked::of("", QZEFraming::message, QZEBaseDiagnosticModule::displayed());
    asked.positive = QZEAsked::kAnyByte;
    asked.records = {size, -1, 0};
    asked.from = {from};
    QZEModuleReply reply = QZEModuleReply::classify(text, asked);
    const bool askedFor = reply.messages.empty() || ours(reply.messages[0]);
    if (reply.kind == QZEReplyKind::damaged || (reply.kind == QZEReplyKind::cutShort && askedFor))
        return reply;
    return std::nullopt;
}

std::string firstListed(const std::string& list) {
    return list.substr(0, list.find(','));
}

QZEVagTroubleCodeStore* moduleStoreOf(const QZEModuleData* module) {
    if (!module) return nullptr;
    return module->extra("VAG_CODE_STORE").object<QZEVagTroubleCodeStore>().get();
}

std::optional<std::string> definitionOfCode(const std::string& code,
                                            QZEVagTroubleCodeStore* moduleStore,
                                            QZEVagTroubleCodeStore* globalStore) {
    for (auto* store : {moduleStore, globalStore})
        if (store)
            if (auto definition = store->getDefinitionForJ20120(code)) return definition;
    return std::nullopt;
}

}  // namespace

QZEVagCode vagCodeForFaultNumber(int a, int b, QZEVagTroubleCodeStore* moduleStore,
                                 QZEVagTroubleCodeStore* globalStore) {
    const int number = ((a & 0xFF) << 8) | (b & 0xFF);
    char padded[8];
    std::snprintf(padded, sizeof padded, "%05d", number);
    for (const std::string& dfcc : {std::string(padded), std::to_string(number)}) {
        for (auto* store : {moduleStore, globalStore}) {
            if (!store) continue;
            auto j2012 = store->getJ2012ForDfcc(dfcc);
            if (!j2012 || firstListed(*j2012).empty()) continue;
            return {firstListed(*j2012), store->getDefinitionForDfcc(dfcc).value_or("")};
        }
    }
    std::string code = reply::j2012Code(a & 0xFF, b & 0xFF);
    std::string definition = definitionOfCode(code, moduleStore, globalStore).value_or("");
    return {std::move(code), std::move(definition)};
}

// --- TP2.0 ---

QZETp2Assembler::Step QZETp2Assembler::feed(std::string_view reply, bool cutShort) {
    Step step = frames(reply);
    if (cutShort && !step.broken) {
        // The reply stopped before its prompt: the blocks are broken where it stopped.
        step.broken = true;
        step.cut = true;
        step.complete = false;
    }
    return step;
}

QZETp2Assembler::Step QZETp2Assembler::frames(std::string_view reply) {
    Step step;
    if (reply::holdsDamagedFrame(reply)) {
        step.broken = true;
        step.damaged = true;
        return step;
    }
    const RawFrames raw = rawFrames(reply);
    if (raw.garbled || raw.cut) {
        step.broken = true;
        step.damaged = raw.garbled;
        step.cut = !raw.garbled;
        return step;
    }
    bool sawData = false;
    for (const auto& frame : raw.frames) {
        const int op = reply::byteValue(frame[0]);
        const int kind = op >> 4;
        const int sequence = op & 15;
        if (kind > 3) continue;  // acknowledgements and channel frames
        sawData = true;
        if (m_nextSequence >= 0 && sequence != m_nextSequence) {
            step.broken = true;
            return step;
        }
        m_nextSequence = (sequence + 1) & 15;
        auto payload = frame.begin() + 1;
        if (!m_started) {
            if (frame.end() - payload < 2) {
                step.broken = true;
                return step;
            }
            m_length = static_cast<size_t>(reply::byteValue(payload[0]) << 8 |
                                           reply::byteValue(payload[1]));
            m_started = true;
            payload += 2;
        }
        for (; payload != frame.end() && m_message.size() < m_length; ++payload)
            m_message.emplace_back(*payload);
        step.ackNeeded = kind == 0 || kind == 1;
        step.ackSequence = m_nextSequence;
        if (kind == 1 || kind == 3) {
            if (m_message.size() < m_length) {
                step.broken = true;
                return step;
            }
            step.complete = true;
        }
    }
    if (!sawData) step.broken = true;
    return step;
}

// --- K-line ---

QZEVAGKLineModule::QZEVAGKLineModule(std::shared_ptr<QZEVagGlobalTroubleCodeStore> codeStore)
    : QZEMakeModule(kVag, QZEModuleTraits::kLine), m_codeStore(std::move(codeStore)) {}

QZEModuleProtocol QZEVAGKLineModule::protocolFor(const QZEModuleData&) const {
    return QZEModuleProtocols::kwpKLine;
}

void QZEVAGKLineModule::addDTCWithAByte(uint32_t a, uint32_t b, const std::string& status) {
    auto code = vagCodeForFaultNumber(static_cast<int>(a), static_cast<int>(b),
                                      moduleStoreOf(readingModule()), m_codeStore.get());
    addDescribedCode(code.code, status, code.definition);
}

// --- CAN ---

QZEVAGCanModule::QZEVAGCanModule(std::shared_ptr<QZEVagGlobalTroubleCodeStore> codeStore)
    : QZEMakeModule(kVag, QZEModuleTraits::can), m_codeStore(std::move(codeStore)) {
    setRetryEnabled(false);
}

QZEModuleProtocol QZEVAGCanModule::protocolFor(const QZEModuleData& module) const {
    // TP2.0 carries KWP2000; the rest is UDS.
    if (!module.extra("TP2").isNull()) return QZEModuleProtocols::kwpKLine;
    return QZEModuleProtocols::udsCan;
}

namespace {

// The question of a KWP2000 request over the channel: the assembled message.
QZEAsked tp2Asked(const std::string& request, bool read) {
    QZEAsked asked =
        QZEAsked::of(request, QZEFraming::message, QZEBaseDiagnosticModule::displayed());
    if (read) asked.records = QZERecordLayout::kwp2000();
    return asked;
}

}  // namespace

bool QZEVAGCanModule::scanCodes(QZEModuleData& module) {
    if (module.extra("TP2").isNull()) return QZEMakeModule::scanCodes(module);
    const auto row = protocolFor(module);
    const QZEAsked asked = tp2Asked(row.read, true);
    return read(module, row, [&] {
        return readWhileCutShort(
            module, [&] { return tp2Request(module, row.read, asked); },
            [&](const QZEModuleReply& reply) { decodeMessages(reply, row); });
    });
}

bool QZEVAGCanModule::clearCodes(QZEModuleData& module) {
    if (module.extra("TP2").isNull()) return QZEMakeModule::clearCodes(module);
    const auto row = protocolFor(module);
    return tp2Request(module, row.clear, tp2Asked(row.clear, false)).answered();
}

void QZEVAGCanModule::addUdsCodeFromBytes(const std::vector<std::string>& bytes) {
    if (bytes.size() != 4) {
        log().logError("Incorrect UDS code size: %@", bytes.size());
        return;
    }
    const std::string base =
        getJ2012CodeFromBytes(reply::byteValue(bytes[0]), reply::byteValue(bytes[1]));
    addDescribedCode(
        base + "-" + bytes[2], decodeStatusByte(reply::byteValue(bytes[3])),
        definitionOfCode(base, moduleStoreOf(readingModule()), m_codeStore.get()).value_or(""));
}

void QZEVAGCanModule::addDTCWithAByte(uint32_t a, uint32_t b, const std::string& status) {
    auto code = vagCodeForFaultNumber(static_cast<int>(a), static_cast<int>(b),
                                      moduleStoreOf(readingModule()), m_codeStore.get());
    addDescribedCode(code.code, status, code.definition);
}

QZEModuleReply QZEVAGCanModule::tp2Request(const QZEModuleData& module, const std::string& kwp,
                                           const QZEAsked& asked) {
    auto tp2 = address(module.extra("TP2").text());
    auto callUp = address(module.extra("CallUp").text());
    if (!tp2 || !callUp) return {};
    // The frames of the channel rate no answer; the message they carry does.
    std::optional<QZEModuleReply> answer;
    {
        UnratedReplies unrated(*this);
        QZEModuleReply setUp;
        switch (openChannel(*tp2, *callUp, setUp)) {
            case Channel::none:
                return {};
            case Channel::cut: {
                // Read again, as any answer cut short or damaged; its bytes are no codes.
                QZEModuleReply cut;
                cut.kind = setUp.kind;
                cut.text = setUp.text;
                return cut;
            }
            case Channel::open:
                break;
        }
        answer = channelRequest(kwp, asked);
        closeChannel();
    }
    if (!answer) return {};
    rate(*answer);
    return *answer;
}

QZEVAGCanModule::Channel QZEVAGCanModule::openChannel(const std::string& tp2,
                                                      const std::string& callUp,
                                                      QZEModuleReply& setUp) {
    m_sequence = 0;
    if (!setUpForRead(setupCommand("SH") + kSetupIdentifier) ||
        !setUpForRead(setupCommand("CF") + callUp))
        return Channel::none;
    const QZECommandReply reply = sendCommandToOstrel(tp2 + kSetupRequest);
    // <destination> D0 <tester's identifier, low, high> <module's identifier, low, high> ...
    std::optional<std::pair<int, int>> ids;
    for (const auto& frame : rawFrames(reply.text).frames) {
        if (frame.size() < 6 || frame[1] != "D0") continue;
        auto word = [&](size_t at) {
            return (reply::byteValue(frame[at + 1]) << 8 | reply::byteValue(frame[at])) & 0x7FF;
        };
        ids = std::make_pair(word(2), word(4));
        break;
    }
    if (!ids) {
        // The positive frame, or too little of one to tell.
        auto unreadable = unreadableFrame(reply, callUp, 7, [](const QZEMessageBytes& frame) {
            return frame.size() < 2 || frame[1] == "D0";
        });
        if (unreadable) {
            log().logInfo("TP2.0 channel set-up at %@ answered %@", tp2,
                          replyKindName(unreadable->kind));
            setUp = std::move(*unreadable);
            return Channel::cut;
        }
        log().logVerbose("No TP2.0 channel at %@", tp2);
        return Channel::none;
    }
    const auto [receive, transmit] = *ids;
    const std::string channel = objcFormat("%03X", receive);
    if (!setUpForRead(setupCommand("SH") + objcFormat("%03X", transmit)) ||
        !setUpForRead(setupCommand("CF") + channel))
        return Channel::none;
    // A1 <block size> <timing parameters>
    const QZECommandReply parameters = sendCommandToOstrel(kChannelParameters);
    for (const auto& frame : rawFrames(parameters.text).frames)
        if (frame[0] == "A1") return Channel::open;
    auto unreadable = unreadableFrame(
        parameters, channel, 6, [](const QZEMessageBytes& frame) { return frame[0] == "A1"; });
    log().logVerbose("TP2.0 channel at %@ gave no parameters", tp2);
    closeChannel();
    if (!unreadable) return Channel::none;
    setUp = std::move(*unreadable);
    return Channel::cut;
}

void QZEVAGCanModule::closeChannel() {
    sendCommandToOstrel(kChannelClose);
}

std::optional<QZEModuleReply> QZEVAGCanModule::channelRequest(const std::string& kwp,
                                                              const QZEAsked& asked) {
    const auto bytes = reply::tokens(kwp);
    std::optional<QZEModuleReply> answer;
    for (int attempt = 1; attempt <= kPendingAttempts; ++attempt) {
        // One data frame: last, acknowledgement wanted, the length, the request.
        const std::string frame = hexByte(0x10 | m_sequence) + " " +
                                  hexByte(static_cast<int>(bytes.size() >> 8)) + " " +
                                  hexByte(static_cast<int>(bytes.size())) + " " + kwp;
        m_sequence = (m_sequence + 1) & 15;
        QZECommandReply reply = sendCommandToOstrel(frame);
        QZETp2Assembler assembler;
        QZETp2Assembler::Step step;
        for (int round = 0; round < kTp2Rounds; ++round) {
            step = assembler.feed(reply.text, reply.cutShort);
            if (step.broken || !step.ackNeeded) break;
            reply = sendCommandToOstrel(objcFormat("B%X", step.ackSequence));
            if (step.complete) break;
        }
        const auto& message = assembler.message();
        if (!step.complete) {
            // Blocks that stopped short of the length the first one announced, or a damaged or
            // cut one.
            if (!step.damaged && !step.cut && !(assembler.started() && !message.empty()))
                return std::nullopt;
            return QZEModuleReply::classifyMessage(message, false, asked, step.damaged);
        }
        answer = QZEModuleReply::classifyMessage(message, true, asked);
        if (answer->kind != QZEReplyKind::pending) return answer;
        QZEVehicle::TheVehicle().pause(kPendingPause);
    }
    return answer;  // still pending
}

}  // namespace qz
