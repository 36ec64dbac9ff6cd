#pragma once

#include <mutex>
#include <string>

#include "platform/Result.hpp"

namespace qz {

// Turns the chunks of bytes a session receives into text for the relay, one chunk at a time:
// descrambled (unless the chunk is raw firmware-mode input), a multi-byte character cut between
// two chunks kept back until its rest arrives, and bytes that are not UTF-8 replaced by U+FFFD,
// so that the prompt of a chunk always goes on. A chunk that holds the prompt keeps nothing
// back: the reply ends there. Thread-safe; one decoder per link.
class SensorTextDecoder {
  public:
    struct Text {
        std::string text;      // may be empty: everything was kept back
        bool invalid = false;  // bytes that were no UTF-8 were replaced
    };

    Text decode(const Data& chunk, bool scrambled = true);
    // Forgets what was kept back (a new link starts).
    void reset();

  private:
    std::mutex mutex_;
    std::string pending_;  // the start of a character, descrambled
};

}  // namespace qz
