#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qz {

// Formats points in time as local time of the current time zone.
//
// Pattern letters: yyyy (or yy) year, MM month, dd day, HH hour 0-23, hh hour 1-12,
// a AM/PM, mm minute, ss second, S.. fraction of a second (as many digits as letters),
// Z offset "+hhmm"; text in single quotes is copied, '' is a quote; other characters
// are copied. Thread-safe.
//
// The system's time zone is read on first use and read again when the TZ variable
// changes, and otherwise at most once a second (so a changed zone file is noticed).
class DateFormat {
  public:
    explicit DateFormat(std::string pattern = "yyyy-MM-dd HH:mm:ss.SSS");

    const std::string& pattern() const { return pattern_; }

    // `time` in the current time zone.
    std::string string(std::chrono::system_clock::time_point time) const;
    // `time` shifted by `gmtOffsetSeconds` from GMT.
    std::string string(std::chrono::system_clock::time_point time, int gmtOffsetSeconds) const;
    // The current wall time of `Clock::current()`.
    std::string now() const;
    // Appends `now()` to `out`.
    void appendNow(std::string& out) const;
    // Appends `string(time, gmtOffsetSeconds)` to `out`.
    void append(std::string& out, std::chrono::system_clock::time_point time,
                int gmtOffsetSeconds) const;

    // The identifier of the current time zone, e.g. "Europe/Berlin" ("GMT" when unknown).
    static std::string timeZoneName();
    // The current time zone's offset from GMT in seconds at `time`.
    static int gmtOffsetSeconds(std::chrono::system_clock::time_point time);
    // The offset now.
    static int gmtOffsetSeconds();
    // sign + hours + ":" + two-digit minutes: "+0:00", "-3:30", "+5:45".
    static std::string gmtOffsetText(int seconds);

    // Makes the current time zone `identifier` (an IANA name such as "Asia/Kathmandu");
    // nullopt returns to the system's zone. Returns false for an unknown identifier.
    static bool setTimeZone(const std::optional<std::string>& identifier);

  private:
    // One field of the pattern: a run of one letter, or text copied as it stands.
    struct Field {
        char letter = 0;  // 0: `text`
        int count = 0;
        std::string text;
    };

    // The fields at the local second `local` (seconds since 1970) with `gmtOffsetSeconds`;
    // fractions of a second as zeros, each one's place and length noted in `fractions`.
    void render(std::string& out, int64_t local, int gmtOffsetSeconds,
                std::vector<std::pair<size_t, int>>& fractions) const;

    std::string pattern_;
    std::vector<Field> fields_;
    uint64_t id_;  // tells formats apart in the per-thread cache of the last rendered second
};

}  // namespace qz
