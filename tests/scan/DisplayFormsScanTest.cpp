// Every simulated vehicle with manufacturer modules, scanned in full through the gateway as
// ELM327-type adapters print replies: the identifier on every line (29-bit ones also as four
// spaced bytes), "response pending" printed before the data in the same reply, the command
// echoed before its answer, lines printed without blanks and ISO 9141 headers on K-line. Each
// gives the same modules, codes and statuses as the simulator's own display, and a clear of a
// module clears it.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
// GCC 12 sees std::regex's inlined state moves read an uninitialised std::function when it
// optimises with the sanitizers (a false warning).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <regex>
#pragma GCC diagnostic pop

#include "ScanTestSupport.hpp"

using namespace qz;
using namespace qz::scantest;
using qz::sim::VehicleProfile;

namespace {

nlohmann::json document(const std::string& name) {
    std::ifstream in(VehicleProfile::sampleFolder() / name);
    return nlohmann::json::parse(in);
}

bool isPending(const nlohmann::json& answer) {
    static const std::regex pending(R"(\s*7F\s*[0-9A-F]{2}\s*78\s*)", std::regex::icase);
    return answer.is_string() && std::regex_match(answer.get<std::string>(), pending);
}

// Answer lists that begin with "response pending" ("7F xx 78", then the data at the next
// request) become one answer of several messages: the pending answers and the data in one
// reply. Returns how many lists were folded.
int foldPendingAnswers(nlohmann::json& doc) {
    int folded = 0;
    for (auto& module : doc["modules"])
        for (const char* key : {"replies", "cleared"}) {
            if (!module.contains(key)) continue;
            for (auto& [request, answers] : module[key].items()) {
                if (!answers.is_array() || answers.size() < 2 || !isPending(answers[0])) continue;
                size_t data = 0;
                std::string joined;
                while (data + 1 < answers.size() && isPending(answers[data]))
                    joined += answers[data++].get<std::string>() + "|";
                nlohmann::json rest = nlohmann::json::array();
                rest.push_back(joined + answers[data].get<std::string>());
                for (size_t i = data + 1; i < answers.size(); ++i) rest.push_back(answers[i]);
                answers = rest.size() == 1 ? rest[0] : rest;
                ++folded;
            }
        }
    return folded;
}

Texts withCodes(const Texts& lines) {
    Texts out;
    for (const auto& l : lines)
        if (l.back() != ':') out.push_back(l);
    return out;
}

struct Form {
    const char* name;
    bool everyLine;
    bool idBytes;
    bool fold;
    bool echo = false;      // the sensor echoes every command before its answer
    bool noSpaces = false;  // no blanks between the bytes
    bool iso9141 = false;   // K-line messages under ISO 9141 headers
};

const Form kForms[] = {
    {"identifier on every line", true, false, false},
    {"identifier on every line, 29-bit as four bytes", true, true, false},
    {"pending and data in one reply", false, false, true},
    {"all of these", true, true, true},
    {"the command echoed", false, false, false, true},
    {"lines without blanks", false, false, false, false, true},
    {"ISO 9141 headers", false, false, false, false, false, true},
    {"without blanks, ISO 9141 headers, on every line, pending and data in one reply", true, false,
     true, false, true, true},
};

class DisplayForms : public ScanTest, public ::testing::WithParamInterface<std::string> {
  protected:
    // A full scan of the vehicle the profile describes (as it stands after a clear, `again`),
    // every prompt answered.
    Texts fullScan(const nlohmann::json& doc, bool again = false) {
        auto profile = VehicleProfile::fromJson(doc);
        const std::string vin = profile.vin;
        if (!gateway)
            connectTo(std::move(profile));
        else if (!again)
            core->setProfile(std::move(profile));
        ScanRecorder recorder;
        recorder.onInteraction([](const InteractionType& t) { t.listener()(); });
        auto end = scan(PelkScanType::all, vin, recorder);
        EXPECT_TRUE(end && end->result() && *end->result());
        scanned = modulesOf(end);
        return moduleLines(scanned);
    }
    PelkModules scanned;
};

}  // namespace

TEST_P(DisplayForms, GiveTheSameModulesCodesAndStatuses) {
    const auto doc = document(GetParam());
    const Texts expected = fullScan(doc);
    ASSERT_FALSE(expected.empty());
    for (const auto& form : kForms) {
        SCOPED_TRACE(form.name);
        auto variant = doc;
        variant["sensor"]["headersEveryLine"] = form.everyLine;
        variant["sensor"]["idBytes"] = form.idBytes;
        variant["sensor"]["echo"] = form.echo;
        variant["sensor"]["noSpaces"] = form.noSpaces;
        variant["sensor"]["iso9141Headers"] = form.iso9141;
        if (form.fold && foldPendingAnswers(variant) == 0) continue;
        EXPECT_EQ(fullScan(variant), expected);
        // The first manufacturer module with codes clears, and the scan shows it without them.
        auto target = std::find_if(scanned.begin(), scanned.end(), [](const auto& m) {
            return m->acronym() != "OBD" && !m->results().empty();
        });
        if (target == scanned.end()) continue;
        EXPECT_EQ(clear(*target), PelkClearResult::complete(true)) << (*target)->acronym();
        Texts without = withCodes(expected);
        without.erase(std::find(without.begin(), without.end(),
                                expected[static_cast<size_t>(target - scanned.begin())]));
        EXPECT_EQ(withCodes(fullScan(variant, true)), without);
    }
}

TEST(PendingAnswerFolding, JoinsThePendingAnswersWithTheData) {
    auto doc = nlohmann::json::parse(R"({"modules": [{"replies": {
        "13": ["7F 13 78", "7f 13 78", "53 01 01 23", "53 00"],
        "14": ["7F 14 22", "54"], "19": "7F 19 78" }}]})");
    EXPECT_EQ(foldPendingAnswers(doc), 1);
    EXPECT_EQ(doc["modules"][0]["replies"]["13"],
              nlohmann::json({"7F 13 78|7f 13 78|53 01 01 23", "53 00"}));
    EXPECT_EQ(doc["modules"][0]["replies"]["14"], nlohmann::json({"7F 14 22", "54"}));
}

INSTANTIATE_TEST_SUITE_P(SimulatedVehicles, DisplayForms,
                         ::testing::ValuesIn(profilesWithModules()), profileTestName);
