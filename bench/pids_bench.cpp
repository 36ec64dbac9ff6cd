// Parameter catalogue: decoding every catalogue object from a full set of answers (values and
// texts), against a plain decode of the same bytes; and the memory of the built catalogue.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "api/PIDs/Mode1/Mode1PIDs.hpp"
#include "api/PIDs/PIDInterface.hpp"

// Live heap bytes of this process, for the memory counters.
namespace {
std::atomic<long long> gLiveBytes{0};
constexpr size_t kHeader = alignof(std::max_align_t);
}  // namespace

void* operator new(size_t size) {
    auto* base = static_cast<char*>(std::malloc(size + kHeader));
    if (!base) throw std::bad_alloc();
    *reinterpret_cast<size_t*>(base) = size;
    gLiveBytes += static_cast<long long>(size);
    return base + kHeader;
}
void* operator new[](size_t size) {
    return operator new(size);
}
void operator delete(void* p) noexcept {
    if (!p) return;
    char* base = static_cast<char*>(p) - kHeader;
    gLiveBytes -= static_cast<long long>(*reinterpret_cast<size_t*>(base));
    std::free(base);
}
void operator delete[](void* p) noexcept {
    operator delete(p);
}
void operator delete(void* p, size_t) noexcept {
    operator delete(p);
}
void operator delete[](void* p, size_t) noexcept {
    operator delete(p);
}

namespace {

using namespace qz;

std::vector<std::string> answer(uint64_t key, int64_t count) {
    std::vector<std::string> out;
    for (int64_t i = 0; i < count; ++i) {
        char buf[4];
        std::snprintf(buf, sizeof buf, "%02X",
                      static_cast<unsigned>((key * 29 + i * 53 + 7) & 0xFF));
        out.push_back(buf);
    }
    return out;
}

struct Fixture {
    PIDInterface::PIDList objects;
    // Plain baseline: per object the answer, the first byte read and a scale.
    struct Plain {
        std::vector<std::string> data;
        int64_t lower, upper;
        double scalar, offset;
    };
    std::vector<Plain> plain;

    Fixture() {
        PIDInterface pi;
        objects = pi.getPids();
        for (auto& p : objects) {
            auto data = answer(p->pid(), p->responseBytes());
            p->setData(data);
            p->setSupportStatus(SupportStatus::supported);
            Plain row{data, 0, 0, 1.0, 0.0};
            if (auto* n = dynamic_cast<NumericPID*>(p.get())) {
                row.lower = n->bytesToRead().lowerBound;
                row.upper = n->bytesToRead().upperBound;
                row.scalar = n->scalar();
                row.offset = n->offset();
            }
            plain.push_back(std::move(row));
        }
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

double gBaselineNsPerPass = 0;

// Plain decode: join the byte texts, parse, scale, print the number and a unit text.
void BM_PlainDecodeBaseline(benchmark::State& state) {
    auto& f = fixture();
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        for (const auto& row : f.plain) {
            std::string joined;
            for (int64_t i = row.lower; i <= row.upper; ++i) joined += row.data[i];
            double v =
                static_cast<double>(std::strtoull(joined.c_str(), nullptr, 16)) * row.scalar +
                row.offset;
            char buf[64];
            std::snprintf(buf, sizeof buf, "%g", v);
            std::string text = std::string(buf) + " unit";
            benchmark::DoNotOptimize(text);
        }
    }
    auto ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start);
    gBaselineNsPerPass = ns.count() / static_cast<double>(state.iterations());
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(f.plain.size()));
}
BENCHMARK(BM_PlainDecodeBaseline);

// Every catalogue object: its value and both texts.
void BM_DecodeCatalogue(benchmark::State& state) {
    auto& f = fixture();
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        for (const auto& p : f.objects) {
            auto text = p->valueAsText(false);
            auto alt = p->valueAsText(true);
            benchmark::DoNotOptimize(text);
            benchmark::DoNotOptimize(alt);
        }
    }
    auto ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start);
    double perPass = ns.count() / static_cast<double>(state.iterations());
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(f.objects.size()));
    state.counters["passes_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    if (gBaselineNsPerPass > 0) state.counters["x_plain_baseline"] = perPass / gBaselineNsPerPass;
}
BENCHMARK(BM_DecodeCatalogue);

// Memory of a built catalogue, beside a plain table of the same values.
void BM_CatalogueMemory(benchmark::State& state) {
    { auto warm = PIDInterface::buildCatalogue(); }  // shared unit objects made once
    long long catalogueBytes = 0, plainBytes = 0;
    for (auto _ : state) {
        long long before = gLiveBytes.load();
        auto map = PIDInterface::buildCatalogue();
        catalogueBytes = gLiveBytes.load() - before;
        benchmark::DoNotOptimize(map);

        before = gLiveBytes.load();
        struct PlainRow {
            uint64_t pid;
            std::string shortName, fullName;
            double scalar, offset, minValue, maxValue;
        };
        std::vector<PlainRow> rows;
        for (const auto& info : mode1Classes())
            if (info.row->inCatalogue)
                rows.push_back({info.row->pid, std::string(info.row->shortName),
                                std::string(info.row->fullName), info.row->scalar, info.row->offset,
                                0, 0});
        plainBytes = gLiveBytes.load() - before;
        benchmark::DoNotOptimize(rows);
    }
    state.counters["catalogue_bytes"] = static_cast<double>(catalogueBytes);
    state.counters["plain_table_bytes"] = static_cast<double>(plainBytes);
    state.counters["x_plain_table"] =
        plainBytes ? static_cast<double>(catalogueBytes) / static_cast<double>(plainBytes) : 0;
}
BENCHMARK(BM_CatalogueMemory)->Iterations(20);

}  // namespace

BENCHMARK_MAIN();
