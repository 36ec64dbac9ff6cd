// Replays every checked-in fuzz input (fuzz/corpus/<target>/) through its target, so a
// regression of anything the fuzzers found fails here under the sanitizers, without fuzzing.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "FuzzTarget.hpp"
#include "api/Logging/Log.hpp"
#include "platform/FileSystem.hpp"
#include "support/HomeWithLog.hpp"
#include "support/TestSupport.hpp"

namespace qz::fuzz {

namespace {
std::map<std::string, Target>& targets() {
    static std::map<std::string, Target> registered;
    return registered;
}
}  // namespace

bool registerTarget(std::string_view name, Target target) {
    targets().emplace(std::string(name), target);
    return true;
}

}  // namespace qz::fuzz

namespace {

namespace fs = std::filesystem;
using namespace qz;

const fs::path kCorpus = fs::path(QZ_SOURCE_DIR) / "fuzz" / "corpus";

std::vector<std::string> targetNames() {
    std::vector<std::string> names;
    for (const auto& [name, target] : fuzz::targets()) names.push_back(name);
    return names;
}

class FuzzCorpus : public ::testing::TestWithParam<std::string> {
  protected:
    void TearDown() override { Log::reset(); }
};

TEST_P(FuzzCorpus, EveryCheckedInInputReplays) {
    const fs::path folder = kCorpus / GetParam();
    ASSERT_TRUE(fs::is_directory(folder)) << "every target keeps a corpus: " << folder;
    size_t inputs = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (!entry.is_regular_file()) continue;
        SCOPED_TRACE(entry.path().filename().string());
        const Data input = testsupport::readFileBytes(entry.path());
        // Each input in a home of its own, with time that never waits, as the fuzzer runs it.
        testsupport::HomeWithLog home;
        ScopedClock clock(std::make_shared<fuzz::InstantClock>());
        fuzz::targets().at(GetParam())(input.data(), input.size());
        ++inputs;
    }
    EXPECT_GT(inputs, 0u);
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzCorpus, ::testing::ValuesIn(targetNames()),
                         [](const auto& info) { return info.param; });

TEST(FuzzCorpusLayout, EveryCorpusFolderHasItsTarget) {
    const auto names = targetNames();
    const std::set<std::string> known(names.begin(), names.end());
    for (const auto& entry : fs::directory_iterator(kCorpus)) {
        if (entry.is_directory()) {
            EXPECT_TRUE(known.count(entry.path().filename().string())) << entry.path();
        }
    }
}

}  // namespace
