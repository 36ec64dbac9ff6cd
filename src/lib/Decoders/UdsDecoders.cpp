// UDS ReadDTCInformation replies: "59", the report type, the availability mask, then
// (A, B, failure type, status) records. Also the ECU identification replies.

#include <algorithm>

#include "lib/Decoders/QZEReplyText.hpp"
#include "lib/Logging/QZELogging.hpp"
#include "lib/Modules/QZEBaseDiagnosticModule.hpp"

namespace qz {

namespace {

std::string joined(reply::Tokens::const_iterator begin, reply::Tokens::const_iterator end) {
    std::string out;
    for (auto it = begin; it != end; ++it) out += *it;
    return out;
}

}  // namespace

int64_t QZEBaseDiagnosticModule::decodeUds(std::string_view text) {
    if (text.size() < 10) return 0;
    for (const auto& message : reply::canMessages(text)) {
        auto at = std::find(message.begin(), message.end(), "59");
        if (at == message.end()) continue;
        // 59, report type and mask, then whole records up to the message's length.
        size_t pos = static_cast<size_t>(at - message.begin()) + 3;
        int64_t records = 0;
        std::vector<std::string> record(4);
        for (; pos + 4 <= message.size(); pos += 4, ++records) {
            for (size_t i = 0; i < 4; ++i) record[i] = message[pos + i];
            addUdsCodeFromBytes(record);
        }
        return records;
    }
    QZELogging::shared().logVerbose("Invalid index for UTC code");
    return 0;
}

int64_t QZEBaseDiagnosticModule::decodeExtendedUds(std::string_view text) {
    // Frames of <address> <PCI> <data...>, one per line (a line holding more is cut into
    // frames of 8 tokens); the identifier of a headers-on reply is skipped.
    std::vector<reply::Tokens> frames;
    for (auto line : reply::lines(text)) {
        auto t = reply::tokens(line);
        if (!t.empty() && t[0].size() >= 3) t.erase(t.begin());
        for (size_t i = 0; i < t.size(); i += 8)
            frames.emplace_back(t.begin() + static_cast<std::ptrdiff_t>(i),
                                t.begin() + static_cast<std::ptrdiff_t>(std::min(i + 8, t.size())));
    }
    size_t total = 0;
    for (const auto& f : frames) total += f.size();
    if (total < 10 || frames[0].size() < 4 || frames[0][3] != "59") return 0;

    // The first frame: address, PCI with the length's high nibble, length, then 59.
    int pci = reply::byteValue(frames[0][1]);
    size_t length = static_cast<size_t>(reply::byteValue(frames[0][2]));
    if ((pci >> 4) == 1) length |= static_cast<size_t>(pci & 15) << 8;
    reply::Tokens message(frames[0].begin() + 3, frames[0].end());
    int sequence = 1;
    for (size_t f = 1; f < frames.size() && message.size() < length; ++f) {
        // A lost or foreign frame ends the message.
        if (frames[f].size() < 2 || reply::byteValue(frames[f][1]) != (0x20 | sequence)) break;
        sequence = (sequence + 1) & 15;
        message.insert(message.end(), frames[f].begin() + 2, frames[f].end());
    }
    if (message.size() > length) message.resize(length);

    int64_t records = 0;
    std::vector<std::string> record(4);
    for (size_t pos = 3; pos + 4 <= message.size(); pos += 4, ++records) {
        for (size_t i = 0; i < 4; ++i) record[i] = message[pos + i];
        addUdsCodeFromBytes(record);
    }
    return records;
}

void QZEBaseDiagnosticModule::addUdsCodeFromBytes(const std::vector<std::string>& bytes) {
    if (bytes.size() != 4) {
        QZELogging::shared().logError("Incorrect UDS code size: %@", bytes.size());
        return;
    }
    std::string code =
        reply::j2012Code(reply::byteValue(bytes[0]), reply::byteValue(bytes[1])) + "-" + bytes[2];
    addCodeUnlessFiller(code, decodeStatusByte(reply::byteValue(bytes[3])));
}

std::string QZEBaseDiagnosticModule::decodeStatusByte(int64_t status) {
    return reply::udsStatusText(status);
}

std::optional<std::string> QZEBaseDiagnosticModule::decodeEcuIdentificationWithRequest(
    std::string_view request, std::string_view response) {
    auto t = reply::tokens(response);
    auto contains = [](std::string_view text, std::string_view part) {
        return text.find(part) != std::string_view::npos;
    };
    // The first "5A" directly followed by the identifier.
    auto find = [&](std::string_view id) {
        for (size_t i = 0; i + 1 < t.size(); ++i)
            if (t[i] == "5A" && t[i + 1] == id) return t.begin() + static_cast<std::ptrdiff_t>(i);
        return t.end();
    };
    if (contains(request, "86")) {
        if (!contains(response, "5A 86")) return std::nullopt;
        auto at = find("86");
        if (at == t.end() || t.end() - at < 7) return std::nullopt;
        return joined(at + 2, at + 7);
    }
    if (contains(request, "87")) {
        if (!contains(response, "5A 87")) return std::nullopt;
        auto at = find("87");
        if (at == t.end() || t.end() - at < 6) return std::nullopt;
        return joined(at + 4, at + 6);
    }
    if (contains(request, "22F100")) {
        if (t.size() < 8) return std::nullopt;
        return joined(t.begin() + 5, t.begin() + 8);
    }
    if (contains(request, "3C00")) {
        if (t.size() < 11) return std::nullopt;
        return joined(t.begin() + 5, t.begin() + 10);
    }
    return std::nullopt;
}

}  // namespace qz
