// Definition-file load (read the encrypted file, decrypt, parse it into the reader's records)
// per megabyte, beside a plain loop doing the same work with nothing of the library: one read
// of the file, an OpenSSL AES-256-ECB decrypt and an expat parse that builds nothing, measured
// in the same run.

#include <benchmark/benchmark.h>
#include <expat.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "lib/Content/DefinitionFile.hpp"
#include "lib/Utils/DataAES256.hpp"
#include "lib/XMLParsers/QZERebrandedVinXmlParser.hpp"
#include "platform/FileSystem.hpp"
#include "platform/xml/XMLParser.hpp"

namespace {

using qz::Data;

constexpr double kMegabyte = 1024.0 * 1024.0;

// About 1 MiB of rebranded-VIN list: many brands with many squish VINs each.
struct Fixture {
    std::filesystem::path folder;
    std::filesystem::path file;
    Data encrypted;

    Fixture() {
        std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rebranded>\n";
        for (int brand = 0; xml.size() < kMegabyte; ++brand) {
            xml += "  <brand name=\"Brand " + std::to_string(brand) +
                   "\" platform=\"Platform\" parent=\"Suzuki\" squishvins=\"";
            for (int i = 0; i < 40; ++i) {
                char squish[16];
                std::snprintf(squish, sizeof squish, "%c%07dAB", 'A' + brand % 26, brand * 40 + i);
                if (i) xml += ',';
                xml += squish;
            }
            xml += "\"/>\n";
        }
        xml += "</rebranded>\n";
        encrypted = *qz::DataAES256::encryptedWithKey(Data(xml.begin(), xml.end()),
                                                      qz::DataAES256::definitionFileKey());
        folder = *qz::Paths::makeUniqueDirectory("qz-definition-bench");
        file = folder / "Rebranded-VINs.xml";
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(encrypted.data()),
                   static_cast<std::streamsize>(encrypted.size()));
    }
    ~Fixture() {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

// The plain decrypt: one EVP AES-256-ECB pass over bytes in memory.
void plainDecrypt(const Data& in, Data& out) {
    unsigned char key[32] = {};
    const auto text = qz::DataAES256::kDefinitionFileKey;
    std::copy(text.begin(), text.end(), key);
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                        &EVP_CIPHER_CTX_free);
    out.resize(in.size() + 16);
    int n = 0, tail = 0;
    EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_ecb(), nullptr, key, nullptr);
    EVP_DecryptUpdate(ctx.get(), out.data(), &n, in.data(), static_cast<int>(in.size()));
    EVP_DecryptFinal_ex(ctx.get(), out.data() + n, &tail);
    out.resize(static_cast<std::size_t>(n + tail));
}

// The plain load: read the file in one call, decrypt, and parse with expat, handlers that
// only count elements.
size_t plainLoad(const std::filesystem::path& file) {
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    ::fstat(fd, &st);
    Data encrypted(static_cast<size_t>(st.st_size));
    benchmark::DoNotOptimize(::read(fd, encrypted.data(), encrypted.size()));
    ::close(fd);
    Data plain;
    plainDecrypt(encrypted, plain);
    size_t elements = 0;
    XML_Parser parser = XML_ParserCreate(nullptr);
    XML_SetUserData(parser, &elements);
    XML_SetElementHandler(
        parser,
        [](void* count, const XML_Char*, const XML_Char**) { ++*static_cast<size_t*>(count); },
        [](void*, const XML_Char*) {});
    XML_Parse(parser, reinterpret_cast<const char*>(plain.data()), static_cast<int>(plain.size()),
              1);
    XML_ParserFree(parser);
    return elements;
}

double threadSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// What a check of the rebranded-VIN list does: read, decrypt, parse the whole document into
// the reader.
bool libraryLoad(const std::filesystem::path& file) {
    auto document = qz::DefinitionFile::load(file);
    qz::QZERebrandedVinXmlParser reader(std::string("ZZZZZZZZ0ZZ000000"));
    qz::XMLParser parser(std::move(*document));
    parser.setDelegate(&reader);
    return parser.parse();
}

// Each iteration loads the file plainly and through the library, taking turns, in CPU time of
// this thread.
void BM_DefinitionFileLoad(benchmark::State& state) {
    const auto& f = fixture();
    double plainSeconds = 0, librarySeconds = 0;
    for (auto _ : state) {
        const double t0 = threadSeconds();
        benchmark::DoNotOptimize(plainLoad(f.file));
        const double t1 = threadSeconds();
        benchmark::DoNotOptimize(libraryLoad(f.file));
        const double t2 = threadSeconds();
        plainSeconds += t1 - t0;
        librarySeconds += t2 - t1;
    }
    const double n = static_cast<double>(std::max<int64_t>(state.iterations(), 1));
    const double perMB = 1000.0 * kMegabyte / static_cast<double>(f.encrypted.size());
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(f.encrypted.size()));
    state.counters["plain_ms_per_MB"] = plainSeconds / n * perMB;
    state.counters["library_ms_per_MB"] = librarySeconds / n * perMB;
    // The library's speed as a share of the plain loop's (1 = as fast).
    state.counters["speed_vs_plain"] = plainSeconds / librarySeconds;
}
BENCHMARK(BM_DefinitionFileLoad)->Unit(benchmark::kMillisecond);

}  // namespace
