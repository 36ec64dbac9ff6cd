#include <gtest/gtest.h>

#include "lib/Records/OrderedDictionary.hpp"
#include "lib/Records/QZEModuleData.hpp"
#include "lib/Records/QZEValue.hpp"

using namespace qz;

namespace {

struct Store : QZEObject {
    int n = 7;
};

std::vector<std::string> keys(const OrderedDictionary<int>& d) {
    return d.allKeys();
}

}  // namespace

TEST(OrderedDictionaryTest, KeepsInsertionOrderThroughEveryOperation) {
    OrderedDictionary<int> d(4);
    d.setObject(1, "a");
    d.setObject(2, "b");
    d.setObject(3, "c");
    d.setObject(20, "b");  // existing key keeps its place
    EXPECT_EQ(keys(d), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(*d.objectForKey("b"), 20);

    d.insertObject(30, "c", 0);  // existing key moves
    EXPECT_EQ(keys(d), (std::vector<std::string>{"c", "a", "b"}));
    d.insertObject(4, "d", 99);  // index past the end is clamped
    EXPECT_EQ(keys(d), (std::vector<std::string>{"c", "a", "b", "d"}));
    EXPECT_EQ(d.reverseKeyEnumerator(), (std::vector<std::string>{"d", "b", "a", "c"}));
    EXPECT_EQ(d.keyAtIndex(1), "a");
    EXPECT_EQ(d.keyAtIndex(4), std::nullopt);

    d.removeObjectForKey("a");
    d.removeObjectForKey("zz");
    EXPECT_EQ(keys(d), (std::vector<std::string>{"c", "b", "d"}));
    EXPECT_EQ(d.count(), 3u);
    EXPECT_EQ(d.objectForKey("a"), nullptr);

    OrderedDictionary<int> other;
    other.setObject(100, "b");
    other.setObject(5, "e");
    d.addEntriesFromOrderedDictionary(other);  // never overwrites
    d.addEntriesFromDictionary(std::map<std::string, int>{{"d", 100}, {"f", 6}});
    EXPECT_EQ(keys(d), (std::vector<std::string>{"c", "b", "d", "e", "f"}));
    EXPECT_EQ(*d.objectForKey("b"), 20);
    EXPECT_EQ(*d.objectForKey("d"), 4);

    auto copy = d.copy();  // independent of the original
    copy.removeAllObjects();
    EXPECT_EQ(copy.count(), 0u);
    EXPECT_EQ(d.count(), 5u);

    KeyedArchiver coder;
    d.encode(coder, [](int v) { return nlohmann::ordered_json(v); });
    auto back =
        OrderedDictionary<int>::decode(KeyedUnarchiver::fromData(coder.data()).value(),
                                       [](const nlohmann::ordered_json& j) -> std::optional<int> {
                                           if (!j.is_number_integer()) return std::nullopt;
                                           return j.get<int>();
                                       });
    EXPECT_EQ(back.allKeys(), d.allKeys());
    EXPECT_EQ(*back.objectForKey("e"), 5);
}

TEST(QZEValueTest, IntegerReadingAndFlagRule) {
    struct Case {
        QZEValue value;
        int64_t integer;
        bool flag;
    };
    const Case cases[] = {
        {QZEValue(), 0, false},
        {QZEValue("1"), 1, true},
        {QZEValue("0"), 0, false},
        {QZEValue(int64_t{1}), 1, true},
        {QZEValue(" 12abc"), 12, true},
        {QZEValue("-3"), -3, true},
        {QZEValue("abc"), 0, false},
        {QZEValue(true), 1, true},
        {QZEValue(2.9), 2, true},
        {QZEValue(1e300), INT64_MAX, true},
        {QZEValue("99999999999999999999"), INT64_MAX, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.value.integerValue(), c.integer) << c.value.toJson().dump();
        EXPECT_EQ(c.value.flag(), c.flag) << c.value.toJson().dump();
    }
    auto store = std::make_shared<Store>();
    QZEValue held(store);
    EXPECT_EQ(held.object<Store>()->n, 7);
    EXPECT_EQ(QZEValue("x").object<Store>(), nullptr);
    auto json = nlohmann::json::parse(R"({"a":[1,"b",2.5,true,null],"c":{"d":"e"}})");
    EXPECT_EQ(QZEValue::fromJson(json).toJson().dump(), json.dump());
}

TEST(QZEModuleDataTest, NewRecordCopyKeyAndArchive) {
    QZEModuleData fresh;
    EXPECT_FALSE(fresh.common());
    EXPECT_EQ(fresh.responseState(), 0);
    EXPECT_FALSE(fresh.codeList().has_value());
    EXPECT_FALSE(fresh.extras().has_value());

    auto m = std::make_shared<QZEModuleData>();
    m->setRequestId("7E0");
    m->setResponseId("7E8");
    EXPECT_EQ(m->requestResponseKey(), "7E0:7E8:");
    m->setExtra("CallUp", "01");
    m->setExtra("TP2", "200");
    EXPECT_EQ(m->requestResponseKey(), "7E0:7E8:20001");

    m->setModuleDescription("Engine");
    EXPECT_EQ(m->description(), "Engine");
    m->setCommon(true);
    m->setRequestType(5);
    m->setResponseState(3);
    m->setCodeList(std::vector<std::string>{"P0101"});
    m->setStatusList(std::vector<std::string>{});
    m->setExtra("isExtCAN", "1");
    auto c = m->copy();
    EXPECT_EQ(c->responseState(), 0);
    EXPECT_TRUE(c->common());
    EXPECT_EQ(c->requestType(), 5);
    EXPECT_EQ(c->codeList(), m->codeList());
    EXPECT_TRUE(c->extraFlag("isExtCAN"));
    EXPECT_FALSE(c->extraFlag("isDIAGH"));
    c->setExtra("isDIAGH", 1);  // the copy's extras are its own
    EXPECT_FALSE(m->extraFlag("isDIAGH"));

    KeyedArchiver coder;
    m->encode(coder);
    std::vector<std::string> archived;
    for (auto it = coder.archive().begin(); it != coder.archive().end(); ++it)
        archived.push_back(it.key());
    EXPECT_EQ(archived, (std::vector<std::string>{"accronym", "description", "requestId",
                                                  "responseId", "codeList", "statusList",
                                                  "defnList", "busType", "light", "category"}));
    auto back = QZEModuleData::decode(KeyedUnarchiver::fromData(coder.data()).value());
    EXPECT_EQ(back->description(), "Engine");
    EXPECT_EQ(back->codeList(), m->codeList());
    EXPECT_EQ(back->statusList(), std::vector<std::string>{});  // empty stays empty
    EXPECT_FALSE(back->definitionList().has_value());           // none stays none
    EXPECT_FALSE(back->common());
    EXPECT_EQ(back->responseState(), 0);
}
