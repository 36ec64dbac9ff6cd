// Trouble-code decoders: a 40-record UDS reply and a 20-code KWP2000 reply on CAN (multi-frame,
// headers on), each decoded into codes and statuses, beside a plain loop that only splits the
// same text into tokens. The engine's log lines are formatted and handed to an adapter that
// drops them.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "lib/Facades/QZEPitCrew.hpp"
#include "lib/Logging/LoggerInterface.hpp"
#include "lib/Modules/QZEBaseDiagnosticModule.hpp"

namespace {

using namespace qz;

class DroppingLogger : public LoggerInterface {
  public:
    void logVerbose(const std::optional<std::string>&) override {}
    void logDebug(const std::optional<std::string>&) override {}
    void logInfo(const std::optional<std::string>&) override {}
    void logWarning(const std::optional<std::string>&) override {}
    void logError(const std::optional<std::string>&) override {}
};

class Module : public QZEBaseDiagnosticModule {
  public:
    Module() : QZEBaseDiagnosticModule(4) {}
    void reset() {
        m_codeArray.clear();
        m_statusArray.clear();
        m_definitionArray.clear();
    }
};

std::string hexByte(int b) {
    char buf[4];
    std::snprintf(buf, sizeof buf, "%02X", b & 0xFF);
    return buf;
}

// The payload as ISO-TP frames after the identifier, one frame per line.
std::string headersOnReply(const std::vector<int>& payload) {
    std::string out = "7E8 ";
    auto line = [&](std::vector<int> frame) {
        for (size_t i = 0; i < frame.size(); ++i) {
            if (i) out += ' ';
            out += hexByte(frame[i]);
        }
        out += '\r';
    };
    int length = static_cast<int>(payload.size());
    line({0x10 | (length >> 8), length & 0xFF, payload[0], payload[1], payload[2], payload[3],
          payload[4], payload[5]});
    int sequence = 1;
    for (size_t at = 6; at < payload.size(); at += 7, sequence = (sequence + 1) & 15) {
        std::vector<int> frame{0x20 | sequence};
        for (size_t i = at; i < std::min(payload.size(), at + 7); ++i) frame.push_back(payload[i]);
        line(frame);
    }
    return out + "\r>";
}

std::string udsReply() {
    std::vector<int> p{0x59, 0x02, 0xFF};
    for (int i = 0; i < 40; ++i) p.insert(p.end(), {1 + 7 * i, i * 59 + 7, i * 13 + 3, 0x8C});
    return headersOnReply(p);
}

std::string kwpReply() {
    std::vector<int> p{0x58, 20};
    for (int i = 0; i < 20; ++i) p.insert(p.end(), {1 + 7 * i, i * 59 + 7, 0x60});
    return headersOnReply(p);
}

struct Setup {
    Setup() { QZEPitCrew().registerLoggingAdapter(std::make_shared<DroppingLogger>()); }
};

double gTokeniseNs[2] = {0, 0};

// Plain baseline: split the text at white space into a list of tokens.
void tokenise(benchmark::State& state, const std::string& text, int which) {
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        std::vector<std::string> tokens;
        size_t i = 0;
        while (i < text.size()) {
            while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
            size_t from = i;
            while (i < text.size() && !std::isspace(static_cast<unsigned char>(text[i]))) ++i;
            if (i > from) tokens.emplace_back(text, from, i - from);
        }
        benchmark::DoNotOptimize(tokens);
    }
    gTokeniseNs[which] =
        std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() /
        static_cast<double>(state.iterations());
}

template <class Decode>
void decode(benchmark::State& state, const std::string& text, int which, size_t codes, Decode run) {
    static Setup setup;
    Module module;
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        module.reset();
        benchmark::DoNotOptimize(run(module, text));
    }
    double ns =
        std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() /
        static_cast<double>(state.iterations());
    if (module.codeArray().size() != codes) state.SkipWithError("wrong code count");
    state.counters["codes_per_reply"] = static_cast<double>(codes);
    if (gTokeniseNs[which] > 0) state.counters["x_tokenise"] = ns / gTokeniseNs[which];
}

void BM_TokeniseUdsReply(benchmark::State& state) {
    tokenise(state, udsReply(), 0);
}
BENCHMARK(BM_TokeniseUdsReply);

void BM_DecodeUds40(benchmark::State& state) {
    decode(state, udsReply(), 0, 40,
           [](Module& m, const std::string& t) { return m.decodeUds(t); });
}
BENCHMARK(BM_DecodeUds40);

void BM_TokeniseKwpReply(benchmark::State& state) {
    tokenise(state, kwpReply(), 1);
}
BENCHMARK(BM_TokeniseKwpReply);

void BM_DecodeKwp2000Can20(benchmark::State& state) {
    decode(state, kwpReply(), 1, 20,
           [](Module& m, const std::string& t) { return m.decodeKWP2000CANResponse(t); });
}
BENCHMARK(BM_DecodeKwp2000Can20);

}  // namespace
