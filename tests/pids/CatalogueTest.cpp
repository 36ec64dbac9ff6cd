#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <thread>
#include <typeindex>
#include <typeinfo>

#include "api/PIDs/Mode1/Mode1PIDs.hpp"
#include "api/PIDs/PIDInterface.hpp"

namespace qz {
namespace {

struct Sample {
    uint64_t pid;
    size_t position;
    int set;
    const char* className;
    const char* shortName;
    const char* fullName;
    const char* text;
    const char* altText;
    const char* description;
    bool hasNumber;
    double number;
};

const Sample kSamples[] = {
#include "CatalogueSamples.inc"
};

struct FixedRow {
    uint64_t pid;
    size_t position;
    const char* className;
    int64_t responseBytes;
    int64_t supportBit;
    int64_t lower, upper;
    bool numeric;
    double minValue, maxValue;
    const char* unit;
    const char* altUnit;
};

const FixedRow kFixedRows[] = {
#include "CatalogueRows.inc"
};

// The answer of sample set `set` for a PID: the same formulas the expectations were worked from.
std::vector<std::string> sampleAnswer(int set, uint64_t key, int64_t count) {
    std::vector<std::string> out;
    for (int64_t i = 0; i < count; ++i) {
        unsigned b = set == 0   ? (key * 29 + i * 53 + 7) & 0xFF
                     : set == 1 ? (key * 71 + i * 13 + 200) & 0xFF
                     : set == 2 ? 0xFF
                                : 0x00;
        char buf[4];
        std::snprintf(buf, sizeof buf, "%02X", b);
        out.push_back(buf);
    }
    return out;
}

std::string className(const PIDInfo& p) {
    static const auto names = [] {
        std::map<std::type_index, std::string> m;
        for (const auto& info : mode1Classes()) {
            auto probe = info.make(Mode::LiveData);
            m[typeid(*probe)] = std::string(info.name);
        }
        return m;
    }();
    auto it = names.find(typeid(p));
    return it == names.end() ? "?" : it->second;
}

// The catalogue object at `key`, list position `i`, with an answer and marked supported.
std::shared_ptr<PIDInfo> answered(const PIDInterface::PIDMap& map, uint64_t key, size_t i,
                                  std::vector<std::string> data) {
    auto p = map.at(key).at(i);
    p->setData(std::move(data));
    p->setSupportStatus(SupportStatus::supported);
    return p;
}

double number(const std::shared_ptr<PIDInfo>& p) {
    auto v = std::dynamic_pointer_cast<NumericPID>(p)->value();
    return v ? v->value : std::nan("");
}

TEST(CatalogueEntries01To5FTest, WorkedValues) {
    auto map = PIDInterface().pidMap();
    EXPECT_EQ(number(answered(*map, 0x01, 1, {"83", "00", "00", "00"})), 3.0);
    EXPECT_EQ(answered(*map, 0x01, 0, {"83", "00", "00", "00"})->valueAsText(), "ON");
    EXPECT_EQ(answered(*map, 0x0C, 0, {"1A", "F8"})->valueAsText(), "1726.0 RPM");
    EXPECT_EQ(answered(*map, 0x06, 1, {"80", "00"})->valueAsText(), "0.0 %");
    EXPECT_EQ(answered(*map, 0x06, 0, {"80", "C0"})->valueAsText(), "50.0 %");
    EXPECT_EQ(answered(*map, 0x32, 0, {"FF", "FC"})->valueAsText(), "-1.0 PA");
    EXPECT_EQ(answered(*map, 0x05, 0, {"7B"})->valueAsText(), "83.0 °C");
    EXPECT_EQ(answered(*map, 0x0D, 0, {"64"})->valueAsText(true), "62.13716893342878 mph");
    EXPECT_EQ(answered(*map, 0x10, 0, {"27", "10"})->valueAsText(), "100.0 g/s");
    EXPECT_EQ(answered(*map, 0x1C, 0, {"06"})->valueAsText(), "EOBD");
    EXPECT_EQ(answered(*map, 0x51, 0, {"19"})->valueAsText(), "Bi-Fuel Vehicle Using Diesel");
    EXPECT_EQ(answered(*map, 0x5F, 0, {"0E"})->valueAsText(), "Heavy Duty Vehicles (EURO IV) B1");
    EXPECT_EQ(answered(*map, 0x12, 0, {"04"})->valueAsText(), "Atmosphere / Off");
    EXPECT_EQ(answered(*map, 0x1E, 0, {"01"})->valueAsText(), "ON");
    EXPECT_EQ(answered(*map, 0x2F, 0, {"FF"})->valueAsText(), "100.0 ");
    EXPECT_EQ(answered(*map, 0x50, 0, {"0A", "00", "00", "00"})->valueAsText(), "100.0 g/s");
    EXPECT_EQ(answered(*map, 0x5E, 0, {"00", "C8"})->valueAsText(true), "2.642007926023778 gal/h");
}

TEST(CatalogueEntries61ToA6Test, WorkedValues) {
    auto map = PIDInterface().pidMap();
    std::vector<std::string> tq = {"00", "01", "7D", "FE", "FF"};
    EXPECT_EQ(answered(*map, 0x64, 4, tq)->valueAsText(), "-125.0 %");  // TQ_MAX1, byte 0
    EXPECT_EQ(answered(*map, 0x64, 1, tq)->valueAsText(), "130.0 %");   // TQ_MAX5, byte 4
    EXPECT_EQ(answered(*map, 0x64, 2, tq)->valueAsText(), "0.0 %");     // TQ_MAX3, byte 2
    EXPECT_EQ(map->at(0x64)[0]->supportBit(), std::nullopt);
    std::vector<std::string> run(13, "00");
    run[3] = "0E";
    run[4] = "10";
    EXPECT_EQ(answered(*map, 0x7F, 0, run)->valueAsText(), "3600.0 s");
    EXPECT_EQ(answered(*map, 0x8F, 5, {"00", "00", "00", "00", "00", "FF", "9C"})->valueAsText(),
              "-1.0 %");
    EXPECT_EQ(answered(*map, 0x68, 0, {"01", "00", "00", "00", "00", "00", "00"})->valueAsText(),
              "-40.0 °C");
    EXPECT_EQ(answered(*map, 0xA6, 0, {"00", "01", "86", "A0"})->valueAsText(), "10000.0 km");
    EXPECT_EQ(answered(*map, 0x74, 0, {"03", "0B", "B8", "00", "00"})->valueAsText(),
              "30000.0 RPM");
    std::vector<std::string> ind(12, "00");
    ind[1] = "46";  // L1 bits 1-2 = 3, L2 bits 3-4 = 0, L3 bits 5-6 = 2
    EXPECT_EQ(answered(*map, 0x94, 1, ind)->valueAsText(), "Not supported");
    EXPECT_EQ(answered(*map, 0x94, 2, ind)->valueAsText(), "Inducement inactive");
    EXPECT_EQ(answered(*map, 0x94, 3, ind)->valueAsText(), "Inducement Active");
    EXPECT_EQ(answered(*map, 0x70, 0, std::vector<std::string>(10, "03"))->valueAsText(),
              "Fault Present Boost Data Unreliable");
    EXPECT_EQ(answered(*map, 0x90, 1, {"3C", "00", "00"})->valueAsText(),
              "Not available / Not required of this vehicle");
    EXPECT_EQ(answered(*map, 0x63, 0, {"01", "00"})->valueAsText(true), "188.8156244929268 lb-ft");
}

TEST(CatalogueStructureTest, KeysAndObjectCounts) {
    PIDInterface pi;
    auto map = pi.pidMap();
    EXPECT_EQ(map->size(), 143u);
    EXPECT_EQ(pi.getPids().size(), 348u);
    EXPECT_EQ(mode1Classes().size(), 434u);
    for (uint64_t absent : {0x00, 0x02, 0x20, 0x35, 0x40, 0x41, 0x4F, 0x60, 0x77, 0x80, 0x95, 0x96,
                            0x97, 0x9A, 0x9B, 0x9D, 0xA0, 0xA5, 0xA7})
        EXPECT_EQ(map->count(absent), 0u) << absent;
    for (const auto& [key, list] : *map) {
        ASSERT_FALSE(list.empty());
        EXPECT_LE(list.size(), 10u);
        for (const auto& p : list) {
            EXPECT_EQ(p->pid(), key);
            EXPECT_EQ(p->mode(), Mode::LiveData);
            EXPECT_EQ(p->responseBytes(), list.front()->responseBytes());
            EXPECT_EQ(p->supportStatus(), SupportStatus::unknown);
            EXPECT_TRUE(p->data().empty());
        }
    }
}

TEST(CatalogueStructureTest, KindsAndCategories) {
    std::map<PIDCategory, int> byCategory;
    int numericWithValue = 0, enumeratedWithDefault = 0;
    for (const auto& p : PIDInterface().getPids()) {
        byCategory[p->category()]++;
        if (auto* n = dynamic_cast<NumericPID*>(p.get()))
            numericWithValue += n->value().has_value();
        if (auto* s = dynamic_cast<PID<SCRInducementState>*>(p.get()))
            enumeratedWithDefault += s->valueInternal() == SCRInducementState::inactive;
    }
    EXPECT_EQ(byCategory[PIDCategory::numeric], 301);
    EXPECT_EQ(byCategory[PIDCategory::boolean], 12);
    EXPECT_EQ(byCategory[PIDCategory::other], 2);
    EXPECT_EQ(byCategory[PIDCategory::string], 33);
    EXPECT_EQ(numericWithValue, 0);
    EXPECT_EQ(enumeratedWithDefault, 5);
}

TEST(CatalogueStructureTest, EveryClassMakesOneObjectAndTheTableOrderIsTheListOrder) {
    std::set<std::string> seen;
    std::vector<std::string> order;
    for (const auto& info : mode1Classes()) {
        if (!info.row->inCatalogue) continue;
        EXPECT_TRUE(seen.insert(std::string(info.name)).second) << info.name;
        order.push_back(std::string(info.name));
    }
    EXPECT_EQ(order.size(), 348u);
    // getPids() walks the keys in ascending order, each list in list order.
    auto all = PIDInterface().getPids();
    ASSERT_EQ(all.size(), order.size());
    for (size_t i = 0; i < all.size(); i += 17) EXPECT_EQ(className(*all[i]), order[i]) << i;
}

TEST(CatalogueStructureTest, ListOrdersAndSharedShortNames) {
    PIDInterface pi;
    auto map = pi.pidMap();
    auto names = [&](uint64_t key) {
        std::vector<std::string> out;
        for (const auto& p : map->at(key)) out.push_back(p->shortName());
        return out;
    };
    EXPECT_EQ(names(0x65), (std::vector<std::string>{"PTO_STAT", "GEAR_RCMD", "N/G_STAT",
                                                     "N/G_STAT", "GPL_STAT"}));
    EXPECT_EQ(names(0x64),
              (std::vector<std::string>{"TQ_MAX4", "TQ_MAX5", "TQ_MAX3", "TQ_MAX2", "TQ_MAX1"}));
    EXPECT_EQ(map->at(0x81).size(), 10u);
    EXPECT_EQ(map->at(0x81).front()->responseBytes(), 41);
    EXPECT_EQ(names(0x50), std::vector<std::string>{""});
    EXPECT_EQ(names(0x13), names(0x1D));
    EXPECT_EQ(names(0x0A), names(0x22));
    EXPECT_EQ(names(0x38)[1], "OS2B2S1");
    EXPECT_EQ(map->at(0x88)[0]->shortName(), "SRC_INDUCE_SYSTEM");
    EXPECT_EQ(map->at(0x0C)[0]->fullName(), "Engine RPM");
}

TEST(CatalogueStructureTest, LimitsFilledInByTheNumericKind) {
    auto map = PIDInterface().pidMap();
    auto numeric = [&](uint64_t key, size_t i) {
        return std::dynamic_pointer_cast<NumericPID>(map->at(key)[i]);
    };
    EXPECT_EQ(numeric(0x0F, 0)->minValue(), -40.0);
    EXPECT_EQ(numeric(0x0F, 0)->maxValue(), 215.0);
    EXPECT_EQ(numeric(0x05, 0)->maxValue(), 215.0);
    EXPECT_EQ(numeric(0x0C, 0)->maxValue(), 16383.0);
    EXPECT_EQ(numeric(0x01, 1)->maxValue(), 48.0);
    EXPECT_EQ(numeric(0x43, 0)->maxValue(), 100.0);
    EXPECT_EQ(numeric(0x68, 0)->maxValue(), 215.0);
    EXPECT_EQ(numeric(0xA6, 0)->maxValue(), 429496729.5);
    EXPECT_EQ(numeric(0x81, 1)->maxValue(), 4294967295.0);
    EXPECT_EQ(numeric(0x04, 0)->scalar(), 0.39215686274509803);
    EXPECT_EQ(numeric(0x24, 0)->scalar(), 3.05e-05);
    EXPECT_EQ(numeric(0x8C, 0)->scalar(), 0.001526);
}

TEST(CatalogueStructureTest, BasesOfTheSpecialClasses) {
    auto map = PIDInterface().pidMap();
    EXPECT_TRUE(std::dynamic_pointer_cast<PIDScaledByPID4FD>(map->at(0x0B)[0]));
    EXPECT_TRUE(std::dynamic_pointer_cast<PIDScaledByPID50A>(map->at(0x10)[0]));
    EXPECT_TRUE(std::dynamic_pointer_cast<PIDScaledByPID4FA>(map->at(0x44)[0]));
    EXPECT_TRUE(std::dynamic_pointer_cast<PIDScaledByPID4FC>(map->at(0x3B)[1]));
    EXPECT_TRUE(std::dynamic_pointer_cast<PID016BBase>(map->at(0x6B)[3]));
    EXPECT_TRUE(std::dynamic_pointer_cast<PID016FBase>(map->at(0x6F)[1]));
    EXPECT_TRUE(std::dynamic_pointer_cast<SignedNumericPID>(map->at(0x8F)[2]));
    EXPECT_TRUE(std::dynamic_pointer_cast<NumericPIDValueUnavailableIfMaxxed>(map->at(0x8A)[9]));
    EXPECT_TRUE(std::dynamic_pointer_cast<NoXConcentrationPIDBase>(map->at(0x83)[3]));
    EXPECT_TRUE(std::dynamic_pointer_cast<PartialByteNumericPID>(map->at(0x01)[1]));
    int adaptive = 0;
    for (const auto& p : PIDInterface().getPids())
        adaptive += dynamic_cast<PIDDeterminedByPID13*>(p.get()) != nullptr;
    EXPECT_EQ(adaptive, 50);  // 52 classes, of which PID 35's two are not listed
}

TEST(CatalogueStructureTest, BuiltOnceAndSharedAcrossThreads) {
    PIDInterface pi;
    std::vector<std::shared_ptr<const PIDInterface::PIDMap>> maps(8);
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) threads.emplace_back([&, i] { maps[i] = pi.pidMap(); });
    for (auto& t : threads) t.join();
    for (auto& m : maps) EXPECT_EQ(m, maps[0]);
    auto first = pi.getPids();
    first[0]->setSupportStatus(SupportStatus::supported);
    EXPECT_EQ(pi.supportedPIDs().size(), 1u);
    EXPECT_EQ(pi.supportedPIDs()[0], first[0]);
    EXPECT_EQ(pi.relay(), nullptr);
    EXPECT_EQ(pi.vehicle(), nullptr);
}

TEST(CatalogueDecodeTest, FixedDataOfEveryObject) {
    auto map = PIDInterface().pidMap();
    ASSERT_EQ(std::size(kFixedRows), 348u);
    for (const auto& r : kFixedRows) {
        SCOPED_TRACE(r.className);
        const auto& p = map->at(r.pid).at(r.position);
        EXPECT_EQ(className(*p), r.className);
        EXPECT_EQ(p->responseBytes(), r.responseBytes);
        EXPECT_EQ(p->supportBit(), r.supportBit < 0 ? std::nullopt : std::optional(r.supportBit));
        auto* n = dynamic_cast<NumericPID*>(p.get());
        ASSERT_EQ(n != nullptr, r.numeric);
        if (!n) continue;
        EXPECT_EQ(n->bytesToRead(), (ClosedRange{r.lower, r.upper}));
        EXPECT_EQ(n->minValue(), r.minValue);
        EXPECT_EQ(n->maxValue(), r.maxValue);
        EXPECT_EQ(n->units() ? n->units()->symbol() : "", r.unit);
        EXPECT_EQ(n->altUnit() ? n->altUnit()->symbol() : "", r.altUnit);
    }
}

TEST(CatalogueDecodeTest, EverySampleOfEveryObject) {
    PIDInterface pi;
    auto map = pi.pidMap();
    size_t checked = 0;
    for (const auto& s : kSamples) {
        ASSERT_EQ(map->count(s.pid), 1u) << s.className;
        const auto& list = map->at(s.pid);
        ASSERT_LT(s.position, list.size()) << s.className;
        const auto& p = list[s.position];
        SCOPED_TRACE(std::string(s.className) + " sample " + std::to_string(s.set));
        EXPECT_EQ(className(*p), s.className);
        EXPECT_EQ(p->shortName(), s.shortName);
        EXPECT_EQ(p->fullName(), s.fullName);
        p->setData(sampleAnswer(s.set, s.pid, p->responseBytes()));
        p->setSupportStatus(SupportStatus::supported);
        EXPECT_EQ(p->valueAsText(false), s.text);
        EXPECT_EQ(p->valueAsText(true), s.altText);
        EXPECT_EQ(p->description(), s.description);
        if (auto* n = dynamic_cast<NumericPID*>(p.get())) {
            auto v = n->value();
            ASSERT_EQ(v.has_value(), s.hasNumber);
            if (v) {
                EXPECT_EQ(v->value, s.number);
                EXPECT_EQ(p->valueAsText(false),
                          shortestNumberText(v->value) + " " + v->unit->symbol());
            }
        }
        ++checked;
    }
    EXPECT_EQ(checked, 348u * 4);
}

}  // namespace
}  // namespace qz
