// The engine's definition files: loading the largest module list and the code-description file
// (read, decrypt, parse into records) beside a plain read, OpenSSL AES-256-ECB decrypt and expat
// parse of the same file that builds nothing, measured in the same run; and one description
// lookup of a loaded table beside a plain hash-map lookup. The shipped files are used when the
// resource folder has them, else generated files of the same vocabulary.

#include <benchmark/benchmark.h>
#include <expat.h>
#include <openssl/evp.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unordered_map>

#include "lib/Content/DefinitionFile.hpp"
#include "lib/Definitions/QZEBasicXMLParserDelegate.hpp"
#include "lib/Definitions/QZEVagXMLParserDelegate.hpp"
#include "lib/Descriptions/QZETroubleCodes.hpp"
#include "lib/Logging/QZELogging.hpp"
#include "lib/Utils/DataAES256.hpp"
#include "platform/Bundle.hpp"
#include "platform/FileSystem.hpp"
#include "platform/xml/XMLParser.hpp"

namespace {

namespace fs = std::filesystem;
using qz::Data;

void writeEncrypted(const fs::path& path, const std::string& plain) {
    fs::create_directories(path.parent_path());
    auto encrypted = *qz::DataAES256::encryptedWithKey(Data(plain.begin(), plain.end()),
                                                       qz::DataAES256::definitionFileKey());
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(encrypted.data()),
               static_cast<std::streamsize>(encrypted.size()));
}

std::string generatedModuleList() {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<modules>\n";
    for (int m = 0; m < 60; ++m) {
        const auto id = std::to_string(0x700 + m);
        xml += "  <module Acronym=\"M" + std::to_string(m) + "\" Description=\"Control module " +
               std::to_string(m) + "\" Request_ID=\"" + id + "\" Response_ID=\"" + id +
               "8\" Common=\"1\" Light=\"ENGINE\" ModuleCategory=\"ENGINE\" protocol=\"6\">\n";
        for (int c = 0; c < 8; ++c)
            xml += "    <tc c=\"P1" + std::to_string(100 + c + m) +
                   "\" d=\"Circuit performance of sensor " + std::to_string(c) + "\"/>\n";
        xml += "    <address byte=\"0" + std::to_string(m % 10) + "\">\n";
        for (int b = 0; b < 8; ++b)
            xml += "      <bit bitNum=\"" + std::to_string(b) + "\" c=\"B1" +
                   std::to_string(200 + b) + "\" Description=\"Bit fault " + std::to_string(b) +
                   "\"/>\n";
        xml += "    </address>\n  </module>\n";
    }
    return xml + "</modules>\n";
}

std::string generatedTroubleCodes() {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<troublecodes>\n<sae>\n";
    char code[8];
    for (int i = 0; i < 2000; ++i) {
        std::snprintf(code, sizeof code, "P%04X", i);
        xml += std::string("  <tc><c>") + code + "</c><d>Generic fault number " +
               std::to_string(i) + " of the powertrain</d></tc>\n";
    }
    xml += "</sae>\n<GM>\n";
    for (int i = 0; i < 500; ++i) {
        std::snprintf(code, sizeof code, "P1%03X", i);
        xml += std::string("  <tc><c>") + code + "</c><d>Manufacturer fault " + std::to_string(i) +
               "</d></tc>\n";
    }
    return xml + "</GM>\n</troublecodes>\n";
}

// The engine's lines are dropped, as a host's logger would take them off the console.
struct SilentLogger : qz::LoggerInterface {
    void logVerbose(const std::optional<std::string>&) override {}
    void logDebug(const std::optional<std::string>&) override {}
    void logInfo(const std::optional<std::string>&) override {}
    void logWarning(const std::optional<std::string>&) override {}
    void logError(const std::optional<std::string>&) override {}
};

// The files measured: the largest shipped module list and "troublecodes/troublecodes.xml", or
// generated ones in a folder of their own.
struct Files {
    fs::path moduleList;
    fs::path troubleCodes;
    bool vag = false;
    std::optional<fs::path> generated;

    Files() {
        qz::QZELogging::shared().registerLoggerInterface(std::make_shared<SilentLogger>());
        const fs::path shipped = qz::Bundle::library().bundlePath();
        std::error_code ec;
        uintmax_t largest = 0;
        for (const auto& entry : fs::directory_iterator(shipped / "enhanceddiag", ec)) {
            if (entry.path().extension() != ".xml" || entry.path().stem() == "Rebranded-VINs")
                continue;
            if (entry.file_size() > largest) {
                largest = entry.file_size();
                moduleList = entry.path();
            }
        }
        troubleCodes = shipped / "troublecodes" / "troublecodes.xml";
        if (largest == 0 || !fs::exists(troubleCodes)) {
            generated = *qz::Paths::makeUniqueDirectory("qz-definition-files-bench");
            qz::Bundle::setLibraryPath(*generated);
            if (largest == 0) {
                moduleList = *generated / "enhanceddiag" / "Generated.xml";
                writeEncrypted(moduleList, generatedModuleList());
            }
            if (!fs::exists(troubleCodes)) {
                troubleCodes = *generated / "troublecodes" / "troublecodes.xml";
                writeEncrypted(troubleCodes, generatedTroubleCodes());
            }
        }
        vag = moduleList.stem() == "vag-modules-tcs";
    }
    ~Files() {
        qz::Bundle::setLibraryPath({});
        std::error_code ec;
        if (generated) fs::remove_all(*generated, ec);
    }
};

Files& files() {
    static Files f;
    return f;
}

// The plain baseline: read the file in one call, one EVP decrypt, one expat parse without
// handlers.
size_t plainLoad(const fs::path& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    Data encrypted(static_cast<size_t>(in.tellg()));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(encrypted.data()),
            static_cast<std::streamsize>(encrypted.size()));

    unsigned char key[32] = {};
    const auto text = qz::DataAES256::kDefinitionFileKey;
    std::copy(text.begin(), text.end(), key);
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                        &EVP_CIPHER_CTX_free);
    Data plain(encrypted.size() + 16);
    int n = 0, tail = 0;
    EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_ecb(), nullptr, key, nullptr);
    EVP_DecryptUpdate(ctx.get(), plain.data(), &n, encrypted.data(),
                      static_cast<int>(encrypted.size()));
    EVP_DecryptFinal_ex(ctx.get(), plain.data() + n, &tail);

    XML_Parser parser = XML_ParserCreate(nullptr);
    XML_Parse(parser, reinterpret_cast<const char*>(plain.data()), n + tail, 1);
    const size_t line = XML_GetCurrentLineNumber(parser);
    XML_ParserFree(parser);
    return line;
}

// CPU seconds of the calling thread per iteration of the loop body: other work on a shared
// machine does not move it.
template <class Body>
double timed(benchmark::State& state, Body body) {
    auto threadSeconds = [] {
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
    };
    const double start = threadSeconds();
    for (auto _ : state) body();
    return (threadSeconds() - start) /
           static_cast<double>(std::max<int64_t>(state.iterations(), 1));
}

double gPlainModuleList = 0;
double gPlainTroubleCodes = 0;
double gPlainLookup = 0;

void report(benchmark::State& state, double seconds, double baseline) {
    state.counters["us"] = seconds * 1e6;
    if (baseline > 0) state.counters["ratio_vs_plain"] = seconds / baseline;
}

void BM_PlainModuleListLoad(benchmark::State& state) {
    const auto path = files().moduleList;
    gPlainModuleList = timed(state, [&] { benchmark::DoNotOptimize(plainLoad(path)); });
    report(state, gPlainModuleList, 0);
    state.SetLabel(path.filename().string());
}

void BM_ModuleListLoad(benchmark::State& state) {
    const auto& f = files();
    const double seconds = timed(state, [&] {
        std::vector<qz::QZEModuleDataPtr> modules;
        auto data = qz::DefinitionFile::load(f.moduleList);
        qz::XMLParser parser(std::move(*data));
        if (f.vag) {
            qz::QZEVagXMLParserDelegate reader(std::string("WVWZZZ1KZ8W000001"), false, 1, modules);
            parser.setDelegate(&reader);
            parser.parse();
        } else {
            qz::QZEBasicXMLParserDelegate reader(3, 1, false, std::string("WBA3A5C50DF123456"),
                                                 modules);
            parser.setDelegate(&reader);
            parser.parse();
        }
        benchmark::DoNotOptimize(modules.data());
    });
    report(state, seconds, gPlainModuleList);
}

void BM_PlainTroubleCodesLoad(benchmark::State& state) {
    const auto path = files().troubleCodes;
    gPlainTroubleCodes = timed(state, [&] { benchmark::DoNotOptimize(plainLoad(path)); });
    report(state, gPlainTroubleCodes, 0);
}

// A fresh catalogue loading its first table ("sae").
void BM_TroubleCodesLoad(benchmark::State& state) {
    files();
    const double seconds = timed(state, [&] {
        qz::QZETroubleCodes codes;
        codes.initDict();
        benchmark::DoNotOptimize(codes.hasTable("sae"));
    });
    report(state, seconds, gPlainTroubleCodes);
}

void BM_PlainLookup(benchmark::State& state) {
    std::unordered_map<std::string, std::string> table;
    for (int i = 0; i < 2000; ++i) {
        std::string code = "P";
        code += std::to_string(1000 + i);
        table[code] = "Description";
    }
    const std::string code = "P1300";
    gPlainLookup = timed(state, [&] {
        auto it = table.find(code);
        std::string copy = it == table.end() ? std::string() : it->second;
        benchmark::DoNotOptimize(copy.data());
    });
    report(state, gPlainLookup, 0);
}

// One description from warm tables: the make's table misses, "sae" answers.
void BM_DescriptionLookup(benchmark::State& state) {
    files();
    qz::QZETroubleCodes codes;
    codes.troubleCodeDef("P0301", 1);
    const std::optional<std::string> code = "P0301";
    const double seconds = timed(state, [&] {
        auto text = codes.troubleCodeDef(code, 1);
        benchmark::DoNotOptimize(text.data());
    });
    report(state, seconds, gPlainLookup);
}

// Each baseline runs before the load it is compared with.
BENCHMARK(BM_PlainModuleListLoad)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ModuleListLoad)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PlainTroubleCodesLoad)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TroubleCodesLoad)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PlainLookup)->Unit(benchmark::kNanosecond);
BENCHMARK(BM_DescriptionLookup)->Unit(benchmark::kNanosecond);

}  // namespace
