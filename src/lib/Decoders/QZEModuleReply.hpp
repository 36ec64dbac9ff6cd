#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lib/Facades/QZEAdapters.hpp"

// What a module's reply is: the one place the engine tells an answer from a refusal, a "response
// pending", a busy module, an answer cut short or damaged, the sensor's own words and silence.
// Every module class, strategy and decoder asks it; no other code reads negative answers, pending
// answers or cuts out of a reply.
namespace qz {

// The bytes of one vehicle message, service byte first, as hex tokens ("58", "01", ...).
using QZEMessageBytes = std::vector<std::string>;

// How the messages of a reply are framed in the sensor's display.
enum class QZEFraming {
    // ISO-TP on CAN, 11 or 29-bit: headers off (a single frame's data; a multi-frame message as its
    // length line and "N:" frames) or on (the identifier, as one token or four bytes, once or on
    // every line, then each frame with its PCI byte; a line without one is a raw frame).
    can,
    // ISO-TP with extended addressing: an address byte before every frame's PCI byte (a line of
    // more than 8 bytes holds several frames).
    canExtended,
    // K-line (KWP2000, ISO 9141, MUT): headers on, <format> <target> <source> [<length>] <data>
    // <checksum>, the format byte (bit 7 set) giving the length, or ISO 9141's 48 6B <source>
    // <data> <checksum>; or off, a message per line.
    kLine,
    // J1850: a message per line, with headers (<priority> <target> <source> <data> <crc>) or
    // without.
    j1850,
    // A message assembled already (a VW TP2.0 channel's blocks): the reply's bytes are one message.
    message,
};

// What a reply is, for the module asked.
enum class QZEReplyKind {
    answer,      // the module's positive answer, every message whole
    refusal,     // its negative answer to the service asked, whole or cut short ("7F", "7F 19")
    pending,     // only "response pending" (7F <service> 78)
    busy,        // only "busy" (7F <service> 21, 37, 10 or 23)
    cutShort,    // an answer shorter than its own length says: a frame lost, a message or list cut,
                 // a reply that stopped in its first bytes, or before any (`unknown`)
    damaged,     // a frame the adapter flags as damaged ("<RX ERROR"), or its error words beside
                 // data; a frame longer than its framing allows; a whole message whose length its
                 // record count does not give; the module's bytes answering nothing asked
    sensorWord,  // the sensor's own words or junk alone ("NO DATA", "?", "CAN ERROR"): no byte
                 // of the module
    silence,     // nothing: the prompt, blank lines, the sensor's notices
    elsewhere,   // nothing of the module: only another address answered what it was asked
};

// The response codes of a module that is busy: busy, repeat request (21), required time delay
// not expired (37), general reject (10), routine not complete (23).
inline constexpr std::array<int, 4> kBusyCodes = {0x21, 0x37, 0x10, 0x23};
bool isBusyCode(int code);

// The name of a kind, for the log ("answer", "cut short", ...).
const char* replyKindName(QZEReplyKind kind);

// Where the records of a positive answer stand: a message shorter than `head` bytes, one
// (without a count) ending inside a record, or one with fewer than `least` records is cut short;
// a whole message whose length is not what its count gives is damaged, one cut stays cut short.
struct QZERecordLayout {
    // How a count gives the records.
    enum class Count : uint8_t {
        exact,  // the message holds that many records
        // Toyota on CAN: a count of none still has one record where one stands, and fewer
        // records than counted are a message cut at its end
        oneAtLeast,
        // Toyota on K-line: only a message of even length holds a count (exact); one of odd
        // length has its records right after the response byte
        evenLength,
    };

    size_t head = 1;   // bytes before the first record, the response byte included
    int countAt = -1;  // the byte holding the record count; -1: none
    size_t size = 0;   // bytes of a record; 0: records are not checked
    size_t least = 0;  // records a whole answer holds at least (a module without faults says so)
    Count count = Count::exact;

    static QZERecordLayout kwp2000() { return {2, 1, 3}; }  // 58, count, (A, B, status)...
    static QZERecordLayout uds() { return {3, -1, 4}; }     // 59, type, mask, (A, B, FT, status)...
    // 53, count, (A, B)...
    static QZERecordLayout toyota() { return {2, 1, 2, 0, Count::oneAtLeast}; }
    // 53, [count,] (A, B)...
    static QZERecordLayout toyotaKLine() { return {2, 1, 2, 0, Count::evenLength}; }

    // Whether a message of `size` bytes holds the count; where its records begin.
    bool counted(size_t size) const {
        return countAt >= 0 && static_cast<size_t>(countAt) < size &&
               !(count == Count::evenLength && size % 2);
    }
    size_t headOf(size_t size) const { return count == Count::evenLength && size % 2 ? 1 : head; }
};

// How the sensor shows a module's messages: what the engine set. Blanks between the bytes, or
// none, are the sensor's choice and read either way.
struct QZEDisplayForm {
    // Headers shown ("KQH1"); none: not known, when the shape of each line decides.
    std::optional<bool> headers;
    // The digits of a CAN identifier the display shows: 3 (11-bit) or 8 (29-bit); 0: not known.
    int identifierDigits = 0;
};

// The question a reply answers.
struct QZEAsked {
    // A positive answer is any message that is no negative answer (the MUT erase is answered by a
    // byte of its own).
    static constexpr int kAnyByte = -2;
    // The tester's address: behind a gateway a frame's address byte may name it, not the module.
    static constexpr std::string_view kTester = "F1";

    QZEFraming framing = QZEFraming::can;
    int service = -1;   // the service asked (the request's service byte); -1: any
    int positive = -1;  // the first byte of a positive answer; -1: service + 0x40
    // The addresses the module answers from, as the display shows them: the CAN identifier
    // ("7E8", "18DAF110"), the extended address byte (for frames whose address byte is the
    // tester, the low byte of the identifier shown: "12" for 612), the K-line or J1850 source
    // byte. A message shown from another address is not its answer. Empty: any.
    std::vector<std::string> from;
    // GMLAN: the module's unacknowledged frames come on the 5xx identifier paired with the one
    // it answers from by the low byte (7E8: 5E8), and count as its own.
    bool pairedFrames = false;
    QZERecordLayout records;
    QZEDisplayForm display;

    // The question of a request text ("19 02 FF"), its first byte the service, in the display
    // form in force.
    static QZEAsked of(std::string_view request, QZEFraming framing, QZEDisplayForm display);
    // The byte a positive answer begins with (-1 when neither it nor the service is known).
    int positiveByte() const;
};

// A reply classified.
struct QZEModuleReply {
    QZEReplyKind kind = QZEReplyKind::silence;
    // An answer: the module's positive messages, whole. Cut short or damaged: the positive
    // messages as far as they came in order (a record list possibly cut), never the bytes of a
    // damaged frame nor a message whose length its count does not give. Otherwise none.
    std::vector<QZEMessageBytes> messages;
    // Whether each of the messages came whole (beside `messages`).
    std::vector<bool> whole;
    // The response code of a refusal, pending or busy answer (-1 when cut off before it).
    int code = -1;
    // A negative answer stood beside the answer: several units answered and one refused, or one
    // was still pending or busy after the last answer.
    bool withRefusal = false;
    // The addresses, as shown, whose answers to the question were set aside: the module does
    // not answer from them.
    std::vector<std::string> setAside;
    // Cut short before anything of the module came: what it answered is not known.
    bool unknown = false;
    // The reply as the sensor printed it.
    std::string text;

    bool answered() const { return kind == QZEReplyKind::answer; }
    // The module answered and could not be read: cut short, damaged, still pending or busy; or
    // only another address answered.
    bool unreadable() const;
    // Worth asking again: cut short, damaged, or only another address answered.
    bool readAgain() const;

    // Classifies the sensor's reply to a request, read in the question's display form. Lines of
    // the sensor's notices ("SEARCHING...", "BUS INIT: ...OK") are passed over; a line printed
    // without blanks is read as its bytes, an odd count of digits being a byte cut in half; a
    // negative answer is "7F" where a message begins, the service asked after it (or nothing, or
    // half a byte: cut short); a 7F anywhere else is data. A frame flagged damaged ("<RX ERROR"),
    // holding a token that is no byte after bytes, or longer than its framing allows (a CAN
    // frame of more than 8 bytes, a last frame holding bytes past its message's end that is not
    // a whole frame, a K-line message longer than its length) damages the message it stands in.
    // A message stopped in its first bytes (an identifier, or part of one, or a header alone) is
    // cut short; the module's bytes that answer nothing asked (another service's) are damaged: a
    // reply that holds a byte of the module is never the sensor's words nor silence. Messages of
    // several kinds in one reply: an answer wins (a "response pending" printed before it, a
    // unit's refusal beside it) unless a message of it is damaged or cut; then a damaged or cut
    // message, then a refusal, then the last pending or busy answer, then the module's bytes
    // answering nothing asked, then another address's answer, then the sensor's words.
    // `cutShort`: the reply stopped before its prompt, `reply` being the part that came (its last
    // line cut unless the part ended with one); cut short where the module's bytes came, pending
    // or busy to the end where that is all it said, cut short and `unknown` where nothing of the
    // module came (nothing, a notice; the sensor's words are what they say).
    static QZEModuleReply classify(std::string_view reply, const QZEAsked& asked,
                                   bool cutShort = false);
    static QZEModuleReply classify(const QZECommandReply& reply, const QZEAsked& asked) {
        return classify(reply.text, asked, reply.cutShort);
    }
    // The lines of a reply, each printed without blanks spaced into its identifier and bytes as
    // the question's display form shows them ("7E8037F1922": "7E8 03 7F 19 22").
    static std::vector<std::string> spacedLines(std::string_view reply, const QZEAsked& asked);
    // Classifies one message assembled already; `whole` is false when its blocks stopped short,
    // `damaged` true when the adapter flagged one of them.
    static QZEModuleReply classifyMessage(const QZEMessageBytes& message, bool whole,
                                          const QZEAsked& asked, bool damaged = false);
};

}  // namespace qz
