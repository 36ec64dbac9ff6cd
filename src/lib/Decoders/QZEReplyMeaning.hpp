#pragma once

#include "lib/Decoders/QZEModuleReply.hpp"
#include "lib/Decoders/QZEReplyFrames.hpp"

// The last step of reading a module's reply: which messages are the module's (the addresses it
// answers from), and what they say to the question: an answer, a refusal, pending or busy, cut
// short or damaged; without a byte of the module, the sensor's words or silence.
namespace qz::reply {

// What the reply held besides its messages.
struct Beside {
    bool damaged = false;     // a flagged line in an assembled message
    bool words = false;       // the sensor's words (NO DATA aside) or junk
    bool noData = false;      // "NO DATA"
    bool endedEarly = false;  // the reply stopped before its prompt
};

QZEModuleReply meaningOf(const std::vector<Message>& messages, const Beside& beside,
                         const QZEAsked& asked);

}  // namespace qz::reply
