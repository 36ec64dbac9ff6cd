#include "lib/Modules/QZEMultiFrameReplies.hpp"

#include <algorithm>
#include <cctype>
#include <map>
#include <string>

#include "lib/Decoders/QZEReplyText.hpp"

namespace qz {

namespace {

using reply::isFrameMarker;
using reply::isHexToken;

size_t hexValue(std::string_view token) {
    return static_cast<size_t>(std::stoul(std::string(token), nullptr, 16));
}

// One sender's message being assembled.
class Assembly {
  public:
    void first(size_t length, size_t bytes, int sequence) {
        end();
        open_ = true;
        expected_ = length;
        received_ = bytes;
        next_ = sequence;
        settle();
    }
    void consecutive(int sequence, size_t bytes) {
        if (!open_ || sequence != next_) return broken();
        received_ += bytes;
        next_ = (next_ + 1) & 15;
        settle();
    }
    // Anything but a consecutive frame ends the message.
    void end() {
        if (open_ && received_ < expected_) cut_ = true;
        open_ = false;
    }
    // A frame that cannot belong to a whole message.
    void broken() {
        cut_ = true;
        open_ = false;
    }
    bool cut() const { return cut_; }

  private:
    void settle() {
        if (received_ >= expected_) open_ = false;
    }

    bool open_ = false;
    size_t expected_ = 0;
    size_t received_ = 0;
    int next_ = 0;
    bool cut_ = false;
};

// The identifier a line starts with, as one token or as four bytes (taken off the tokens), or
// none.
std::string takeIdentifier(reply::Identifiers& identifiers, reply::Tokens& t) {
    const auto n = static_cast<std::ptrdiff_t>(identifiers.at(t));
    std::string id;
    for (auto it = t.begin(); it != t.begin() + n; ++it) id += *it;
    t.erase(t.begin(), t.begin() + n);
    return id;
}

}  // namespace

bool isMultiFrameReplyCutShort(std::string_view text, bool extendedAddressing) {
    std::vector<reply::Tokens> rows;
    for (auto line : reply::lines(text)) {
        auto t = reply::tokens(line);
        // A frame the adapter flags as damaged is as good as lost.
        if (reply::isDamagedLine(t)) return true;
        if (!t.empty()) rows.push_back(std::move(t));
    }
    std::map<std::string, Assembly> senders;
    std::string sender;
    reply::Identifiers identifiers;
    for (size_t i = 0; i < rows.size(); ++i) {
        reply::Tokens t = rows[i];
        if (!extendedAddressing) {
            // Headers off: "00F", then "0: " + 6 bytes, "1: " + 7 bytes, ...
            if (t.size() == 1 && t[0].size() == 3 && isHexToken(t[0]) && i + 1 < rows.size() &&
                isFrameMarker(rows[i + 1][0])) {
                senders[sender].first(hexValue(t[0]), 0, 0);
                continue;
            }
            if (isFrameMarker(t[0])) {
                senders[sender].consecutive(static_cast<int>(hexValue(t[0].substr(0, 1))),
                                            t.size() - 1);
                continue;
            }
        }
        if (auto id = takeIdentifier(identifiers, t); !id.empty()) sender = id;
        Assembly& message = senders[sender];
        if (extendedAddressing && !t.empty()) t.erase(t.begin());
        if (t.empty() || t[0].size() != 2 || !isHexToken(t[0])) {
            message.end();
            continue;
        }
        const int pci = static_cast<int>(hexValue(t[0]));
        switch (pci >> 4) {
            case 1:  // first frame: a 12-bit length
                if (t.size() < 2 || !isHexToken(t[1])) {
                    message.broken();
                    break;
                }
                message.first((static_cast<size_t>(pci & 15) << 8) | hexValue(t[1]), t.size() - 2,
                              1);
                break;
            case 2:  // consecutive frame
                message.consecutive(pci & 15, t.size() - 1);
                break;
            case 3:  // flow control
                break;
            default:  // a single frame, or a line shown without its frame
                message.end();
                break;
        }
    }
    for (auto& [id, message] : senders) {
        message.end();
        if (message.cut()) return true;
    }
    return false;
}

bool isUdsRecordListCutShort(std::string_view text, bool extendedAddressing) {
    // The message the decoders read: the first that is not a negative response.
    const auto messages =
        extendedAddressing ? reply::extendedMessages(text) : reply::canMessages(text);
    for (const auto& message : messages) {
        if (reply::isNegative(message)) continue;
        const auto at = extendedAddressing ? (message[0] == "59" ? message.begin() : message.end())
                                           : std::find(message.begin(), message.end(), "59");
        if (at == message.end()) continue;
        const auto after = static_cast<size_t>(message.end() - at);
        return after < 3 || (after - 3) % 4 != 0;
    }
    return false;
}

}  // namespace qz
