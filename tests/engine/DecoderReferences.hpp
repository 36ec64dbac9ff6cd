#pragma once

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

// Replies and their meaning for the decoder tests, written from the standards (ISO 15765-2,
// SAE J2012, ISO 14229) independently of the library.
namespace qz::decodertest {

using Bytes = std::vector<int>;

// Two upper-case hex digits a byte, separated by blanks: "59 02 FF".
inline std::string hex(const Bytes& bytes) {
    std::string out;
    for (int b : bytes) {
        char buf[4];
        std::snprintf(buf, sizeof buf, "%02X", b & 0xFF);
        if (!out.empty()) out += ' ';
        out += buf;
    }
    return out;
}

inline Bytes slice(const Bytes& b, size_t from, size_t count) {
    from = std::min(from, b.size());
    return Bytes(b.begin() + static_cast<long>(from),
                 b.begin() + static_cast<long>(std::min(b.size(), from + count)));
}

// ISO-TP segmentation: a single frame up to `room` data bytes (7, or 6 behind an extended
// address), else a first frame and consecutive frames with sequence numbers 1...F, 0, ...; each
// frame with its PCI bytes.
inline std::vector<Bytes> isoTpFrames(const Bytes& payload, size_t room = 7) {
    if (payload.size() <= room) {
        Bytes f{static_cast<int>(payload.size())};
        f.insert(f.end(), payload.begin(), payload.end());
        return {f};
    }
    const int length = static_cast<int>(payload.size());
    Bytes first{0x10 | (length >> 8), length & 0xFF};
    auto head = slice(payload, 0, room - 1);
    first.insert(first.end(), head.begin(), head.end());
    std::vector<Bytes> frames{first};
    int sequence = 1;
    for (size_t at = room - 1; at < payload.size(); at += room, sequence = (sequence + 1) & 15) {
        Bytes f{0x20 | sequence};
        auto part = slice(payload, at, room);
        f.insert(f.end(), part.begin(), part.end());
        frames.push_back(f);
    }
    return frames;
}

// One CAN message with headers off: a single frame shows its data; a longer message its length
// in three hex digits, then each frame's data behind "n: ".
inline std::vector<std::string> headersOffLines(const Bytes& payload) {
    if (payload.size() <= 7) return {hex(payload)};
    char length[8];
    std::snprintf(length, sizeof length, "%03X", static_cast<unsigned>(payload.size()));
    std::vector<std::string> lines{length};
    size_t at = 0;
    for (int marker = 0; at < payload.size(); marker = (marker + 1) & 15) {
        const size_t n = at == 0 ? 6 : 7;
        char head[8];
        std::snprintf(head, sizeof head, "%X: ", marker);
        lines.push_back(head + hex(slice(payload, at, n)));
        at += n;
    }
    return lines;
}

// SAE J2012: letter from the top two bits, then the digit and three hex digits.
inline std::string refJ2012(int a, int b) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%c%d%X%02X", "PCBU"[a >> 6], (a >> 4) & 3, a & 15, b);
    return buf;
}

// ISO 14229 status bits: warning indicator (7), confirmed (3), pending (2).
inline std::string refUdsStatus(int s) {
    std::vector<std::string> words;
    if (s & 0x80) words.push_back("MIL");
    if (s & 0x08) words.push_back("CONFIRMED");
    if (s & 0x04) words.push_back("PENDING");
    std::string out;
    for (const auto& w : words) out += (out.empty() ? "" : "/") + w;
    return out;
}

// One record of a UDS 59 02 reply: the code's two bytes, the failure type byte, the status.
struct Record {
    int a, b, ftb, status;
};

inline Bytes udsPayload(const std::vector<Record>& rs) {
    Bytes p{0x59, 0x02, 0xFF};
    for (const auto& r : rs) p.insert(p.end(), {r.a, r.b, r.ftb, r.status});
    return p;
}

// The codes ("P0123-4A") and statuses the records stand for.
inline std::vector<std::string> udsCodes(const std::vector<Record>& rs) {
    std::vector<std::string> out;
    for (const auto& r : rs) {
        char ftb[4];
        std::snprintf(ftb, sizeof ftb, "%02X", r.ftb);
        out.push_back(refJ2012(r.a, r.b) + "-" + ftb);
    }
    return out;
}
inline std::vector<std::string> udsStatuses(const std::vector<Record>& rs) {
    std::vector<std::string> out;
    for (const auto& r : rs) out.push_back(refUdsStatus(r.status));
    return out;
}

}  // namespace qz::decodertest
