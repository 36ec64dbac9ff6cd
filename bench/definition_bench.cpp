// Definition-file load (read the encrypted file, decrypt, parse) per megabyte, beside a plain
// OpenSSL AES-256-ECB decrypt of the same bytes measured in the same run.

#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <chrono>
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

// The plain baseline: one EVP AES-256-ECB decrypt of the bytes already in memory.
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

double gBaselineSeconds = 0;  // one plain decrypt

void BM_PlainOpenSSLDecrypt(benchmark::State& state) {
    const Data& in = fixture().encrypted;
    Data out;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        plainDecrypt(in, out);
        benchmark::DoNotOptimize(out.data());
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    gBaselineSeconds = seconds / static_cast<double>(std::max<int64_t>(state.iterations(), 1));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(in.size()));
    state.counters["ms_per_MB"] = gBaselineSeconds * 1000.0 * kMegabyte / in.size();
}

// What a check of the rebranded-VIN list does: read, decrypt, parse the whole document.
void BM_DefinitionFileLoad(benchmark::State& state) {
    const auto& f = fixture();
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        auto document = qz::DefinitionFile::load(f.file);
        qz::QZERebrandedVinXmlParser reader(std::string("ZZZZZZZZ0ZZ000000"));
        qz::XMLParser parser(std::move(*document));
        parser.setDelegate(&reader);
        benchmark::DoNotOptimize(parser.parse());
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() /
        static_cast<double>(std::max<int64_t>(state.iterations(), 1));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(f.encrypted.size()));
    state.counters["ms_per_MB"] = seconds * 1000.0 * kMegabyte / f.encrypted.size();
    if (gBaselineSeconds > 0)
        state.counters["ratio_vs_openssl_decrypt"] = seconds / gBaselineSeconds;
}

// The decrypt alone through the library's operation, for the share of the load it takes.
void BM_DefinitionFileDecryptOnly(benchmark::State& state) {
    const auto& f = fixture();
    const auto key = qz::DataAES256::definitionFileKey();
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        auto plain = qz::DataAES256::decryptedWithKey(f.encrypted, key);
        benchmark::DoNotOptimize(plain->data());
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() /
        static_cast<double>(std::max<int64_t>(state.iterations(), 1));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(f.encrypted.size()));
    if (gBaselineSeconds > 0)
        state.counters["ratio_vs_openssl_decrypt"] = seconds / gBaselineSeconds;
}

// The baseline runs first so the others can report their ratio against it.
BENCHMARK(BM_PlainOpenSSLDecrypt)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DefinitionFileDecryptOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DefinitionFileLoad)->Unit(benchmark::kMillisecond);

}  // namespace
