#include "platform/DateFormat.hpp"

#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>

#include "platform/Clock.hpp"

namespace qz {

namespace {

// The time zone set with `setTimeZone`, if any. Deliberately leaked.
struct ZoneOverride {
    std::mutex mutex;
    std::unique_ptr<icu::TimeZone> zone;
    std::string name;
};

ZoneOverride& zoneOverride() {
    static auto* z = new ZoneOverride;
    return *z;
}

// The offset of the overriding zone at `time`, or nullopt when the system's zone is used.
std::optional<int> overrideOffset(std::chrono::system_clock::time_point time) {
    auto& z = zoneOverride();
    std::lock_guard lock(z.mutex);
    if (!z.zone) return std::nullopt;
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch());
    int32_t raw = 0, dst = 0;
    UErrorCode status = U_ZERO_ERROR;
    z.zone->getOffset(static_cast<UDate>(ms.count()), false, raw, dst, status);
    if (U_FAILURE(status)) return 0;
    return (raw + dst) / 1000;
}

int systemOffset(std::chrono::system_clock::time_point time) {
    std::time_t t = std::chrono::system_clock::to_time_t(time);
    std::tm tm{};
    ::tzset();  // picks up a changed TZ variable
    if (!localtime_r(&t, &tm)) return 0;
    return static_cast<int>(tm.tm_gmtoff);
}

const char* const kMonths[] = {"January",   "February", "March",    "April",
                               "May",       "June",     "July",     "August",
                               "September", "October",  "November", "December"};
const char* const kDays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                             "Thursday", "Friday", "Saturday"};

void appendNumber(std::string& out, long value, int width) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%0*ld", width, value);
    out += buf;
}

}  // namespace

DateFormat::DateFormat(std::string pattern) : pattern_(std::move(pattern)) {}

std::string DateFormat::string(std::chrono::system_clock::time_point time) const {
    return string(time, gmtOffsetSeconds(time));
}

std::string DateFormat::now() const {
    return string(Clock::current()->wallNow());
}

std::string DateFormat::string(std::chrono::system_clock::time_point time,
                               int gmtOffsetSeconds) const {
    using namespace std::chrono;
    auto local = time + seconds(gmtOffsetSeconds);
    auto secs = floor<seconds>(local);
    auto nanos = duration_cast<nanoseconds>(local - secs).count();  // 0 ..< 1e9
    std::time_t t = system_clock::to_time_t(secs);
    std::tm tm{};
    gmtime_r(&t, &tm);

    std::string out;
    out.reserve(pattern_.size() + 8);
    const std::string& p = pattern_;
    for (size_t i = 0; i < p.size();) {
        char c = p[i];
        if (c == '\'') {
            size_t j = i + 1;
            if (j < p.size() && p[j] == '\'') {  // '' is a quote
                out += '\'';
                i = j + 1;
                continue;
            }
            for (; j < p.size(); ++j) {
                if (p[j] == '\'') {
                    if (j + 1 < p.size() && p[j + 1] == '\'') {
                        out += '\'';
                        ++j;
                        continue;
                    }
                    break;
                }
                out += p[j];
            }
            i = j + 1;
            continue;
        }
        size_t n = 1;
        while (i + n < p.size() && p[i + n] == c) ++n;
        int width = static_cast<int>(n);
        switch (c) {
            case 'y':
                if (n == 2)
                    appendNumber(out, (tm.tm_year + 1900) % 100, 2);
                else
                    appendNumber(out, tm.tm_year + 1900, width);
                break;
            case 'M':
                if (n >= 4)
                    out += kMonths[tm.tm_mon];
                else if (n == 3)
                    out += std::string(kMonths[tm.tm_mon], 3);
                else
                    appendNumber(out, tm.tm_mon + 1, width);
                break;
            case 'd':
                appendNumber(out, tm.tm_mday, width);
                break;
            case 'E':
                out += n >= 4 ? std::string(kDays[tm.tm_wday]) : std::string(kDays[tm.tm_wday], 3);
                break;
            case 'H':
                appendNumber(out, tm.tm_hour, width);
                break;
            case 'h':
                appendNumber(out, tm.tm_hour % 12 == 0 ? 12 : tm.tm_hour % 12, width);
                break;
            case 'a':
                out += tm.tm_hour < 12 ? "AM" : "PM";
                break;
            case 'm':
                appendNumber(out, tm.tm_min, width);
                break;
            case 's':
                appendNumber(out, tm.tm_sec, width);
                break;
            case 'S': {
                // Fraction of a second, truncated to n digits.
                std::string digits;
                appendNumber(digits, static_cast<long>(nanos), 9);
                if (n <= 9)
                    out += digits.substr(0, n);
                else
                    out += digits + std::string(n - 9, '0');
                break;
            }
            case 'Z': {
                int s = gmtOffsetSeconds;
                out += s < 0 ? '-' : '+';
                int a = s < 0 ? -s : s;
                appendNumber(out, a / 3600, 2);
                appendNumber(out, (a / 60) % 60, 2);
                break;
            }
            default:
                out.append(n, c);
                break;
        }
        i += n;
    }
    return out;
}

std::string DateFormat::timeZoneName() {
    {
        auto& z = zoneOverride();
        std::lock_guard lock(z.mutex);
        if (z.zone) return z.name;
    }
    std::unique_ptr<icu::TimeZone> host(icu::TimeZone::detectHostTimeZone());
    std::string id;
    if (host) {
        icu::UnicodeString name;
        host->getID(name);
        name.toUTF8String(id);
    }
    if (id.empty() || id == "Etc/Unknown") return "GMT";
    return id;
}

int DateFormat::gmtOffsetSeconds(std::chrono::system_clock::time_point time) {
    if (auto o = overrideOffset(time)) return *o;
    return systemOffset(time);
}

int DateFormat::gmtOffsetSeconds() {
    return gmtOffsetSeconds(Clock::current()->wallNow());
}

std::string DateFormat::gmtOffsetText(int seconds) {
    long s = seconds;
    long a = s < 0 ? -s : s;
    std::string out = s < 0 ? "-" : "+";
    out += std::to_string(a / 3600) + ":";
    appendNumber(out, (a / 60) % 60, 2);
    return out;
}

bool DateFormat::setTimeZone(const std::optional<std::string>& identifier) {
    auto& z = zoneOverride();
    if (!identifier) {
        std::lock_guard lock(z.mutex);
        z.zone.reset();
        z.name.clear();
        return true;
    }
    auto id = icu::UnicodeString::fromUTF8(*identifier);
    std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createTimeZone(id));
    if (!zone || *zone == icu::TimeZone::getUnknown()) return false;
    std::lock_guard lock(z.mutex);
    z.zone = std::move(zone);
    z.name = *identifier;
    return true;
}

}  // namespace qz
