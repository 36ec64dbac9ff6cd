#include "api/PIDs/PIDRequest.hpp"

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
    return {static_cast<uint8_t>(info.mode()), static_cast<uint8_t>(info.pid())};
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

Result<std::string, CommError> PIDRequest::ask(Relay& relay, bool named, bool multiple,
                                               int noDataRetries,
                                               MultiResponseStrategy strategy) const {
    const std::string request = text();
    if (!named) return relay.sendToSensor(request, multiple, noDataRetries, strategy);
    auto answer = relay.sendToSensor(request, false, noDataRetries, strategy,
                                     [this](std::string_view reply) { return namedBy(reply); });
    if (!answer) return answer;
    const std::string_view said = reply::withoutEcho(*answer, request);
    std::optional<std::string> bytes =
        sensorWords(said) ? std::optional<std::string>(said) : bytesOf(said);
    if (!bytes) return std::unexpected(CommError::invalidData);
    return multiple ? strategy.process(*bytes) : std::move(*bytes);
}

}  // namespace qz
