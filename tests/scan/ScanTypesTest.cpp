// The scan interface types and the scan controller's making of public modules from engine
// records (without a sensor: the records are handed to the controller as the engine would).

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "api/Data/PelkData.hpp"
#include "api/Scan/InstanceStorage.hpp"
#include "api/Scan/ScanController.hpp"
#include "lib/Descriptions/QZETroubleCodes.hpp"
#include "platform/FileSystem.hpp"
#include "platform/NotificationCenter.hpp"

using namespace qz;

namespace {

using Texts = std::vector<std::string>;

TEST(ScanTypesTest, ScanTypesHaveTheirRawValuesAndCaseNames) {
    struct Row {
        PelkScanType type;
        const char* raw;
        const char* caseName;
        int64_t engineType;
    };
    for (const Row& r :
         {Row{PelkScanType::cel, "cel", "cel", 0}, Row{PelkScanType::cdl, "com", "cdl", 2},
          Row{PelkScanType::all, "all", "all", 1}}) {
        EXPECT_EQ(rawValue(r.type), r.raw);
        EXPECT_EQ(describe(r.type), r.caseName);
        EXPECT_EQ(pelkScanType(r.raw), r.type);
        EXPECT_EQ(ScanController::engineScanType(r.type), r.engineType);
    }
    for (const char* other : {"cdl", "ALL", "Cel", "", "all "})
        EXPECT_FALSE(pelkScanType(other)) << other;
}

TEST(ScanTypesTest, CategoriesInOrderWithRawValues) {
    const Texts lights = {"4X4",
                          "ABS",
                          "ADAPTIVE CRUISE",
                          "AIRBAG",
                          "BLIND SPOT MONITOR",
                          "COLLISION AVOIDANCE",
                          "ELECTRICAL",
                          "LANE KEEP ASSIST",
                          "MAINTENANCE",
                          "POWER STEERING",
                          "REAR PARKING AID",
                          "SECURITY THEFT SYSTEM",
                          "SUSPENSION",
                          "TIRE PRESSURE",
                          "TRACTION CONTROL",
                          "TRANSMISSION",
                          "ENGINE",
                          "UNKNOWN"};
    for (size_t i = 0; i < lights.size(); ++i) {
        auto c = static_cast<PelkLightCategory>(i);
        EXPECT_EQ(rawValue(c), lights[i]);
        EXPECT_EQ(pelkLightCategory(lights[i]), c);
    }
    const Texts categories = {"4WD/AWD",
                              "ABS AND BRAKES",
                              "AIRBAGS AND RESTRAINTS",
                              "BATTERY AND POWER",
                              "DOORS AND WINDOWS",
                              "DRIVE INFORMATION AND CONTROL",
                              "DRIVER ASSIST AND ACTIVE SAFETY",
                              "ENGINE",
                              "ENTERTAINMENT AND NAVIGATION",
                              "HEAT AND AIR CONDITIONING",
                              "HYBRID AND EV",
                              "LIGHTS",
                              "NETWORK",
                              "PREMIUM VEHICLE OPTIONS",
                              "SEATS AND MIRRORS",
                              "SECURITY AND KEYLESS ENTRY",
                              "TIRE PRESSURE",
                              "TRAILER AND AUXILIARY EQUIPMENT",
                              "TRANSMISSION AND DRIVETRAIN",
                              "VEHICLE CONTROL AND SUSPENSION",
                              "UNKNOWN"};
    for (size_t i = 0; i < categories.size(); ++i) {
        auto c = static_cast<PelkModuleCategory>(i);
        EXPECT_EQ(rawValue(c), categories[i]);
        EXPECT_EQ(pelkModuleCategory(categories[i]), c);
    }
    EXPECT_EQ(describe(PelkLightCategory::fourX4), "fourX4");
    EXPECT_EQ(describe(PelkModuleCategory::fourWDAWD), "fourWDAWD");
    EXPECT_FALSE(pelkLightCategory("airbag")) << "the raw value matches exactly";
}

TEST(ScanTypesTest, ErrorAndResultTexts) {
    EXPECT_EQ(describe(PelkScanError::communicaton({})), "communicaton");
    EXPECT_EQ(describe(PelkScanError::general(460, "Gateway has been deallocated")), "general");
    EXPECT_EQ(describe(PelkClearResult::complete(true)), "complete(result: true)");
    EXPECT_EQ(describe(PelkClearResult::error(PelkClearError::notScanned())), "error(notScanned)");
}

// A controller without a scanner: it builds modules, but reports no progress.
class ModuleMaking : public ::testing::Test {
  protected:
    void SetUp() override { PelkData::shared()->setVehicleParentMan(std::nullopt); }
    void TearDown() override {
        PelkData::shared()->setVehicleParentMan(std::nullopt);
        InstanceStorage::setScanModuleMap({});
    }

    static QZEModuleDataPtr record(const std::string& acronym, Texts codes,
                                   std::optional<Texts> statuses = std::nullopt,
                                   std::optional<Texts> definitions = std::nullopt,
                                   int64_t state = ResponseStateHasData) {
        auto r = std::make_shared<QZEModuleData>();
        r->setAccronym(acronym);
        r->setDescription(acronym + " module");
        r->setCodeList(std::move(codes));
        r->setStatusList(std::move(statuses));
        r->setDefinitionList(std::move(definitions));
        r->setResponseState(state);
        return r;
    }
    std::shared_ptr<PelkModule> made(const QZEModuleDataPtr& r) {
        const size_t before = controller->scannedModules().size();
        controller->scannedModule(r);
        auto modules = controller->scannedModules();
        return modules.size() > before ? modules.back() : nullptr;
    }
    static Texts descriptions(const PelkModule& m) {
        Texts out;
        for (const auto& c : m.results()) out.push_back(c->codeDescription());
        return out;
    }
    static Texts statuses(const PelkModule& m) {
        Texts out;
        for (const auto& c : m.results()) out.push_back(c->status());
        return out;
    }

    ScopedHome home;
    std::vector<PelkScanProgress> heard;
    std::shared_ptr<ScanController> controller = ScanController::create(
        "1HGCM82633A004352", PelkScanType::all, [this](PelkScanProgress p) { heard.push_back(p); });
};

TEST_F(ModuleMaking, LightAndCategoryTextsMapCaseInsensitively) {
    struct Row {
        const char* light;
        const char* category;
        PelkLightCategory expectedLight;
        PelkModuleCategory expectedCategory;
    };
    for (const Row& r : {Row{"airbag", "abs and brakes", PelkLightCategory::airbag,
                             PelkModuleCategory::absAndBrakes},
                         Row{"Tire Pressure", "4wd/awd", PelkLightCategory::tirePressure,
                             PelkModuleCategory::fourWDAWD},
                         Row{" AIRBAG", "ABS  AND BRAKES", PelkLightCategory::unknown,
                             PelkModuleCategory::unknown},
                         Row{"", "", PelkLightCategory::unknown, PelkModuleCategory::unknown}}) {
        auto r2 = record("ABS", {});
        r2->setLight(std::string(r.light));
        r2->setCategory(std::string(r.category));
        auto m = made(r2);
        ASSERT_TRUE(m);
        EXPECT_EQ(m->light(), r.light);
        EXPECT_EQ(m->lightCategory(), r.expectedLight) << r.light;
        EXPECT_EQ(m->category(), r.expectedCategory) << r.category;
    }
    auto bare = made(record("ABS", {}));
    EXPECT_EQ(bare->lightCategory(), PelkLightCategory::unknown) << "no light text";
}

TEST_F(ModuleMaking, DescriptionsStatusesAndTheirPlaceholders) {
    auto m = made(record("ECM", {"P0420", "P0100", "P0171", "P0300"},
                         Texts{"CONFIRMED", "PENDING", "", "MIL/CONFIRMED"},
                         Texts{"No Description Available", "CHECK REPORT FOR DESCRIPTION", "",
                               "Engine misfires, as the module says"}));
    ASSERT_TRUE(m);
    EXPECT_EQ(descriptions(*m), (Texts{"Catalyst system efficiency below threshold, bank 1",
                                       "Mass or volume air flow sensor A circuit",
                                       QZETroubleCodes::TheCodes().troubleCodeDef("P0171", 0),
                                       "Engine misfires, as the module says"}));
    EXPECT_EQ(statuses(*m), (Texts{"CONFIRMED", "PENDING", "", "MIL/CONFIRMED"}));
    EXPECT_EQ(m->results()[0]->description(),
              "<[P0420:CONFIRMED]:  Catalyst system efficiency below threshold, bank 1>");

    // Lists of another length than the codes leave every code without.
    auto uneven = made(record("TCM", {"P0700", "P0715"}, Texts{"CONFIRMED"}, Texts{"one"}));
    EXPECT_EQ(descriptions(*uneven), (Texts{"", ""}));
    EXPECT_EQ(statuses(*uneven), (Texts{"", ""}));
    EXPECT_EQ(uneven->results()[1]->description(), "<[P0715:]:  >");
    auto none = made(record("BCM", {"B1000"}));
    EXPECT_EQ(descriptions(*none), Texts{""});
}

TEST_F(ModuleMaking, NissanCodesAreShownWithoutTheirDetailButDescribedWithIt) {
    // Nissan's parent maker is stored as "Renault".
    PelkData::shared()->setVehicleParentMan(std::string("Renault"));
    auto m = made(
        record("ECM", {"P0100-N12", "P0420"}, Texts{"STORED", "STORED"}, Texts{"", "Catalyst"}));
    ASSERT_TRUE(m);
    EXPECT_EQ(m->results()[0]->code(), "P0100");
    EXPECT_NE(m->results()[0]->codeDescription().find("Short to battery"), std::string::npos)
        << m->results()[0]->codeDescription();
    EXPECT_EQ(m->results()[1]->code(), "P0420");

    PelkData::shared()->setVehicleParentMan(std::string("Honda"));
    EXPECT_EQ(made(record("ECM", {"P0100-N12"}))->results()[0]->code(), "P0100-N12");
}

TEST_F(ModuleMaking, ModulesThatDidNotAnswerAreCountedButNotReported) {
    auto silent = record("SRS", {}, std::nullopt, std::nullopt, ResponseStateNoData);
    auto unnamed = record("BCM", {"B1000"});
    unnamed->setDescription(std::nullopt);
    auto noCodes = record("ABS", {});
    noCodes->setCodeList(std::nullopt);
    EXPECT_FALSE(made(silent));
    EXPECT_FALSE(made(unnamed));
    EXPECT_FALSE(made(noCodes));
    EXPECT_FALSE(made(nullptr));

    // Negative answers alone are no read; codes beside them came from an answer.
    auto refused = record("EGS", {}, std::nullopt, std::nullopt, ResponseStateHasNakData);
    EXPECT_FALSE(made(refused)) << "negative answers alone are not a module without codes";
    auto refusedWithCodes =
        record("TCM", {"P0700"}, Texts{"STORED"}, std::nullopt, ResponseStateHasNakData);
    auto withCodes = made(refusedWithCodes);
    ASSERT_TRUE(withCodes);
    EXPECT_EQ(withCodes->results().size(), 1u);

    auto answered = record("EGS", {}, std::nullopt, std::nullopt, ResponseStateHasData);
    auto m = made(answered);
    ASSERT_TRUE(m) << "an answer without codes";
    EXPECT_EQ(m->description(),
              "\U0001F697 PelkModule: EGS module, acronym: EGS, dtcs: [], light: unknown, "
              "category : unknown");
    EXPECT_EQ(controller->scannedModuleCount(), 7);
    EXPECT_TRUE(heard.empty()) << "no progress without a scanner";

    // The module finds its record again by identity; the record reads as reported.
    EXPECT_EQ(InstanceStorage::record(m), answered);
    EXPECT_EQ(answered->responseState(), ResponseStateNoData);
    EXPECT_EQ(InstanceStorage::record(nullptr), nullptr);
}

TEST_F(ModuleMaking, PromptsReachTheListenerUntilTheScanEnds) {
    auto& center = NotificationCenter::defaultCenter();
    center.post("PelkInteractionRequired", nullptr, {{"msg", std::string("Turn the key off")}});
    center.post("PelkInteractionRequired", nullptr, {});
    ASSERT_EQ(heard.size(), 2u);
    ASSERT_EQ(heard[0].kind(), PelkScanProgress::Kind::interactionRequired);
    EXPECT_EQ(heard[0].interaction()->kind(), InteractionType::Kind::custom);
    EXPECT_EQ(heard[0].interaction()->msg(), "Turn the key off");
    ASSERT_TRUE(heard[1].interaction());
    EXPECT_EQ(heard[1].interaction()->msg(), "") << "answerable without a message";
    heard[0].interaction()->listener()();  // no scanner: nothing to let go on

    controller->stopObserving();
    center.post("PelkInteractionRequired", nullptr, {{"msg", std::string("late")}});
    EXPECT_EQ(heard.size(), 2u);
}

}  // namespace
