#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace qz {

// Formats points in time as local time of the current time zone.
//
// Pattern letters: yyyy (or yy) year, MM month, dd day, HH hour 0-23, hh hour 1-12,
// a AM/PM, mm minute, ss second, S.. fraction of a second (as many digits as letters),
// Z offset "+hhmm"; text in single quotes is copied, '' is a quote; other characters
// are copied. Thread-safe.
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
    std::string pattern_;
};

}  // namespace qz
