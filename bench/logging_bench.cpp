// Logging throughput and archive building, each beside a plain baseline
// measured in the same run.

#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <chrono>
#include <filesystem>

#include "api/Logging/FileLog.hpp"
#include "api/Logging/Log.hpp"
#include "platform/Compression.hpp"
#include "platform/FileSystem.hpp"
#include "platform/Text.hpp"

namespace fs = std::filesystem;
using namespace qz;

namespace {

using Clock = std::chrono::steady_clock;

const std::string kMessage =
    "Relay: sending 0100 to the sensor, waiting for the prompt; reply 41 00 BE 3F A8 13 after 12 "
    "ms on the "
    "main queue with no retries";

// Seconds per call of `fn`, over `count` calls.
template <class F>
double secondsPer(int count, F&& fn) {
    auto start = Clock::now();
    for (int i = 0; i < count; ++i) fn();
    return std::chrono::duration<double>(Clock::now() - start).count() / count;
}

// Plain OpenSSL AES-256-CBC over the same pieces a line is stored as.
double plainAesSecondsPerLine(const std::string& line) {
    unsigned char key[32] = {1};
    unsigned char iv[16] = {2};
    auto pieces = text::split(line, FileLog::kPieceLength);
    std::vector<unsigned char> out(line.size() + 64);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    auto once = [&] {
        for (const auto& piece : pieces) {
            std::string plain = piece + "\r";
            int n = 0, m = 0;
            EVP_EncryptInit_ex(ctx, EVP_aes_256_cbc(), nullptr, key, iv);
            EVP_EncryptUpdate(ctx, out.data(), &n,
                              reinterpret_cast<const unsigned char*>(plain.data()),
                              static_cast<int>(plain.size()));
            EVP_EncryptFinal_ex(ctx, out.data() + n, &m);
            benchmark::DoNotOptimize(out.data());
        }
    };
    secondsPer(200, once);
    double s = secondsPer(5000, once);
    EVP_CIPHER_CTX_free(ctx);
    return s;
}

void BM_LogLines(benchmark::State& state) {
    ScopedHome home;
    Log::reset();
    const std::string line = kMessage + std::string(static_cast<size_t>(state.range(0)), 'x');
    const double baseline =
        plainAesSecondsPerLine("[1A2B3C] 2026-01-01 00:00:00.000 [I] -> " + line);
    auto start = Clock::now();
    for (auto _ : state) Log::i2(line);
    const double perLine = std::chrono::duration<double>(Clock::now() - start).count() /
                           static_cast<double>(state.iterations());
    state.SetItemsProcessed(state.iterations());
    state.counters["plain_aes_us"] = baseline * 1e6;
    state.counters["log_us"] = perLine * 1e6;
    state.counters["ratio_vs_plain_aes"] = perLine / baseline;
    Log::reset();
}
BENCHMARK(BM_LogLines)->Arg(0)->Arg(600)->Unit(benchmark::kMicrosecond);

void BM_CombinedLogOfTenFullFiles(benchmark::State& state) {
    ScopedHome home;
    FileLog log;
    log.setMaxFileSize(1u << 20);  // never rotate while filling
    const std::string line = kMessage + " 0123456789";
    while (FileLog::fileSize(log.currentPath()) < 1024 * 1024) log.write(line);
    for (int n = 1; n < 10; ++n) fs::copy_file(log.currentPath(), log.directory() / log.logName(n));

    // Baseline: gzip of the same bytes, read once.
    Data all;
    for (int n = 9; n >= 0; --n) {
        auto path = log.directory() / log.logName(n);
        Data bytes(fs::file_size(path));
        FILE* f = std::fopen(path.c_str(), "rb");
        size_t got = std::fread(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
        bytes.resize(got);
        all.insert(all.end(), bytes.begin(), bytes.end());
    }
    const double baseline = secondsPer(3, [&] { benchmark::DoNotOptimize(gzipCompress(all)); });

    auto start = Clock::now();
    for (auto _ : state) benchmark::DoNotOptimize(log.combinedLog());
    const double perArchive = std::chrono::duration<double>(Clock::now() - start).count() /
                              static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(all.size()));
    state.counters["plain_gzip_ms"] = baseline * 1e3;
    state.counters["ratio_vs_plain_gzip"] = perArchive / baseline;
}
BENCHMARK(BM_CombinedLogOfTenFullFiles)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

// Weak, so that a main of another benchmark file (or benchmark_main) takes precedence.
__attribute__((weak)) int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
