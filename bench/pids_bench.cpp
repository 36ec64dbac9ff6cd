// Parameter catalogue: every catalogue object decoded from a full set of raw answers (the
// answer of each PID number cleaned into byte texts and handed to its objects, then each
// object's value as text in its unit and in its alternative unit), beside a plain loop that
// splits the same answers and builds the same two texts per object, measured in the same run
// (CPU time of the measuring thread).
#include <benchmark/benchmark.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "api/PIDs/BinaryPID.hpp"
#include "api/PIDs/NumericPID.hpp"
#include "api/PIDs/PIDInterface.hpp"
#include "api/PIDs/Units.hpp"

namespace {

using namespace qz;

// The sensor's answer to 01 PP: the data bytes, a blank after each, then the prompt line.
std::string rawAnswer(uint64_t pid, int64_t count) {
    std::string out;
    for (int64_t i = 0; i < count; ++i) {
        char buf[4];
        std::snprintf(buf, sizeof buf, "%02X ",
                      static_cast<unsigned>((pid * 29 + static_cast<uint64_t>(i) * 53 + 7) & 0xFF));
        out += buf;
    }
    return out + "\r>";
}

// What the plain loop knows of an object: where its number is and how it scales, or for the
// other kinds one bit of one byte.
struct PlainObject {
    bool numeric = false;
    int64_t lower = 0, upper = 0;
    double scalar = 1, offset = 0;
    const Dimension* unit = nullptr;
    const Dimension* alt = nullptr;
};

struct PlainNumber {
    std::string raw;
    std::vector<PlainObject> objects;
};

struct Fixture {
    PIDInterface interface;
    struct Number {
        uint64_t pid;
        int64_t responseBytes;
        std::string raw;
        std::vector<std::shared_ptr<PIDInfo>> objects;
    };
    std::vector<Number> numbers;
    std::vector<PlainNumber> plain;
    size_t objects = 0;

    Fixture() {
        for (const auto& [pid, list] : *interface.pidMap()) {
            int64_t bytes = 0;
            for (const auto& p : list) bytes = std::max(bytes, p->responseBytes());
            Number n{pid, bytes, rawAnswer(pid, bytes), list};
            PlainNumber plainNumber{n.raw, {}};
            for (const auto& p : list) {
                p->setSupportStatus(SupportStatus::supported);
                PlainObject o;
                if (auto* numeric = dynamic_cast<NumericPID*>(p.get())) {
                    o = {true,
                         numeric->bytesToRead().lowerBound,
                         numeric->bytesToRead().upperBound,
                         numeric->scalar(),
                         numeric->offset(),
                         numeric->units() ? numeric->units() : &UnitNone::none(),
                         numeric->altUnit()};
                }
                plainNumber.objects.push_back(o);
            }
            numbers.push_back(std::move(n));
            plain.push_back(std::move(plainNumber));
            objects += list.size();
        }
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

// to_chars' shortest text, ".0" after a whole number, a blank and the symbol.
std::string plainText(double value, const std::string& symbol) {
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
    std::string text(buf, res.ptr);
    if (text.find('.') == std::string::npos) text += ".0";
    return text + " " + symbol;
}

// CPU time of the calling thread: other work on a shared machine does not move it.
double threadNs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

double gBaselineNsPerPass = 0;

// Plain: split each answer at blanks, then per object join its byte texts, read them as one
// number, scale it and build its two texts.
void BM_PlainDecodeBaseline(benchmark::State& state) {
    auto& f = fixture();
    const double start = threadNs();
    for (auto _ : state) {
        for (const auto& number : f.plain) {
            std::vector<std::string> bytes;
            std::string current;
            for (char c : number.raw) {
                if (c == ' ' || c == '\r' || c == '>') {
                    if (!current.empty()) bytes.push_back(std::move(current));
                    current.clear();
                } else {
                    current += c;
                }
            }
            for (const auto& o : number.objects) {
                if (!o.numeric) {
                    const bool on = std::strtoul(bytes[0].c_str(), nullptr, 16) & 1;
                    std::string text = on ? "ON" : "OFF", alt = on ? "ON" : "OFF";
                    benchmark::DoNotOptimize(text);
                    benchmark::DoNotOptimize(alt);
                    continue;
                }
                std::string joined;
                for (int64_t i = o.lower; i <= o.upper; ++i) joined += bytes[i];
                const double v =
                    static_cast<double>(std::strtoull(joined.c_str(), nullptr, 16)) * o.scalar +
                    o.offset;
                std::string text = plainText(v, o.unit->symbol());
                std::string alt =
                    o.alt ? plainText(o.alt->fromBase(o.unit->toBase(v)), o.alt->symbol()) : text;
                benchmark::DoNotOptimize(text);
                benchmark::DoNotOptimize(alt);
            }
        }
    }
    gBaselineNsPerPass = (threadNs() - start) / static_cast<double>(state.iterations());
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(f.objects));
    state.counters["us_per_pass"] = gBaselineNsPerPass / 1e3;
}
BENCHMARK(BM_PlainDecodeBaseline);

// The library: each answer cleaned into byte texts and handed to every object of its number,
// then both texts of every object.
void BM_DecodeCatalogue(benchmark::State& state) {
    auto& f = fixture();
    const double start = threadNs();
    for (auto _ : state) {
        for (const auto& number : f.numbers) {
            auto tokens =
                PIDInterface::cleanAnswer(number.raw, Mode::LiveData, number.responseBytes);
            for (const auto& p : number.objects) {
                p->setData(*tokens);
                auto text = p->valueAsText(false);
                auto alt = p->valueAsText(true);
                benchmark::DoNotOptimize(text);
                benchmark::DoNotOptimize(alt);
            }
        }
    }
    const double perPass = (threadNs() - start) / static_cast<double>(state.iterations());
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(f.objects));
    state.counters["us_per_pass"] = perPass / 1e3;
    if (gBaselineNsPerPass > 0) state.counters["x_plain_baseline"] = perPass / gBaselineNsPerPass;
}
BENCHMARK(BM_DecodeCatalogue);

}  // namespace

BENCHMARK_MAIN();
