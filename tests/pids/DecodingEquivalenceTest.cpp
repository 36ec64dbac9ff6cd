// The decoding fast paths against plain reference forms: number texts against std::to_chars,
// answer cleaning against the line-by-line rules, byte fields against the joined text read as
// one number, and data copies of every size mix.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "api/PIDs/HexText.hpp"
#include "api/PIDs/NumericPID.hpp"
#include "api/PIDs/PIDInterface.hpp"

namespace qz {
namespace {

// to_chars' shortest text: fixed from 1e-4 up to 2^53 (and for zero) with ".0" after a whole
// number, scientific elsewhere.
std::string referenceText(double value) {
    if (std::isnan(value)) return "nan";
    const double magnitude = std::fabs(value);
    const bool plain = magnitude == 0.0 || (magnitude >= 1e-4 && magnitude < 9007199254740992.0);
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, value,
                             plain ? std::chars_format::fixed : std::chars_format::scientific);
    std::string text(buf, res.ptr);
    if (plain && text.find('.') == std::string::npos) text += ".0";
    return text;
}

TEST(DecodingEquivalenceTest, NumberTextsAreToCharsShortest) {
    const double table[] = {0.1,
                            0.2,
                            0.3,
                            -0.25,
                            1e-4,
                            std::nextafter(1e-4, 0.0),
                            std::nextafter(1e-4, 1.0),
                            0.00012345,
                            0.000123456,
                            12.5,
                            99.99999999,
                            9999999.99999999,
                            10000000.5,
                            1e7 - 1e-9,
                            123456789.125,
                            4503599627370495.5,
                            9007199254740991.0,
                            9007199254740992.0,
                            1726.0,
                            100.0 / 255.0,
                            200 * 100.0 / 255.0,
                            -40.000000000003425,
                            0.0,
                            -0.0,
                            1e16,
                            1e-5,
                            5e-324,
                            std::numeric_limits<double>::max(),
                            std::numeric_limits<double>::infinity(),
                            -std::numeric_limits<double>::infinity(),
                            std::nan("")};
    for (double v : table) EXPECT_EQ(shortestNumberText(v), referenceText(v)) << v;
    EXPECT_EQ(shortestNumberText(-std::numeric_limits<double>::infinity()), "-inf");

    // Random values of every form the catalogue gives (raw readings scaled and offset, short
    // decimals) and any bit pattern at all.
    std::mt19937_64 rng(20261207);
    const double scalars[] = {1,
                              0.25,
                              0.5,
                              0.1,
                              0.01,
                              0.001,
                              0.005,
                              0.0078125,
                              100.0 / 255.0,
                              100.0 / 128.0,
                              1.0 / 32768.0,
                              0.05,
                              3.0517578125e-05,
                              1.8,
                              0.3};
    const double offsets[] = {0, -40, -100, -273.15, 0.5, -125, 32};
    for (int i = 0; i < 200000; ++i) {
        double v;
        switch (i % 5) {
            case 0:
                v = static_cast<double>(rng() % 65536) * scalars[rng() % std::size(scalars)] +
                    offsets[rng() % std::size(offsets)];
                break;
            case 1:
                v = static_cast<double>(rng() % 1000000000000ull) /
                    std::pow(10.0, static_cast<double>(rng() % 13));
                break;
            case 2:
                v = std::ldexp(static_cast<double>(rng() >> 11), -static_cast<int>(rng() % 70));
                break;
            case 3: {
                const uint64_t bits = rng();
                std::memcpy(&v, &bits, sizeof v);
                break;
            }
            default:
                v = std::uniform_real_distribution<double>(-1e8, 1e8)(rng);
        }
        if (rng() & 1) v = -v;
        ASSERT_EQ(shortestNumberText(v), referenceText(v)) << std::hexfloat << v;
        std::string appended = "x";
        appendShortestNumberText(appended, v);
        std::string expected = "x";
        expected += referenceText(v);
        ASSERT_EQ(appended, expected);
    }
}

// The answer rules one step at a time: the non-empty pieces between carriage returns, trimmed;
// the last is the prompt line; a blank data line fails; from two data lines on, a live-data
// answer keeps each line's words but the first; the lines joined with single blanks; only
// blanks and hexadecimal digits; split at every blank.
Result<std::vector<std::string>, CommError> referenceClean(const std::string& answer, Mode mode,
                                                           int64_t responseBytes) {
    auto blank = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    std::vector<std::string> pieces;
    size_t from = 0;
    for (size_t cr; from <= answer.size(); from = cr + 1) {
        cr = std::min(answer.find('\r', from), answer.size());
        std::string piece = answer.substr(from, cr - from);
        if (piece.empty()) continue;
        while (!piece.empty() && blank(piece.front())) piece.erase(0, 1);
        while (!piece.empty() && blank(piece.back())) piece.pop_back();
        pieces.push_back(piece);
    }
    if (pieces.size() < 2) return std::unexpected(CommError::invalidData);
    pieces.pop_back();
    const bool dropFirst = mode == Mode::LiveData && pieces.size() >= 2;
    std::string text;
    for (size_t p = 0; p < pieces.size(); ++p) {
        if (pieces[p].empty()) return std::unexpected(CommError::invalidData);
        if (p) text += ' ';
        if (!dropFirst) {
            text += pieces[p];
            continue;
        }
        std::vector<std::string> words;
        std::string word;
        for (char c : pieces[p] + ' ') {
            if (c != ' ') {
                word += c;
            } else if (!word.empty()) {
                words.push_back(word);
                word.clear();
            }
        }
        for (size_t w = 1; w < words.size(); ++w) text += (w > 1 ? " " : "") + words[w];
    }
    for (char c : text)
        if (c != ' ' && hexDigitValue(c) < 0) return std::unexpected(CommError::invalidData);
    std::vector<std::string> tokens(1);
    for (char c : text) {
        if (c == ' ')
            tokens.emplace_back();
        else
            tokens.back() += c;
    }
    if (static_cast<int64_t>(tokens.size()) < responseBytes)
        return std::unexpected(CommError::invalidData);
    return tokens;
}

TEST(DecodingEquivalenceTest, AnswerCleaningFollowsTheLineRules) {
    const std::string table[] = {"",
                                 ">",
                                 "\r>",
                                 "41 0C 1A F8 \r>",
                                 "41 0C 1A F8\r41 0C 00 10\r\r>",
                                 "7E8 41 0C\r7E9 41\r>",
                                 "41\r41\r>",
                                 "  41   0C \t\r 7E8  41 \r>",
                                 "41 0C\r \r>",
                                 "41 0C\r\r\r>\r",
                                 "41 0X\r7E8 41 0C\r>",
                                 "4x 41 0C\r7E8 41 0C\r>",
                                 "1A\t F8\r>",
                                 "1A  F8\r>"};
    std::vector<std::string> answers(std::begin(table), std::end(table));
    std::mt19937 rng(7);
    const char alphabet[] = {'0', 'A', 'f', '9', ' ', ' ', ' ', '\r', '\r', '\t', '\n', '>', 'x'};
    for (int i = 0; i < 20000; ++i) {
        std::string a;
        for (size_t n = rng() % 24; n > 0; --n) a += alphabet[rng() % std::size(alphabet)];
        answers.push_back(a + (rng() % 4 ? "\r>" : ""));
    }
    for (const auto& a : answers)
        for (Mode mode : {Mode::LiveData, Mode::VehicleInfo})
            for (int64_t bytes : {0, 2, 5})
                ASSERT_EQ(PIDInterface::cleanAnswer(a, mode, bytes), referenceClean(a, mode, bytes))
                    << testing::PrintToString(a) << " mode " << static_cast<int>(mode);
}

TEST(DecodingEquivalenceTest, ByteFieldsReadAsTheirJoinedText) {
    std::mt19937 rng(11);
    const std::string texts[] = {"00", "1A", "ff", "F8", "7", "", "0A0", "G1", "+1", "00", "80"};
    for (int64_t width = 1; width <= 10; ++width) {
        NumericPID p(Mode::LiveData, 0x40, "x", "x", width + 1, ClosedRange{1, width}, std::nullopt,
                     nullptr, nullptr, std::nullopt, std::nullopt, 0.5, -3);
        p.setSupportStatus(SupportStatus::supported);
        for (int i = 0; i < 2000; ++i) {
            std::vector<std::string> data(static_cast<size_t>(width + 1 - (rng() % 7 == 0)));
            std::string joined;
            bool missing = data.size() <= static_cast<size_t>(width);
            for (size_t k = 0; k < data.size(); ++k) {
                data[k] = rng() % 3 ? texts[rng() % 2 + 2 * (rng() % 2)]
                                    : texts[rng() % std::size(texts)];
                if (k == 0) continue;
                missing = missing || data[k].empty();
                joined += data[k];
            }
            p.setData(data);
            const auto expected = missing ? std::nullopt : parseHex64(joined);
            const auto value = p.value();
            ASSERT_EQ(value.has_value(), expected.has_value()) << testing::PrintToString(data);
            if (value) {
                ASSERT_EQ(value->value, static_cast<double>(*expected) * 0.5 - 3);
            }
        }
    }
}

TEST(DecodingEquivalenceTest, DataCopiesOfEverySizeMix) {
    NumericPID p(Mode::LiveData, 0x0C, "x", "x", 2, std::nullopt, std::nullopt, nullptr, nullptr,
                 std::nullopt, std::nullopt, 1, 0);
    const std::vector<std::vector<std::string>> steps = {
        {"1A", "F8"}, {"1A", "F8"},       {"1", "F8A"},  {"", "FF"},          {"0C", "0D"},
        {"0C"},       {"0C", "0D", "0E"}, {"AB", "CD"},  {"longer text", ""}, {"00", "01"},
        {},           {"12", "34"},       {"12", "345"}, {"56", "78"}};
    for (const auto& data : steps) {
        p.setData(data);
        EXPECT_EQ(p.data(), data);
    }
}

}  // namespace
}  // namespace qz
