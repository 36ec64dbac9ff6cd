// Trouble-code decoders: UDS replies of 40, 100 and 1,000 records and a 20-code KWP2000 reply on
// CAN (multi-frame, headers on), each classified (every line read once into frames, messages and
// their meaning) and decoded into codes and statuses, beside a plain loop that only splits the
// same text into tokens. The ratio to that loop (x_tokenise, measured in the same run) is the
// cost per record against the text's own; it should stay flat as the reply grows: merging a code
// into the list costs the same however many are there. ns_per_code is the same per record.
//
// The engine's log lines go to an adapter that wants none of them, so they cost nothing; the
// "Logged" case gives the same 1,000 records to an adapter that takes every line (formatted,
// then dropped), for the price of formatting.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "lib/Facades/QZEPitCrew.hpp"
#include "lib/Logging/LoggerInterface.hpp"
#include "lib/Modules/QZEBaseDiagnosticModule.hpp"

namespace {

using namespace qz;

class DroppingLogger : public LoggerInterface {
  public:
    explicit DroppingLogger(bool wantsLines) : wantsLines_(wantsLines) {}
    bool wants(QZELogLevel) const override { return wantsLines_; }
    void logVerbose(const std::optional<std::string>&) override {}
    void logDebug(const std::optional<std::string>&) override {}
    void logInfo(const std::optional<std::string>&) override {}
    void logWarning(const std::optional<std::string>&) override {}
    void logError(const std::optional<std::string>&) override {}

  private:
    bool wantsLines_;
};

void useLogger(bool wantsLines) {
    QZEPitCrew().registerLoggingAdapter(std::make_shared<DroppingLogger>(wantsLines));
}

class Module : public QZEBaseDiagnosticModule {
  public:
    Module() : QZEBaseDiagnosticModule(4) {}
    void reset() { clearResults(); }
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

// `n` records of distinct codes (at most 1,023 fit the 12-bit length).
std::string udsReply(int n) {
    std::vector<int> p{0x59, 0x02, 0xFF};
    for (int i = 0; i < n; ++i) p.insert(p.end(), {1 + i / 256, i % 256, i * 13 + 3, 0x8C});
    return headersOnReply(p);
}

std::string kwpReply() {
    std::vector<int> p{0x58, 20};
    for (int i = 0; i < 20; ++i) p.insert(p.end(), {1 + 7 * i, i * 59 + 7, 0x60});
    return headersOnReply(p);
}

enum Reply { kUds40, kUds100, kUds1000, kKwp20, kReplies };
double gTokeniseNs[kReplies] = {};

const std::string& replyText(Reply which) {
    static const std::string texts[kReplies] = {udsReply(40), udsReply(100), udsReply(1000),
                                                kwpReply()};
    return texts[which];
}

// Plain baseline: split the text at white space into a list of tokens.
void tokenise(benchmark::State& state, Reply which) {
    const std::string& text = replyText(which);
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
void decode(benchmark::State& state, Reply which, size_t codes, bool logged, Decode run) {
    const std::string& text = replyText(which);
    useLogger(logged);
    Module module;
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        module.reset();
        benchmark::DoNotOptimize(run(module, text));
    }
    double ns =
        std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() /
        static_cast<double>(state.iterations());
    useLogger(false);
    if (module.codeArray().size() != codes) state.SkipWithError("wrong code count");
    state.counters["codes_per_reply"] = static_cast<double>(codes);
    state.counters["ns_per_code"] = ns / static_cast<double>(codes);
    if (gTokeniseNs[which] > 0) state.counters["x_tokenise"] = ns / gTokeniseNs[which];
}

int64_t decodeUds(Module& m, const std::string& t) {
    return m.decodeUds(t);
}

void BM_TokeniseUds40(benchmark::State& state) {
    tokenise(state, kUds40);
}
BENCHMARK(BM_TokeniseUds40);

void BM_DecodeUds40(benchmark::State& state) {
    decode(state, kUds40, 40, false, decodeUds);
}
BENCHMARK(BM_DecodeUds40);

void BM_TokeniseUds100(benchmark::State& state) {
    tokenise(state, kUds100);
}
BENCHMARK(BM_TokeniseUds100);

void BM_DecodeUds100(benchmark::State& state) {
    decode(state, kUds100, 100, false, decodeUds);
}
BENCHMARK(BM_DecodeUds100);

void BM_TokeniseUds1000(benchmark::State& state) {
    tokenise(state, kUds1000);
}
BENCHMARK(BM_TokeniseUds1000);

void BM_DecodeUds1000(benchmark::State& state) {
    decode(state, kUds1000, 1000, false, decodeUds);
}
BENCHMARK(BM_DecodeUds1000);

void BM_DecodeUds1000Logged(benchmark::State& state) {
    decode(state, kUds1000, 1000, true, decodeUds);
}
BENCHMARK(BM_DecodeUds1000Logged);

void BM_TokeniseKwpReply(benchmark::State& state) {
    tokenise(state, kKwp20);
}
BENCHMARK(BM_TokeniseKwpReply);

void BM_DecodeKwp2000Can20(benchmark::State& state) {
    decode(state, kKwp20, 20, false,
           [](Module& m, const std::string& t) { return m.decodeKWP2000CANResponse(t); });
}
BENCHMARK(BM_DecodeKwp2000Can20);

}  // namespace
