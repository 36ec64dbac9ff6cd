// Logging throughput and archive building, each beside a plain baseline doing the same work,
// measured in the same run. Times are CPU time of the measuring thread, so that other work on
// a shared machine does not move the ratios.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "api/Logging/FileLog.hpp"
#include "api/Logging/Log.hpp"
#include "platform/FileSystem.hpp"
#include "platform/Text.hpp"

namespace fs = std::filesystem;
using namespace qz;

namespace {

const std::string kMessage =
    "Relay: sending 0100 to the sensor, waiting for the prompt; reply 41 00 BE 3F A8 13 after 12 "
    "ms on the "
    "main queue with no retries";

double threadSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// CPU seconds per call of `fn`, over `count` calls.
template <class F>
double secondsPer(int count, F&& fn) {
    const double start = threadSeconds();
    for (int i = 0; i < count; ++i) fn();
    return (threadSeconds() - start) / count;
}

// Plain OpenSSL over the same pieces a line is stored as: a context prepared with the key once,
// each piece plus its carriage return encrypted from the IV, and each record appended to an
// open file with one write.
class PlainLog {
  public:
    PlainLog(const std::string& line, const fs::path& file)
        : pieces_(text::split(line, FileLog::kPieceLength)), record_(line.size() + 64) {
        ctx_ = EVP_CIPHER_CTX_new();
        EVP_EncryptInit_ex(ctx_, EVP_aes_256_cbc(), nullptr, key_, iv_);
        fd_ = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    }
    ~PlainLog() {
        ::close(fd_);
        EVP_CIPHER_CTX_free(ctx_);
    }
    void line() {
        for (const auto& piece : pieces_) {
            int n = 0, m = 0, r = 0;
            EVP_EncryptInit_ex(ctx_, nullptr, nullptr, nullptr, iv_);
            EVP_EncryptUpdate(ctx_, record_.data() + 3, &n,
                              reinterpret_cast<const unsigned char*>(piece.data()),
                              static_cast<int>(piece.size()));
            EVP_EncryptUpdate(ctx_, record_.data() + 3 + n, &r,
                              reinterpret_cast<const unsigned char*>("\r"), 1);
            EVP_EncryptFinal_ex(ctx_, record_.data() + 3 + n + r, &m);
            const int total = n + r + m;
            record_[0] = 0xBD;
            record_[1] = static_cast<unsigned char>(total >> 8);
            record_[2] = static_cast<unsigned char>(total);
            benchmark::DoNotOptimize(::write(fd_, record_.data(), static_cast<size_t>(total + 3)));
        }
    }

  private:
    std::vector<std::string> pieces_;
    std::vector<unsigned char> record_;
    unsigned char key_[32] = {1};
    unsigned char iv_[16] = {2};
    EVP_CIPHER_CTX* ctx_ = nullptr;
    int fd_ = -1;
};

// Each iteration writes a batch of lines through Log and the same number through the plain
// loop, so that both see the same machine.
void BM_LogLines(benchmark::State& state) {
    constexpr int kBatch = 64;
    ScopedHome home;
    Log::reset();
    const std::string message = kMessage + std::string(static_cast<size_t>(state.range(0)), 'x');
    // The line exactly as the log stores it.
    PlainLog plain(Log::format(LogEvent::info, " -> " + message), home.path() / "plain.log");
    double plainSeconds = 0, logSeconds = 0;
    for (auto _ : state) {
        const double t0 = threadSeconds();
        for (int i = 0; i < kBatch; ++i) plain.line();
        const double t1 = threadSeconds();
        // Rotation starts new files now and then, as it does for a real log.
        for (int i = 0; i < kBatch; ++i) Log::i2(message);
        const double t2 = threadSeconds();
        plainSeconds += t1 - t0;
        logSeconds += t2 - t1;
    }
    const double lines = static_cast<double>(state.iterations()) * kBatch;
    state.SetItemsProcessed(state.iterations() * kBatch);
    state.counters["plain_us"] = plainSeconds / lines * 1e6;
    state.counters["log_us"] = logSeconds / lines * 1e6;
    // Log throughput as a share of the plain loop's (1 = as fast).
    state.counters["throughput_vs_plain"] = plainSeconds / logSeconds;
    Log::reset();
}
BENCHMARK(BM_LogLines)->Arg(0)->Arg(600)->Unit(benchmark::kMicrosecond);

// Plain gzip (zlib, gzip wrapper, default level) of a buffer.
Data plainGzip(const Data& in) {
    z_stream z{};
    deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
    Data out(deflateBound(&z, in.size()));
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// The archive's file work done plainly: list the folder, read every file whole, gzip the
// bytes and write them to a new file (synced, then renamed into place).
void plainArchive(const fs::path& folder, const fs::path& target) {
    std::vector<fs::path> entries;
    for (const auto& e : fs::directory_iterator(folder)) entries.push_back(e.path());
    std::sort(entries.begin(), entries.end(), std::greater<>());
    Data all;
    for (const auto& path : entries) {
        std::ifstream in(path, std::ios::binary);
        const size_t at = all.size();
        all.resize(at + fs::file_size(path));
        in.read(reinterpret_cast<char*>(all.data() + at),
                static_cast<std::streamsize>(all.size() - at));
    }
    const Data packed = plainGzip(all);
    const fs::path temp = target.string() + ".tmp";
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    benchmark::DoNotOptimize(::write(fd, packed.data(), packed.size()));
    ::fsync(fd);
    ::close(fd);
    fs::rename(temp, target);
}

void BM_CombinedLogOfTenFullFiles(benchmark::State& state) {
    ScopedHome home;
    FileLog log;
    log.setMaxFileSize(1u << 20);  // never rotate while filling
    const std::string line = kMessage + " 0123456789";
    while (FileLog::fileSize(log.currentPath()) < 1024 * 1024) log.write(line);
    for (int n = 1; n < 10; ++n) fs::copy_file(log.currentPath(), log.directory() / log.logName(n));

    Data all;
    for (int n = 9; n >= 0; --n) {
        std::ifstream in(log.directory() / log.logName(n), std::ios::binary);
        all.insert(all.end(), std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    const fs::path plainTarget = home.path() / "plain.gzip";
    plainArchive(log.directory(), plainTarget);
    const double baseline = secondsPer(3, [&] { plainArchive(log.directory(), plainTarget); });

    const double start = threadSeconds();
    for (auto _ : state) benchmark::DoNotOptimize(log.combinedLog());
    const double perArchive = (threadSeconds() - start) / static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(all.size()));
    state.counters["plain_ms"] = baseline * 1e3;
    state.counters["archive_ms"] = perArchive * 1e3;
    state.counters["ratio_vs_plain"] = perArchive / baseline;
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
