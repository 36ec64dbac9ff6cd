// A module's code list beside its index: the order of discovery and the merge of repeated codes
// hold whether codes come through addCode or are written to the lists directly; and log lines
// that no adapter wants are never formatted.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>

#include "lib/Logging/QZELogging.hpp"
#include "lib/Modules/QZEBaseDiagnosticModule.hpp"
#include "support/EngineFakes.hpp"

using namespace qz;
using namespace qz::testsupport;

namespace {

using Texts = std::vector<std::string>;

class Module : public BareModule {
  public:
    using BareModule::clearResults;
    // Writes the lists as the bitmap decoders do.
    void appendDirectly(const std::string& code) {
        m_codeArray.push_back(code);
        m_statusArray.emplace_back();
    }
    void truncate(size_t n) {
        m_codeArray.resize(n);
        m_statusArray.resize(n);
    }
};

class CodeListTest : public ::testing::Test {
  protected:
    EngineFakes fakes;
};

}  // namespace

TEST_F(CodeListTest, CodesKeepTheirOrderAndMergeWhereverTheyCameFrom) {
    Module m;
    m.addCode("P0300", "PENDING");
    m.appendDirectly("C0035");
    m.appendDirectly("");
    m.addCode("P0171", "");
    m.addCode("C0035", "STORED");  // written directly, merged here
    m.addCode("", "X");
    m.addCode("P0300", "CONFIRMED/PENDING");
    EXPECT_EQ(m.codeArray(), (Texts{"P0300", "C0035", "", "P0171"}));
    EXPECT_EQ(m.statusArray(), (Texts{"PENDING/CONFIRMED", "STORED", "X", ""}));

    // Emptied, cut short or refilled to the same length directly: the next code is still
    // found where it stands.
    m.truncate(1);
    m.addCode("P0171", "MIL");
    EXPECT_EQ(m.codeArray(), (Texts{"P0300", "P0171"}));
    m.truncate(0);
    m.appendDirectly("U0100");
    m.appendDirectly("U0121");
    m.addCode("U0121", "MIL");
    m.addCode("P0300", "");
    EXPECT_EQ(m.codeArray(), (Texts{"U0100", "U0121", "P0300"}));
    EXPECT_EQ(m.statusArray(), (Texts{"", "MIL", ""}));
    m.clearResults();
    m.addCode("U0121", "PENDING");
    EXPECT_EQ(m.codeArray(), (Texts{"U0121"}));
    EXPECT_EQ(m.statusArray(), (Texts{"PENDING"}));
}

// 1,000 records, each code twice: the list is the first 1,000 in order, each with both
// statuses.
TEST_F(CodeListTest, ALongReplyKeepsOrderAndMergesRepeats) {
    Module m;
    std::vector<std::vector<std::string>> records;
    for (int i = 0; i < 1000; ++i) {
        char a[4], b[4];
        std::snprintf(a, sizeof a, "%02X", 1 + i / 256);
        std::snprintf(b, sizeof b, "%02X", i % 256);
        records.push_back({a, b, "00", "08"});
    }
    for (const auto& r : records) m.addUdsCodeFromBytes(r);
    for (auto r : records) {
        r[3] = "04";
        m.addUdsCodeFromBytes(r);
    }
    ASSERT_EQ(m.codeArray().size(), 1000u);
    EXPECT_EQ(m.codeArray().front(), "P0100-00");
    EXPECT_EQ(m.codeArray()[257], "P0201-00");
    EXPECT_EQ(m.codeArray().back(), "P04E7-00");
    EXPECT_EQ(m.statusArray(), Texts(1000, "CONFIRMED/PENDING"));
}

namespace {

// An argument whose text is counted each time it is made.
struct Counted {
    std::atomic<int>* made;
    std::string description() const {
        ++*made;
        return "counted";
    }
};

class ChoosyLogger : public RecordingLogger {
  public:
    bool wants(QZELogLevel level) const override {
        return level == QZELogLevel::warning || level == QZELogLevel::error;
    }
};

}  // namespace

TEST_F(CodeListTest, LinesNoAdapterWantsAreNotFormatted) {
    auto choosy = std::make_shared<ChoosyLogger>();
    fakes.crew.registerLoggingAdapter(choosy);
    std::atomic<int> made{0};
    auto& log = QZELogging::shared();
    log.logVerbose("v %@", Counted{&made});
    log.logDebug("d %@", Counted{&made});
    log.logInfo("i %@", Counted{&made});
    EXPECT_EQ(made, 0);
    log.logWarning("w %@", Counted{&made});
    log.logError("e %@", Counted{&made});
    EXPECT_EQ(made, 2);
    EXPECT_EQ(choosy->lines(), (Texts{"W:w counted", "E:e counted"}));

    // An adapter that says nothing wants every line.
    fakes.crew.registerLoggingAdapter(fakes.logger);
    log.logVerbose("v %@", Counted{&made});
    EXPECT_EQ(made, 3);
    EXPECT_EQ(fakes.logger->lines(), (Texts{"V:v counted"}));
}
