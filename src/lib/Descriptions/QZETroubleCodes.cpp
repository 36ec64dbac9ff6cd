#include "lib/Descriptions/QZETroubleCodes.hpp"

#include <array>

#include "lib/Content/DefinitionFile.hpp"
#include "lib/Definitions/QZEBMWTroubleCodeParser.hpp"
#include "lib/Descriptions/CustomTroubleCodeParser.hpp"
#include "lib/Facades/QZEData.hpp"
#include "lib/Utils/EnhancedProtocolManufacturer.hpp"

namespace qz {

namespace {

constexpr const char* kSaeTable = "sae";
constexpr const char* kFailureTypeTable = "ftbs";
constexpr const char* kNissanFailureTypeTable = "nissanftbs";

// Parent make names by make number 1-13.
constexpr std::array<const char*, 14> kParentNames = {
    nullptr, "GM",         "Chrysler", "Ford",    "Toyota", "BMW",        "Renault",
    "Honda", "VOLKSWAGEN", "Daimler",  "Hyundai", "Mazda",  "Mitsubishi", "Subaru"};

// The decrypted file, or none when it is missing or does not decrypt.
std::optional<Data> loadFile(const std::string& name, const std::string& directory) {
    auto path = DefinitionFile::path(name, "xml", directory);
    if (!path) return std::nullopt;
    return DefinitionFile::load(*path);
}

}  // namespace

QZETroubleCodes& QZETroubleCodes::TheCodes() {
    static QZETroubleCodes codes;
    return codes;
}

std::string QZETroubleCodes::parentManufacturerFromEnhancedProtocol(int64_t make) {
    if (make >= 1 && make < static_cast<int64_t>(kParentNames.size())) return kParentNames[make];
    auto stored = QZEData::sharedData().vehicleParentMan();
    if (!stored || stored->empty()) return "Unknown";
    return *stored;
}

std::optional<std::string> QZETroubleCodes::bmwChassisFromVin(
    const std::optional<std::string>& vin) {
    if (!vin || vin->size() != 17) return std::nullopt;
    return vin->substr(3, 4);
}

bool QZETroubleCodes::hasTable(const std::string& name) const {
    std::lock_guard lock(m_mutex);
    return m_manfacturerDictionary && m_manfacturerDictionary->count(name) != 0;
}

void QZETroubleCodes::reset() {
    std::lock_guard load(m_loadMutex);
    std::lock_guard lock(m_mutex);
    m_manfacturerDictionary.reset();
}

void QZETroubleCodes::storeTable(const std::string& name,
                                 std::shared_ptr<const QZECodeTable> table) {
    std::lock_guard lock(m_mutex);
    (*m_manfacturerDictionary)[name] = std::move(table);
}

void QZETroubleCodes::initDict() {
    // Once "sae" is in, nothing waits for a load running on another thread.
    if (hasTable(kSaeTable)) return;
    std::lock_guard load(m_loadMutex);
    {
        std::lock_guard lock(m_mutex);
        if (m_manfacturerDictionary) return;
        m_manfacturerDictionary.emplace();
    }
    loadCustomDefinitions(kSaeTable);
}

bool QZETroubleCodes::loadCustomDefinitions(const std::string& name) {
    // A table is stored whole, so one that is there is loaded.
    if (hasTable(name)) return false;
    std::lock_guard load(m_loadMutex);
    initDict();
    if (hasTable(name)) return false;
    auto table = std::make_shared<QZECodeTable>();
    bool ok = false;
    if (auto data = loadFile("troublecodes", "troublecodes")) {
        CustomTroubleCodeParser parser(name, *table);
        ok = parser.parseDocumentWithFile(std::move(*data));
    }
    storeTable(name, std::move(table));  // also when the file did not parse
    return ok;
}

bool QZETroubleCodes::loadCustomBMWDefinitions(const std::string& chassis) {
    std::lock_guard load(m_loadMutex);
    initDict();
    {
        std::lock_guard lock(m_mutex);
        for (const auto& entry : *m_manfacturerDictionary)
            if (entry.first.find(chassis) != std::string::npos) return false;
    }
    auto data = loadFile("bmw-modules", DefinitionFile::kEnhancedDiagDirectory);
    if (!data) return false;
    std::unordered_map<std::string, QZECodeTable> tables;
    QZEBMWTroubleCodeParser parser(chassis, tables);
    const bool ok = parser.parseDocumentWithFile(std::move(*data));
    for (auto& [key, table] : tables)
        storeTable(key, std::make_shared<const QZECodeTable>(std::move(table)));
    return ok;
}

std::optional<std::string> QZETroubleCodes::lookup(const std::string& table,
                                                   const std::string& code) const {
    std::lock_guard lock(m_mutex);
    if (!m_manfacturerDictionary) return std::nullopt;
    auto t = m_manfacturerDictionary->find(table);
    if (t == m_manfacturerDictionary->end()) return std::nullopt;
    auto c = t->second->find(code);
    if (c == t->second->end()) return std::nullopt;
    return c->second;
}

std::string QZETroubleCodes::troubleCodeDef(const std::optional<std::string>& code, int64_t make) {
    const auto parent = parentManufacturerFromEnhancedProtocol(make);
    loadCustomDefinitions(parent);
    return troubleCodeDef(code, parent);
}

std::string QZETroubleCodes::troubleCodeDef(const std::optional<std::string>& code,
                                            const std::string& parent) {
    if (!code) return kNoDescription;
    initDict();  // "sae" answers for codes the named table lacks

    std::string base = *code;
    std::optional<std::string> failureType;
    if (const auto dash = code->find('-'); dash != std::string::npos) {
        base = code->substr(0, dash);
        std::string suffix = code->substr(dash + 1);
        std::string table = kFailureTypeTable;
        if (suffix.starts_with('N')) {
            suffix.erase(0, 1);
            table = kNissanFailureTypeTable;
        }
        loadCustomDefinitions(table);
        failureType = lookup(table, suffix);
    }

    auto description = lookup(parent, base);
    if (!description) description = lookup(kSaeTable, base);
    if (!description) return kNoDescription;
    if (failureType) return *description + ": " + *failureType;
    return *description;
}

std::string QZETroubleCodes::bmwTroubleCodeDef(const std::optional<std::string>& code,
                                               const std::optional<std::string>& key,
                                               const std::optional<std::string>& vin) {
    const auto chassis = bmwChassisFromVin(vin);
    if (key && key->find("BMW") != std::string::npos && chassis) {
        loadCustomBMWDefinitions(*chassis);
        return troubleCodeDef(code, *key);
    }
    return troubleCodeDef(code, static_cast<int64_t>(EnhancedProtocolManufacturer::BMW));
}

}  // namespace qz
