// Every shipped definition file decrypts, parses and holds what its readers need.

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <set>

#include <nlohmann/json.hpp>

#include "engine/definitions/DefinitionsTestSupport.hpp"
#include "lib/Content/DefinitionFile.hpp"
#include "lib/Definitions/DefinitionXML.hpp"
#include "lib/Descriptions/CustomTroubleCodeParser.hpp"
#include "lib/Utils/QZEnhancedUtils.hpp"

namespace qz {
namespace {

namespace fs = std::filesystem;
using namespace definitionstest;

// The library's resource folder ($QZ_RESOURCE_DIR, else the build's).
const fs::path& shippedFolder() {
    static const fs::path folder = Bundle::library().bundlePath();
    return folder;
}

// Raw values of the public light and module-category enums.
std::set<std::string> rawValues(std::string_view list) {
    std::set<std::string> out;
    for (auto item : definitionxml::splitList(list)) out.emplace(item);
    return out;
}
const std::set<std::string> kLights = rawValues(
    "4X4,ABS,ADAPTIVE CRUISE,AIRBAG,BLIND SPOT MONITOR,COLLISION AVOIDANCE,ELECTRICAL,"
    "LANE KEEP ASSIST,MAINTENANCE,POWER STEERING,REAR PARKING AID,SECURITY THEFT SYSTEM,"
    "SUSPENSION,TIRE PRESSURE,TRACTION CONTROL,TRANSMISSION,ENGINE,UNKNOWN");
const std::set<std::string> kCategories = rawValues(
    "4WD/AWD,ABS AND BRAKES,AIRBAGS AND RESTRAINTS,BATTERY AND POWER,DOORS AND WINDOWS,"
    "DRIVE INFORMATION AND CONTROL,DRIVER ASSIST AND ACTIVE SAFETY,ENGINE,"
    "ENTERTAINMENT AND NAVIGATION,HEAT AND AIR CONDITIONING,HYBRID AND EV,LIGHTS,NETWORK,"
    "PREMIUM VEHICLE OPTIONS,SEATS AND MIRRORS,SECURITY AND KEYLESS ENTRY,TIRE PRESSURE,"
    "TRAILER AND AUXILIARY EQUIPMENT,TRANSMISSION AND DRIVETRAIN,"
    "VEHICLE CONTROL AND SUSPENSION,UNKNOWN");

// The text as the public module reads it (upper case) is one of the enum's raw values.
bool valid(const std::set<std::string>& values, const std::optional<std::string>& text) {
    if (!text) return false;
    std::string upper = *text;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return values.count(upper) != 0;
}

std::string describe(const XMLAttributes& a) {
    auto it = a.find("Acronym");
    return it == a.end() ? std::string("(no Acronym)") : it->second;
}

// Checks the modules, codes and bit tables of one module-list file. A list ends with its
// "chassis" (BMW), "pdx", "can" or "kline" section (Volkswagen group), else with the file.
class ModuleListChecker : public XMLParserDelegate {
  public:
    ModuleListChecker(bool vag, bool subaru) : m_vag(vag), m_subaru(subaru) {}

    std::vector<std::string> problems;
    int modules = 0;

    void didStartElement(XMLParser&, const std::string& name, const std::string&,
                         const std::string&, const XMLAttributes& a) override {
        if (name == "chassis" || name == "pdx" || name == "can" || name == "kline")
            m_listed.clear();
        if (name == "chassis" && !a.count("vins")) problems.push_back("chassis without vins");
        if (name == "pdx" && !a.count("vins")) problems.push_back("pdx without vins");
        if (name == "module") checkModule(a);
        if (name == "tc") {
            m_tc = a;
            m_childCode.reset();
            m_childDescription.reset();
            m_inTc = true;
        }
        if (m_inTc && (name == "c" || name == "d")) {
            m_text = &(name == "c" ? m_childCode : m_childDescription);
            *m_text = "";
        }
        if (name == "address") {
            m_byte = definitionxml::attribute(a, "byte");
            if (!m_byte || m_byte->empty()) problems.push_back("address without byte");
        }
        if (name == "model" && !a.count("values")) problems.push_back("model without values");
        if (name == "bit") checkBit(a);
    }
    void foundCharacters(XMLParser&, const std::string& text) override {
        if (m_text) definitionxml::appendText(*m_text, text);
    }
    void didEndElement(XMLParser&, const std::string& name, const std::string&,
                       const std::string&) override {
        if (name == "c" || name == "d") m_text = nullptr;
        if (name == "address") m_byte.reset();
        if (name == "tc") {
            m_inTc = false;
            checkCode();
        }
    }

  private:
    void checkModule(const XMLAttributes& a) {
        ++modules;
        const std::string who = describe(a);
        std::vector<const char*> required = {"Acronym", "Description"};
        if (!m_vag) required.push_back("Request_ID");
        for (const char* attribute : required)
            if (!a.count(attribute)) problems.push_back(who + ": no " + attribute);
        if (m_vag && !a.count("UDSReqId") && !a.count("KReqID"))
            problems.push_back(who + ": no request id");
        if (!valid(kLights, definitionxml::attribute(a, "Light")))
            problems.push_back(who + ": light " +
                               definitionxml::attribute(a, "Light").value_or("none"));
        if (!valid(kCategories, definitionxml::attribute(a, "ModuleCategory")))
            problems.push_back(who + ": category " +
                               definitionxml::attribute(a, "ModuleCategory").value_or("none"));
        // The same module twice: the same acronym and addressing.
        std::string key;
        for (const auto& [name, value] : a)
            if (name != "Description" && name != "Light" && name != "ModuleCategory" &&
                name != "Common")
                key += name + "=" + value + ";";
        if (!m_listed.insert(key).second) problems.push_back(who + ": listed twice");
    }

    void checkCode() {
        auto code = definitionxml::attribute(m_tc, "c");
        if (!code) code = m_childCode;
        auto description = definitionxml::attribute(m_tc, "d");
        if (!description) description = m_childDescription;
        if (!code || code->empty()) problems.push_back("tc without a code");
        if (m_subaru && !m_tc.count("v"))
            problems.push_back("Subaru tc without v: " + code.value_or(""));
        if (!m_subaru && (!description || description->empty()))
            problems.push_back("tc without a description: " + code.value_or(""));
    }

    void checkBit(const XMLAttributes& a) {
        if (!m_byte) problems.push_back("bit outside an address");
        auto bit = definitionxml::attribute(a, "bitNum");
        if (!bit || QZEnhancedUtils::hexStringToInt(*bit) > 7)
            problems.push_back("bit number " + bit.value_or("none"));
        if (!a.count("c")) problems.push_back("bit without c");
    }

    bool m_vag;
    bool m_subaru;
    std::set<std::string> m_listed;
    XMLAttributes m_tc;
    bool m_inTc = false;
    std::optional<std::string> m_childCode;
    std::optional<std::string> m_childDescription;
    std::optional<std::string>* m_text = nullptr;
    std::optional<std::string> m_byte;
};

nlohmann::json readJson(const fs::path& path) {
    auto data = DefinitionFile::load(path);
    if (!data) return nullptr;
    return nlohmann::json::parse(data->begin(), data->end(), nullptr, false);
}

class ShippedDataTest : public DefinitionsTest {
  protected:
    void SetUp() override {
        kBuilt = shippedFolder();
        DefinitionsTest::SetUp();
        Bundle::setLibraryPath(kBuilt);
    }

    fs::path kBuilt;

    void checkModuleList(const fs::path& path, const std::string& name) {
        auto data = DefinitionFile::load(path);
        ASSERT_TRUE(data);
        ModuleListChecker checker(name == "vag-modules-tcs", name.starts_with("Subaru_"));
        XMLParser parser(std::move(*data));
        parser.setDelegate(&checker);
        EXPECT_TRUE(parser.parse()) << parser.parserError().value_or(XMLParseError{}).description;
        EXPECT_GT(checker.modules, 0);
        EXPECT_EQ(checker.problems, std::vector<std::string>{});
    }

    void checkTroubleCodes() {
        QZECodeTable sae;
        CustomTroubleCodeParser parser("sae", sae);
        auto data = DefinitionFile::load(kBuilt / "troublecodes/troublecodes.xml");
        ASSERT_TRUE(data);
        ModuleListChecker checker(false, false);
        ASSERT_TRUE(definitionxml::parseDocument(*data, checker, "Error parsing XML"));
        EXPECT_EQ(checker.problems, std::vector<std::string>{});
        ASSERT_TRUE(parser.parseDocumentWithFile(std::move(*data)));
        EXPECT_GT(sae.size(), 100u);
        for (const auto& [code, description] : sae) {
            EXPECT_TRUE(QZEnhancedUtils::isJ2012(code)) << code;
            EXPECT_FALSE(description.empty()) << code;
        }
        auto& codes = QZETroubleCodes::TheCodes();
        EXPECT_NE(codes.troubleCodeDef("P0300", 1), QZETroubleCodes::kNoDescription);
        codes.loadCustomDefinitions("ftbs");
        EXPECT_TRUE(codes.hasTable("ftbs"));
    }

    // Every ECU a list names has a file with its protocols (a protocol the reader does not
    // support is data too: that ECU is left out of the scan).
    void checkEcu(const std::string& ecu) {
        std::string name = ecu;
        for (auto at = name.find("*1"); at != std::string::npos; at = name.find("*1"))
            name.erase(at, 2);
        auto file = readJson(kBuilt / "enhanceddiag/mercedes/ecus" / (name + ".json"));
        const auto* protocols =
            file.is_object() && file.contains("PROTOCOL") ? &file["PROTOCOL"] : nullptr;
        if (!protocols && file.is_object() && file["parameters"].is_object())
            protocols = &file["parameters"]["PROTOCOL"];
        EXPECT_TRUE(protocols && protocols->is_array() && !protocols->empty()) << "ECU " << name;
    }

    void checkMercedesYearList(const fs::path& path) {
        auto list = readJson(path);
        ASSERT_TRUE(list.is_array());
        EXPECT_FALSE(list.empty());  // a list without units stops a module scan
        std::set<std::string> names;
        for (const auto& entry : list) {
            ASSERT_TRUE(entry.is_array() && entry.size() >= 5) << entry.dump();
            for (size_t i = 0; i < 5; ++i) ASSERT_TRUE(entry[i].is_string()) << entry.dump();
            EXPECT_TRUE(names.insert(entry[0].get<std::string>()).second) << entry.dump();
            EXPECT_TRUE(valid(kLights, entry[3].get<std::string>())) << entry.dump();
            EXPECT_TRUE(valid(kCategories, entry[4].get<std::string>())) << entry.dump();
            checkEcu(entry[0].get<std::string>());
        }
    }

    void checkMercedesKLine(const fs::path& path) {
        auto file = readJson(path);
        ASSERT_TRUE(file.is_object());
        const auto& chassis = file["modules"]["chassis"];
        ASSERT_TRUE(chassis.is_array());
        EXPECT_FALSE(chassis.empty());
        for (const auto& entry : chassis) {
            ASSERT_TRUE(entry["code"].is_string() && entry["module"].is_array()) << entry.dump();
            std::set<std::string> names;
            for (const auto& module : entry["module"]) {
                ASSERT_TRUE(module["Acronym"].is_string()) << module.dump();
                EXPECT_TRUE(module["Description"].is_string()) << module.dump();
                EXPECT_TRUE(names.insert(module["Acronym"].get<std::string>()).second);
                EXPECT_TRUE(module["Light"].is_string() &&
                            valid(kLights, module["Light"].get<std::string>()))
                    << module.dump();
                EXPECT_TRUE(module["ModuleCategory"].is_string() &&
                            valid(kCategories, module["ModuleCategory"].get<std::string>()))
                    << module.dump();
                checkEcu(module["Acronym"].get<std::string>());
            }
        }
    }

    void checkMercedesFile(const fs::path& relative, const fs::path& path) {
        const auto stem = relative.stem().string();
        const auto folder = relative.parent_path().filename().string();
        if (stem == "chassis") {
            auto table = readJson(path);
            ASSERT_TRUE(table.is_object());
            EXPECT_FALSE(table.empty());
            for (const auto& [key, value] : table.items()) {
                EXPECT_EQ(key.size(), 3u) << key;
                EXPECT_TRUE(value.is_object() && value["chassis"].is_string()) << key;
            }
        } else if (stem == "kline_modules") {
            checkMercedesKLine(path);
        } else if (relative.parent_path().parent_path().filename() == "years") {
            checkMercedesYearList(path);
        } else if (folder == "ecus" && stem.ends_with("_dtcs")) {
            auto table = readJson(path);
            const auto ecu = stem.substr(0, stem.size() - 5);
            ASSERT_TRUE(table.is_object() && table[ecu].is_object()) << ecu;
            for (const auto& [code, text] : table[ecu].items())
                EXPECT_TRUE(text.is_string()) << ecu << " " << code;
        } else if (folder == "ecus") {
            checkEcu(stem);
        }
    }
};

TEST_F(ShippedDataTest, EveryDefinitionFileHoldsWhatItsReaderNeeds) {
    int files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(kBuilt)) {
        if (!entry.is_regular_file()) continue;
        const auto relative = fs::relative(entry.path(), kBuilt);
        const auto name = relative.stem().string();
        const auto top = relative.begin()->string();
        SCOPED_TRACE(relative.string());
        ++files;
        if (relative.extension() == ".xml") {
            if (top == "troublecodes") {
                checkTroubleCodes();
            } else if (top == "enhanceddiag" && relative.parent_path() == "enhanceddiag" &&
                       name != "Rebranded-VINs") {
                checkModuleList(entry.path(), name);
            } else {
                auto data = DefinitionFile::load(entry.path());
                ASSERT_TRUE(data);
                XMLParser parser(std::move(*data));
                EXPECT_TRUE(parser.parse());
            }
        } else if (relative.extension() == ".json") {
            auto json = readJson(entry.path());
            ASSERT_FALSE(json.is_discarded());
            if (name == "ms_vin_mappings") {
                ASSERT_TRUE(json.is_object());
                for (const auto& [year, models] : json.items()) {
                    EXPECT_EQ(year.size(), 1u);
                    ASSERT_TRUE(models.is_array()) << year;
                    for (const auto& model : models)
                        EXPECT_TRUE(model.is_string() && model.get<std::string>().size() == 3);
                }
            } else if (relative.string().starts_with("enhanceddiag/mercedes/")) {
                checkMercedesFile(relative, entry.path());
            }
        }
    }
    EXPECT_GE(files, 1);
}

}  // namespace
}  // namespace qz
