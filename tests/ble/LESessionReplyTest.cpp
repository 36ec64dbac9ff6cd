// Replies over the BLE session whatever the module's notifications look like, and only from the
// device the session is connected to.
#include <gtest/gtest.h>

#include "BleTestSupport.hpp"
#include "api/Communication/LESessionController.hpp"
#include "api/Communication/PelkNotifications.hpp"
#include "api/Communication/Relay.hpp"
#include "api/Communication/SensorTextDecoder.hpp"
#include "api/Communication/SessionController.hpp"
#include "api/Gateway/Gateway.hpp"
#include "api/Logging/Log.hpp"
#include "logging/LogFileReader.hpp"
#include "sim/LinkScrambler.hpp"

using namespace qz;
using namespace qz::bletest;
using namespace qz::simtest;
using qz::sim::Fault;
using qz::sim::SimulatedBGX13;

namespace {

// A sensor whose answers to "WHO" and "NAME" are its own.
std::shared_ptr<sim::SensorCore> sensorCalled(const std::string& who) {
    auto core = std::make_shared<sim::SensorCore>();
    core->addHandler([who](const std::string& command) -> std::optional<std::string> {
        if (command == "WHO") return who;
        if (command == "NAME") return std::string("Café ☕ 10 €");
        return std::nullopt;
    });
    return core;
}

class LESessionReplyTest : public SessionWorldTest {
  protected:
    std::shared_ptr<SimulatedBGX13> addSensor(const std::string& who,
                                              SimulatedBGX13::Options o = {}) {
        auto m = SimulatedBGX13::create(sensorCalled(who), std::move(o));
        world->add(m);
        EXPECT_TRUE(eventually([&] { return sensorOf(*m) != nullptr; }));
        return m;
    }
    std::shared_ptr<PelkSensor> sensorOf(const SimulatedBGX13& module) const {
        for (const auto& e : broadcasts.seen())
            if (e.sensor->sensorType().asLe().uuid == module.identifier()) return e.sensor;
        return nullptr;
    }

    std::shared_ptr<Relay> relay = Relay::create(controller);
};

}  // namespace

// Characters cut between notifications of any size reach the relay whole; bytes that are no
// UTF-8 are replaced and the prompt still completes the reply.
TEST_F(LESessionReplyTest, RepliesSurviveAnyNotificationSizes) {
    const std::vector<std::vector<size_t>> patterns = {{4, 20}, {1}, {2, 3}, {5}, {7, 1, 1}};
    for (const auto& sizes : patterns) {
        SCOPED_TRACE(::testing::PrintToString(sizes));
        auto module = addSensor("AA", options([&](auto& o) { o.notifySizes = sizes; }));
        StatusLog status;
        controller->connect(sensorOf(*module), status.listener());
        ASSERT_TRUE(eventually([&] { return status.saw(SensorConnectionStatus::connected); }));
        EXPECT_EQ(relay->sendToSensor("NAME").value(), "Café ☕ 10 €\r>");
        EXPECT_EQ(relay->sendToSensor("KQI").value(), "OSAPI 4.05\r>");
        module->core().addFault(Fault::reply("\xff\xe2\x82 OK\r>"));
        EXPECT_EQ(relay->sendToSensor("KQI").value(), "\xEF\xBF\xBD\xEF\xBF\xBD OK\r>");
        controller->disconnect(true);
        ASSERT_TRUE(eventually([&] { return status.saw(SensorConnectionStatus::disconnected); }));
        world->remove(module);
    }
    EXPECT_NE(qz::testing::libraryLogText().find("Could not read from stream"), std::string::npos);
}

// After a connect to another sensor, what the first one still sends is not taken as a reply.
TEST_F(LESessionReplyTest, OnlyTheCurrentDeviceAnswers) {
    auto first = addSensor("AA");
    auto second = addSensor("BB");
    auto chunks = std::make_shared<Chunks>();
    StatusLog status;
    controller->connect(sensorOf(*first), status.listener());
    ASSERT_TRUE(eventually([&] { return status.saw(SensorConnectionStatus::connected); }));
    const auto firstDevice = session()->controller()->device();
    controller->setReceiver(chunks);
    // The first sensor answers late, after the session has moved to the second.
    first->core().addFault(Fault::delay(1.0));
    controller->send("WHO\r");
    StatusLog other;
    controller->connect(sensorOf(*second), other.listener());
    ASSERT_TRUE(eventually([&] { return other.saw(SensorConnectionStatus::connected); }));
    ASSERT_TRUE(eventually([&] { return !first->notifications(BGXUUID::peripheralTX).empty(); }));
    drainMain();
    EXPECT_TRUE(chunks->chunks().empty());
    // Nor is a chunk of the first device that still reaches the bridge.
    DispatchQueue::main()->sync(
        [&] { session()->controller()->dataRead(sim::scramble("AA\r>"), firstDevice); });
    EXPECT_TRUE(chunks->chunks().empty());
    controller->setReceiver(relay);
    EXPECT_EQ(relay->sendToSensor("WHO").value(), "BB\r>");
    EXPECT_EQ(second->core().commands(), std::vector<std::string>{"WHO"});
}

// A subscription the module refuses fails the connect with the open error; no link was opened,
// so none is reported closed. The next connect works.
TEST_F(LESessionReplyTest, ARefusedSubscriptionFailsTheConnect) {
    auto refusing =
        addSensor("AA", options([](auto& o) { o.refusedSubscriptions = {BGXUUID::peripheralTX}; }));
    StatusLog status;
    controller->connect(sensorOf(*refusing), status.listener());
    ASSERT_TRUE(eventually([&] { return !status.seen().empty(); }));
    Gateway::gatewayQueue()->sync([] {});
    EXPECT_EQ(status.seen(), std::vector{SensorConnectionStatus::errorOpeningConnection});
    EXPECT_EQ(posted.load(), 0);

    auto good = addSensor("BB");
    StatusLog again;
    controller->connect(sensorOf(*good), again.listener());
    ASSERT_TRUE(eventually([&] { return again.saw(SensorConnectionStatus::connected); }));
    EXPECT_EQ(relay->sendToSensor("WHO").value(), "BB\r>");
}

// The decoding both sessions share, chunk by chunk.
TEST(SensorTextDecoder, KeepsCutCharactersAndReplacesGarbage) {
    struct Row {
        std::vector<std::string> chunks;  // as the sensor sent them, before scrambling
        std::vector<std::string> texts;   // what goes on, one per chunk
        bool invalid;
    };
    const std::string replacement = "\xEF\xBF\xBD";
    const Row rows[] = {
        {{"Caf\xC3", "\xA9\r>"}, {"Caf", "é\r>"}, false},
        {{"\xE2", "\x98", "\x95>"}, {"", "", "☕>"}, false},
        {{"\xF0\x9F\x98", "\x80 ok"}, {"", "😀 ok"}, false},
        {{"a\xFF", "b>"}, {"a" + replacement, "b>"}, true},
        {{"\xE2\x98", "x>"}, {"", replacement + "x>"}, true},
        // A chunk with the prompt keeps nothing back: the reply ends there.
        {{"OK>\xC3", "\xA9"}, {"OK>" + replacement, replacement}, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.texts.back());
        SensorTextDecoder decoder;
        bool invalid = false;
        for (size_t i = 0; i < row.chunks.size(); ++i) {
            auto decoded = decoder.decode(sim::scramble(row.chunks[i]));
            EXPECT_EQ(decoded.text, row.texts[i]) << "chunk " << i;
            invalid = invalid || decoded.invalid;
        }
        EXPECT_EQ(invalid, row.invalid);
    }
    // Raw input is not descrambled, and a new link forgets what was kept.
    SensorTextDecoder decoder;
    EXPECT_EQ(decoder.decode(Data{'C', 'K'}, false).text, "CK");
    EXPECT_EQ(decoder.decode(sim::scramble("x\xC3")).text, "x");
    decoder.reset();
    EXPECT_EQ(decoder.decode(sim::scramble("\xA9>")).text, replacement + ">");
}
