#include "platform/DateFormat.hpp"

#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <mutex>
#include <string_view>

#include "platform/Clock.hpp"

namespace qz {

namespace {

// The time zone set with `setTimeZone`, if any. Deliberately leaked.
struct ZoneOverride {
    std::mutex mutex;
    std::atomic<bool> active{false};
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
    if (!z.active.load(std::memory_order_acquire)) return std::nullopt;
    std::lock_guard lock(z.mutex);
    if (!z.zone) return std::nullopt;
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch());
    int32_t raw = 0, dst = 0;
    UErrorCode status = U_ZERO_ERROR;
    z.zone->getOffset(static_cast<UDate>(ms.count()), false, raw, dst, status);
    if (U_FAILURE(status)) return 0;
    return (raw + dst) / 1000;
}

// When the C library last read the system's zone, and under which TZ value. Deliberately
// leaked.
struct SystemZone {
    std::mutex mutex;
    bool read = false;
    std::optional<std::string> tz;
    std::chrono::steady_clock::time_point readAt;
    uint64_t generation = 0;  // counts the reads
};

// Reads the system's zone again when TZ changed or a second has passed since the last read
// (reading it costs a look at the zone file). Returns the read's generation.
uint64_t refreshSystemZone() {
    static auto* zone = new SystemZone;
    const char* tz = std::getenv("TZ");
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(zone->mutex);
    const bool tzChanged =
        !zone->read || zone->tz.has_value() != (tz != nullptr) || (tz && *zone->tz != tz);
    if (!tzChanged && now - zone->readAt < std::chrono::seconds(1)) return zone->generation;
    ::tzset();
    zone->read = true;
    zone->tz = tz ? std::optional<std::string>(tz) : std::nullopt;
    zone->readAt = now;
    return ++zone->generation;
}

int systemOffset(std::chrono::system_clock::time_point time) {
    const uint64_t generation = refreshSystemZone();
    std::time_t t = std::chrono::system_clock::to_time_t(time);
    // A zone's offset changes only from one second to another: the last answer of this
    // thread holds for the rest of its second under the same reading of the zone.
    struct Last {
        std::time_t second = 0;
        uint64_t generation = 0;  // 0: none yet
        int offset = 0;
    };
    thread_local Last last;
    if (last.generation == generation && last.second == t) return last.offset;
    std::tm tm{};
    if (!localtime_r(&t, &tm)) return 0;
    last = {t, generation, static_cast<int>(tm.tm_gmtoff)};
    return last.offset;
}

const char* const kMonths[] = {"January",   "February", "March",    "April",
                               "May",       "June",     "July",     "August",
                               "September", "October",  "November", "December"};
const char* const kDays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                             "Thursday", "Friday", "Saturday"};

// printf "%0*ld": zero-padded to `width` characters, a minus sign counting toward them.
void appendNumber(std::string& out, long value, int width) {
    char digits[24];
    int length = 0;
    const bool negative = value < 0;
    unsigned long v =
        negative ? 0ul - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
    do {
        digits[length++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v);
    if (negative) out += '-';
    for (int i = length + (negative ? 1 : 0); i < width; ++i) out += '0';
    while (length) out += digits[--length];
}

}  // namespace

DateFormat::DateFormat(std::string pattern) : pattern_(std::move(pattern)) {
    static std::atomic<uint64_t> formats{0};
    id_ = ++formats;
    const std::string& p = pattern_;
    auto literal = [this](std::string text) {
        if (!fields_.empty() && fields_.back().letter == 0)
            fields_.back().text += text;
        else
            fields_.push_back({0, 0, std::move(text)});
    };
    for (size_t i = 0; i < p.size();) {
        char c = p[i];
        if (c == '\'') {
            size_t j = i + 1;
            if (j < p.size() && p[j] == '\'') {  // '' is a quote
                literal("'");
                i = j + 1;
                continue;
            }
            std::string quoted;
            for (; j < p.size(); ++j) {
                if (p[j] == '\'') {
                    if (j + 1 < p.size() && p[j + 1] == '\'') {
                        quoted += '\'';
                        ++j;
                        continue;
                    }
                    break;
                }
                quoted += p[j];
            }
            literal(std::move(quoted));
            i = j + 1;
            continue;
        }
        size_t n = 1;
        while (i + n < p.size() && p[i + n] == c) ++n;
        if (std::string_view("yMdEHhamsSZ").find(c) != std::string_view::npos)
            fields_.push_back({c, static_cast<int>(n), {}});
        else
            literal(std::string(n, c));
        i += n;
    }
}

std::string DateFormat::string(std::chrono::system_clock::time_point time) const {
    return string(time, gmtOffsetSeconds(time));
}

std::string DateFormat::now() const {
    return string(Clock::current()->wallNow());
}

void DateFormat::appendNow(std::string& out) const {
    const auto time = Clock::current()->wallNow();
    append(out, time, gmtOffsetSeconds(time));
}

std::string DateFormat::string(std::chrono::system_clock::time_point time,
                               int gmtOffsetSeconds) const {
    std::string out;
    out.reserve(pattern_.size() + 8);
    append(out, time, gmtOffsetSeconds);
    return out;
}

void DateFormat::append(std::string& out, std::chrono::system_clock::time_point time,
                        int gmtOffsetSeconds) const {
    using namespace std::chrono;
    auto local = time + seconds(gmtOffsetSeconds);
    auto secs = floor<seconds>(local);
    auto nanos = duration_cast<nanoseconds>(local - secs).count();  // 0 ..< 1e9
    // Everything but the fraction stays the same for a whole second: this thread's last
    // second is kept rendered.
    struct Rendered {
        uint64_t format = 0;  // 0: none yet
        int64_t second = 0;
        int offset = 0;
        std::string text;
        std::vector<std::pair<size_t, int>> fractions;
    };
    thread_local Rendered last;
    const int64_t second = secs.time_since_epoch().count();
    if (last.format != id_ || last.second != second || last.offset != gmtOffsetSeconds) {
        last.text.clear();
        last.fractions.clear();
        render(last.text, second, gmtOffsetSeconds, last.fractions);
        last.format = id_;
        last.second = second;
        last.offset = gmtOffsetSeconds;
    }
    const size_t base = out.size();
    out += last.text;
    if (last.fractions.empty()) return;
    // Fraction of a second, truncated to n digits.
    char digits[9];
    long rest = static_cast<long>(nanos);
    for (int k = 8; k >= 0; --k, rest /= 10) digits[k] = static_cast<char>('0' + rest % 10);
    for (auto [at, n] : last.fractions)
        out.replace(base + at, static_cast<size_t>(std::min(n, 9)), digits,
                    static_cast<size_t>(std::min(n, 9)));
}

void DateFormat::render(std::string& out, int64_t local, int gmtOffsetSeconds,
                        std::vector<std::pair<size_t, int>>& fractions) const {
    using namespace std::chrono;
    const sys_seconds secs{seconds(local)};
    const auto day = floor<days>(secs);
    const year_month_day date(day);
    const hh_mm_ss<seconds> clock(secs - day);
    const long year = static_cast<int>(date.year());
    const int month = static_cast<int>(static_cast<unsigned>(date.month())) - 1;  // 0 ..< 12
    const int weekday = static_cast<int>(year_month_weekday(day).weekday().c_encoding());
    const long hour = clock.hours().count();

    for (const Field& f : fields_) {
        const int n = f.count;
        switch (f.letter) {
            case 0:
                out += f.text;
                break;
            case 'y':
                if (n == 2)
                    appendNumber(out, year % 100, 2);
                else
                    appendNumber(out, year, n);
                break;
            case 'M':
                if (n >= 4)
                    out += kMonths[month];
                else if (n == 3)
                    out.append(kMonths[month], 3);
                else
                    appendNumber(out, month + 1, n);
                break;
            case 'd':
                appendNumber(out, static_cast<long>(static_cast<unsigned>(date.day())), n);
                break;
            case 'E':
                if (n >= 4)
                    out += kDays[weekday];
                else
                    out.append(kDays[weekday], 3);
                break;
            case 'H':
                appendNumber(out, hour, n);
                break;
            case 'h':
                appendNumber(out, hour % 12 == 0 ? 12 : hour % 12, n);
                break;
            case 'a':
                out += hour < 12 ? "AM" : "PM";
                break;
            case 'm':
                appendNumber(out, clock.minutes().count(), n);
                break;
            case 's':
                appendNumber(out, static_cast<long>(clock.seconds().count()), n);
                break;
            case 'S':
                fractions.emplace_back(out.size(), n);
                out.append(static_cast<size_t>(n), '0');
                break;
            case 'Z': {
                int s = gmtOffsetSeconds;
                out += s < 0 ? '-' : '+';
                int a = s < 0 ? -s : s;
                appendNumber(out, a / 3600, 2);
                appendNumber(out, (a / 60) % 60, 2);
                break;
            }
        }
    }
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
        z.active.store(false, std::memory_order_release);
        return true;
    }
    auto id = icu::UnicodeString::fromUTF8(*identifier);
    std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createTimeZone(id));
    if (!zone || *zone == icu::TimeZone::getUnknown()) return false;
    std::lock_guard lock(z.mutex);
    z.zone = std::move(zone);
    z.name = *identifier;
    z.active.store(true, std::memory_order_release);
    return true;
}

}  // namespace qz
