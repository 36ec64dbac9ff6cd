#include "lib/Decoders/QZEModuleReply.hpp"

#include <algorithm>

#include "lib/Decoders/QZEReplyFrames.hpp"
#include "lib/Decoders/QZEReplyLines.hpp"
#include "lib/Decoders/QZEReplyMeaning.hpp"
#include "lib/Decoders/QZEReplyText.hpp"

namespace qz {

bool isBusyCode(int code) {
    return std::find(kBusyCodes.begin(), kBusyCodes.end(), code) != kBusyCodes.end();
}

const char* replyKindName(QZEReplyKind kind) {
    switch (kind) {
        case QZEReplyKind::answer:
            return "answer";
        case QZEReplyKind::refusal:
            return "refusal";
        case QZEReplyKind::pending:
            return "response pending";
        case QZEReplyKind::busy:
            return "busy";
        case QZEReplyKind::cutShort:
            return "cut short";
        case QZEReplyKind::damaged:
            return "damaged";
        case QZEReplyKind::sensorWord:
            return "the sensor's words";
        case QZEReplyKind::silence:
            return "silence";
        case QZEReplyKind::elsewhere:
            return "another address's answer";
    }
    return "";
}

QZEAsked QZEAsked::of(std::string_view request, QZEFraming framing, QZEDisplayForm display) {
    QZEAsked asked;
    asked.framing = framing;
    asked.display = display;
    const auto t = reply::tokens(request);
    if (!t.empty()) {
        // "1902FF" and "19 02 FF" alike.
        asked.service = reply::byteValue(t[0].substr(0, 2));
    }
    return asked;
}

int QZEAsked::positiveByte() const {
    if (positive >= 0 || positive == kAnyByte) return positive;
    if (service < 0) return -1;
    return (service + 0x40) & 0xFF;
}

bool QZEModuleReply::unreadable() const {
    switch (kind) {
        case QZEReplyKind::cutShort:
        case QZEReplyKind::damaged:
        case QZEReplyKind::pending:
        case QZEReplyKind::busy:
        case QZEReplyKind::elsewhere:
            return true;
        default:
            return false;
    }
}

bool QZEModuleReply::readAgain() const {
    return kind == QZEReplyKind::cutShort || kind == QZEReplyKind::damaged ||
           kind == QZEReplyKind::elsewhere;
}

QZEModuleReply QZEModuleReply::classify(std::string_view reply, const QZEAsked& asked,
                                        bool cutShort) {
    // Each line read once, its frames made into messages, then what they mean.
    const reply::Lines lines = reply::readLines(reply, asked, cutShort);
    const reply::Messages messages = reply::frameMessages(lines, asked);
    QZEModuleReply out = reply::meaningOf(
        messages.messages, {messages.damaged, lines.words, lines.noData, cutShort}, asked);
    out.text = std::string(reply);
    return out;
}

std::vector<std::string> QZEModuleReply::spacedLines(std::string_view reply,
                                                     const QZEAsked& asked) {
    return reply::spacedLines(reply, asked);
}

QZEModuleReply QZEModuleReply::classifyMessage(const QZEMessageBytes& message, bool whole,
                                               const QZEAsked& asked, bool damaged) {
    reply::Message m;
    m.bytes.assign(message.begin(), message.end());
    m.whole = whole && std::all_of(message.begin(), message.end(),
                                   [](const std::string& b) { return reply::isByte(b); });
    std::vector<reply::Message> messages;
    if (!m.bytes.empty() || !m.whole) messages.push_back(std::move(m));
    QZEModuleReply out = reply::meaningOf(messages, {damaged, false, false, false}, asked);
    for (const auto& byte : message) out.text += byte + " ";
    return out;
}

}  // namespace qz
