// The reading of the sensor's reply to the generic clear, in the forms a sensor may print it:
// "cleared" only for a reply holding the sensor's "OK" or a positive answer, and refusing
// nothing.

#include <gtest/gtest.h>

#include "api/Scan/GenericClearReply.hpp"

using namespace qz;

TEST(GenericClearReply, ClearedOnlyWhenTheReplyAnswersAndNothingRefuses) {
    const QZEDisplayForm headers{true, 3};
    const struct {
        const char* reply;
        bool cleared;
        QZEDisplayForm display = {};  // the form told
    } cases[] = {
        // Answers.
        {"OK\r>", true},
        {"ok\r>", true},
        {"44 \r>", true},
        {"7E8 01 44 \r>", true},
        {"KQCC\rOK\r\r>", true},
        {"SEARCHING...\r44 \r>", true},
        {"7F 04 78\r44 \r>", true},  // pending, then done
        {"BUS INIT: ...OK\r44 \r>", true},
        {"48 6B 10 44 7F \r>", true},  // headers on: a checksum of 7F is no refusal
        {"486B10447F\r>", true},
        // Nothing said: no answer is no confirmation.
        {">", false},
        {"", false},
        {"\r\r>", false},
        {"KQCC\r>", false},
        {"KQ CC\r\r>", false},
        {"SEARCHING...\r>", false},
        // Refusals and error words.
        {"?\r>", false},
        {"NO DATA\r>", false},
        {"CAN ERROR\r>", false},
        {"BUS INIT: ...ERROR\r>", false},
        {"SEARCHING...\rUNABLE TO CONNECT\r>", false},
        {"ERR94\r>", false},
        {"BUSINIT: ...ERROR\r>", false},
        {"OK\rBUFFER FULL\r>", false},
        // Negative responses, in every print form.
        {"7F 04 22 \r>", false},
        {"7f 04 22 \r>", false},
        {"7F0422\r>", false},
        {"7E8 03 7F 04 22 \r>", false},
        {"7E8037F0422\r>", false},
        {"18DAF110 03 7F 04 22 \r>", false},
        {"18 DA F1 10 03 7F 04 22 \r>", false},
        {"48 6B 10 7F 04 22 A3 \r>", false},
        {"7F 04 \r>", false},  // cut short
        {"7E8 02 7F 04 \r>", false},
        {"7F04\r>", false},
        // Several units: one refusal is enough, in either order.
        {"44 \r7F 04 31 \r>", false},
        {"7E9 03 7F 04 31 \r7E8 01 44 \r>", false},
        // Bytes that are no answer to the clear: only 44 where a message begins confirms it.
        {"00 \r>", false},
        {"FF \r>", false},
        {"0\r>", false},
        {"E\r>", false},
        {"54 \r>", false},
        {"C4 \r>", false},
        {"41 0D 00 \r>", false},
        {"43 01 33 00 00 \r>", false},
        {"7E8 03 41 0D 00 \r>", false},
        // Still pending when the reply ended.
        {"7F 04 78\r>", false},
        {"7F0478\r>", false},
        {"44 \r7F 04 78 \r>", false},
        // The sensor's words beside a 44.
        {"44 \rNO DATA\r>", false},
        {"NO DATA\r44 \r>", false},
        // Printed without blanks, read in the form told.
        {"7E80144\r>", true, headers},
        {"7E8037F0422\r>", false, headers},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.reply)));
        EXPECT_EQ(genericClearConfirmed(c.reply, c.display), c.cleared);
    }
}
