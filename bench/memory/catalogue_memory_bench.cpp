// Memory of a built catalogue beside a plain table of the same values. This binary replaces
// operator new to count live heap bytes, which would slow every other benchmark: it stands
// apart from qz_bench.
#include <benchmark/benchmark.h>

#include <atomic>
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
