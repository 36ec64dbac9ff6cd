#include "api/Scan/GenericClearReply.hpp"

#include <algorithm>
#include <cctype>
#include <string>

#include "lib/Decoders/QZEModuleReply.hpp"
#include "lib/Decoders/QZEReplyText.hpp"

namespace qz {

namespace {

// The line upper-cased, without blanks.
std::string bare(std::string_view line) {
    std::string out;
    for (auto t : reply::tokens(line))
        for (char c : t) out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace

bool genericClearConfirmed(std::string_view reply, const QZEDisplayForm& display) {
    // The reply ends at the prompt; what came after it in the same chunk is not part of it.
    std::string text(reply.substr(0, reply.find('>')));
    std::replace(text.begin(), text.end(), '\n', '\r');
    bool ok = false;
    std::string vehicle;  // what the vehicle's units said
    for (auto line : reply::lines(text)) {
        const std::string word = bare(line);
        // Blank, the echo, the protocol search or the bus initialisation.
        if (word.empty() || word == "KQCC" || reply::isNotice(line)) continue;
        if (word == "OK") {
            ok = true;  // the sensor's own confirmation
            continue;
        }
        vehicle.append(line).append("\r");
    }
    if (vehicle.empty()) return ok;
    // The sensor's words beside a 44 do not confirm it: NO DATA tells that no unit answered.
    if (reply::holdsNoData(vehicle)) return false;
    // Otherwise only the units' positive answer (44 where a message begins, on whichever bus)
    // with no unit refusing confirms it. With headers shown the lines are read in the form in
    // force; otherwise the sensor may still print a header for its own command: the shape of
    // each line decides.
    const QZEDisplayForm form = display.headers == true ? display : QZEDisplayForm{};
    for (QZEFraming framing : {QZEFraming::can, QZEFraming::kLine, QZEFraming::j1850}) {
        const auto answer = QZEModuleReply::classify(vehicle, QZEAsked::of("04", framing, form));
        if (answer.answered()) return !answer.withRefusal;
    }
    return false;
}

}  // namespace qz
