#include "api/PIDs/PIDRequest.hpp"

#include <algorithm>
#include <vector>

#include "api/Communication/Relay.hpp"
#include "api/PIDs/HexText.hpp"
#include "api/PIDs/PIDInfo.hpp"
#include "lib/Decoders/QZEReplyText.hpp"

namespace qz {

namespace {

// Where a line names the response to `service` and `pid`: first, or after the line's header;
// npos when it does not.
size_t namedAt(const reply::Tokens& words, uint8_t service, uint8_t pid) {
    for (size_t at : {size_t{0}, size_t{1}}) {
        if (words.size() < at + 2) break;
        if (parseByte(words[at]) == service + 0x40 && parseByte(words[at + 1]) == pid) return at;
    }
    return std::string_view::npos;
}

bool sensorWords(std::string_view reply) {
    return reply::holdsNoData(reply) || reply::holdsSensorError(reply);
}

}  // namespace

PIDRequest PIDRequest::of(const PIDInfo& info) {
    const int64_t bytes = info.mode() == Mode::LiveData ? info.responseBytes() : 0;
    return {static_cast<uint8_t>(info.mode()), static_cast<uint8_t>(info.pid()), bytes};
}

std::string PIDRequest::text() const {
    return asTwoDigitHex(static_cast<int64_t>(service)) + asTwoDigitHex(static_cast<int64_t>(pid));
}

bool PIDRequest::namedBy(std::string_view reply) const {
    if (sensorWords(reply)) return true;
    for (auto line : reply::lines(reply))
        if (namedAt(reply::tokens(line), service, pid) != std::string_view::npos) return true;
    return false;
}

std::optional<std::string> PIDRequest::bytesOf(std::string_view answer) const {
    std::string out;
    for (size_t at = 0; at <= answer.size();) {
        const size_t cr = std::min(answer.find('\r', at), answer.size());
        const std::string_view line = answer.substr(at, cr - at);
        const auto words = reply::tokens(line);
        if (words.empty() || line.find('>') != std::string_view::npos) {
            out += line;  // blank, or the prompt's line
        } else {
            const size_t named = namedAt(words, service, pid);
            if (named == std::string_view::npos) return std::nullopt;
            for (size_t i = 0; i < words.size(); ++i) {
                if (i == named || i == named + 1) continue;
                out.append(words[i]).append(" ");
            }
        }
        if (cr < answer.size()) out += '\r';
        at = cr + 1;
    }
    return out;
}

bool PIDRequest::canAnswer(std::string_view answer) const {
    if (sensorWords(answer)) return true;
    bool any = false;
    for (auto line : reply::lines(answer)) {
        const auto words = reply::tokens(line);
        if (words.empty() || reply::isNotice(line)) continue;
        const size_t header = reply::isIdentifier(words.front()) ? 1 : 0;
        if (bytes > 0 && words.size() - header != static_cast<size_t>(bytes)) return false;
        for (size_t i = header; i < words.size(); ++i)
            if (!reply::isByte(words[i])) return false;
        any = any || words.size() > header;
    }
    return any;
}

Result<std::string, CommError> PIDRequest::ask(Relay& relay, bool named, bool multiple,
                                               int noDataRetries,
                                               MultiResponseStrategy strategy) const {
    const std::string request = text();
    // The relay asks the check only while a late reply of an earlier request is due. Named, an
    // answer shows whose it is. Without names nothing does: every reply is set aside as the late
    // one until none is due.
    std::vector<std::string> setAside;
    auto ours = [this](std::string_view reply) { return namedBy(reply); };
    auto late = [&setAside](std::string_view reply) {
        setAside.emplace_back(reply);
        return false;
    };
    auto answer = relay.sendToSensor(request, false, noDataRetries, strategy,
                                     named ? Relay::ReplyCheck(ours) : Relay::ReplyCheck(late));
    if (!answer) return answer;
    const std::string_view said = reply::withoutEcho(*answer, request);
    std::optional<std::string> data;
    if (named) {
        data = sensorWords(said) ? std::optional<std::string>(said) : bytesOf(said);
    } else {
        // A reply set aside may have been this request's answer, and the one taken a late rest
        // that came after it: which is which shows only where the two cannot both be its answer.
        const bool told =
            setAside.empty() ||
            (canAnswer(said) && std::none_of(setAside.begin(), setAside.end(), [&](auto& r) {
                 return canAnswer(reply::withoutEcho(r, request));
             }));
        if (told) data = std::string(said);
    }
    if (!data) return std::unexpected(CommError::invalidData);
    return multiple ? strategy.process(*data) : std::move(*data);
}

}  // namespace qz
