#include "lib/Definitions/QZEMercedesJsonParser.hpp"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <expected>
#include <unordered_map>
#include <unordered_set>

#include "lib/Content/DefinitionFile.hpp"
#include "lib/Facades/QZEData.hpp"
#include "lib/Logging/QZELogging.hpp"
#include "lib/Utils/QZEnhancedUtils.hpp"

namespace qz {

namespace {

using Json = QZEMercedesJsonParser::Json;

constexpr const char* kMercedesDirectory = "enhanceddiag/mercedes";
constexpr const char* kKLineDirectory = "enhanceddiag/mercedes/";
constexpr const char* kEcuDirectory = "enhanceddiag/mercedes/ecus";
constexpr int64_t kCanBus = 1;

constexpr const char* kMissing = "it is missing";
constexpr const char* kNotRead = "it does not decrypt or parse";
constexpr const char* kNoModule = "it holds no module";

// How a known protocol is read: the parameters that hold its identifiers, the "PROTOCOL" extra
// it stores (none: its own name), whether it is a CAN protocol, and its info line.
struct ProtocolRow {
    const char* name;
    const char* requestParameter;
    const char* responseParameter;
    const char* protocolExtra;
    bool can;
    const char* infoLine;
    const char* fromPdx;  // the UDS line's last argument
};

constexpr const char* kUdsLine = "MERCDES: UDS protocol: %@ in module %@, from PDX: %@";
constexpr const char* kKwpOnCanLine = "MERCDES: KWP On CAN protocol: %@ in module %@";
constexpr const char* kKLineLine = "MERCDES: KLINE protocol: %@ in module %@";

constexpr ProtocolRow kProtocols[] = {
    {"UDS_LS", "UDS.CPREQUESTCANIDENTIFIER", "UDS.CPRESPONSECANIDENTIFIER", "UDS_CAN", true,
     kUdsLine, "NO"},
    {"UDS_HS", "UDS.CPREQUESTCANIDENTIFIER", "UDS.CPRESPONSECANIDENTIFIER", "UDS_CAN", true,
     kUdsLine, "NO"},
    {"UDS", "UDS.CPREQUESTCANIDENTIFIER", "UDS.CPRESPONSECANIDENTIFIER", "UDS_CAN", true, kUdsLine,
     "NO"},
    {"UDS_CAN_A", "CP_CanPhysReqId", "CP_CanRespUSDTId", "UDS_CAN", true, kUdsLine, "YES"},
    {"UDS_CAN_B", "CP_CanPhysReqId", "CP_CanRespUSDTId", "UDS_CAN", true, kUdsLine, "YES"},
    {"UDS_CAN_C", "CP_CanPhysReqId", "CP_CanRespUSDTId", "UDS_CAN", true, kUdsLine, "YES"},
    {"UDS_CAN_D", "CP_CanPhysReqId", "CP_CanRespUSDTId", "UDS_CAN", true, kUdsLine, "YES"},
    {"KW2C3PE_LS", "KW2C3PE.CPREQUESTCANIDENTIFIER", "KW2C3PE.CPRESPONSECANIDENTIFIER", "KWP_CAN",
     true, kKwpOnCanLine, nullptr},
    {"KW2C3PE_HS", "KW2C3PE.CPREQUESTCANIDENTIFIER", "KW2C3PE.CPRESPONSECANIDENTIFIER", "KWP_CAN",
     true, kKwpOnCanLine, nullptr},
    {"KWFB", "KWFB.CPREQTARGETBYTE", "KWFB.CPRESPSOURCEBYTE", "KWFB", false, kKLineLine, nullptr},
    {"KW2000PE", "KW2000PE.CPREQTARGETBYTE", "KW2000PE.CPREQTARGETBYTE", nullptr, false, kKLineLine,
     nullptr},
    {"KW2000", "KW2000PE.CPREQTARGETBYTE", "KW2000PE.CPREQTARGETBYTE", nullptr, false, kKLineLine,
     nullptr},
};

const ProtocolRow* protocolRow(const std::string& name) {
    for (const auto& row : kProtocols)
        if (name == row.name) return &row;
    return nullptr;
}

// The resource's path, or none when it is missing. Names come from the definitions themselves;
// one that would leave its folder is treated as missing.
std::optional<std::filesystem::path> resourcePath(const std::string& name,
                                                  const std::string& directory) {
    if (name.empty() || name.find('/') != std::string::npos || name.find('\0') != std::string::npos)
        return std::nullopt;
    return DefinitionFile::path(name, "json", directory);
}

// The decrypted and parsed file, or why it could not be had.
template <class J>
std::expected<J, std::string> readJson(const std::filesystem::path& path) {
    auto data = DefinitionFile::load(path);
    if (!data) return std::unexpected(std::string("The file could not be read or decrypted."));
    try {
        return J::parse(data->begin(), data->end());
    } catch (const nlohmann::json::exception& e) {
        return std::unexpected(std::string(e.what()));
    }
}

template <class J>
const J* member(const J& object, const char* key) {
    if (!object.is_object()) return nullptr;
    auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

template <class J>
std::optional<std::string> textMember(const J& object, const char* key) {
    const J* value = member(object, key);
    if (!value || !value->is_string()) return std::nullopt;
    return value->template get<std::string>();
}

std::string withoutMarker(std::string name) {
    for (auto at = name.find("*1"); at != std::string::npos; at = name.find("*1"))
        name.erase(at, 2);
    return name;
}

std::string withoutDollars(std::string text) {
    std::erase(text, '$');
    return text;
}

// An entry of a year list: the unit's name, description, protocol, light and category.
bool isEcuEntry(const Json& entry) {
    if (!entry.is_array() || entry.size() < 5) return false;
    for (size_t i = 0; i < 5; ++i)
        if (!entry[i].is_string()) return false;
    return true;
}

// On a CAN protocol "$07E0" is written "$7E0".
void shortenCanIdentifier(std::optional<std::string>& id) {
    if (id && id->size() == 5 && (*id)[0] == '$') id->erase(1, 1);
}

}  // namespace

QZEMercedesJsonParser::QZEMercedesJsonParser(std::optional<std::string> vin, bool quickScan,
                                             int64_t busType,
                                             std::vector<QZEModuleDataPtr>& modules)
    : m_vin(std::move(vin)), m_quickScan(quickScan), m_busType(busType), m_modules(modules) {}

bool QZEMercedesJsonParser::parse() {
    return parse(m_vin);
}

bool QZEMercedesJsonParser::parse(const std::optional<std::string>& vin) {
    m_year = QZEnhancedUtils::vehicleYearFromVINString(vin);
    m_chassisType = chassisFromVin(vin);
    bool result;
    if (m_busType == kCanBus)
        result = loadEcus(loadChassisCodeEcus(m_chassisType, m_year));
    else
        result = loadKLineEcus(loadKLineChassisCodeEcus(m_chassisType));
    QZELogging::shared().logInfo("Mercedes CChassis Code: %@  year: %@", m_chassisType, m_year);
    return result;
}

bool QZEMercedesJsonParser::isVinSupported(const std::optional<std::string>& vin) {
    const auto chassis = chassisFromVin(vin);
    if (chassis == kNoChassis) return false;
    if (QZEData::sharedData().obd2Protocol() == 1)
        return !loadChassisCodeEcus(chassis, QZEnhancedUtils::vehicleYearFromVINString(vin))
                    .empty();
    return !loadKLineChassisCodeEcus(chassis).empty();
}

std::string QZEMercedesJsonParser::chassisFromVin(const std::optional<std::string>& vin) {
    if (!vin || vin->size() != 17) return kNoChassis;
    const std::string key{(*vin)[3], (*vin)[4], (*vin)[9]};
    auto path = resourcePath("chassis", kMercedesDirectory);
    std::optional<nlohmann::json> table;
    if (!path) {
        unreadable(std::string("mercedes/chassis.json"), kMissing);
    } else if (auto read = readJson<nlohmann::json>(*path)) {
        table = std::move(*read);
    } else {
        unreadable(*path, kNotRead);
    }
    // A VIN the table does not list is a vehicle without definitions; a table that lists no
    // chassis at all is no table.
    if (table && (!table->is_object() ||
                  std::none_of(table->begin(), table->end(), [](const nlohmann::json& entry) {
                      return textMember(entry, "chassis").has_value();
                  })))
        unreadable(*path, "it holds no chassis");
    if (!table || !table->is_object()) {
        QZELogging::shared().logWarning("MERCEDES: Info NOT @found for Chassis code : %@",
                                        kNoChassis);
        return kNoChassis;
    }
    const auto* entry = member(*table, key.c_str());
    auto chassis = entry ? textMember(*entry, "chassis") : std::nullopt;
    return chassis.value_or(kNoChassis);
}

Json QZEMercedesJsonParser::loadChassisCodeEcus(const std::string& chassis, int64_t year) {
    auto& log = QZELogging::shared();
    Json result = Json::array();
    if (year < kFirstYear) return result;
    for (int64_t y = year; y >= kFirstYear; --y) {
        const auto path = resourcePath(chassis, objcFormat("enhanceddiag/mercedes/years/%@", y));
        if (!path) {
            log.logError(
                "MERCEDES: No ECU list file found for chassis code %@ between years %@ "
                "and %@",
                chassis, year, y);
            continue;
        }
        // A file that does not decrypt or parse is passed over like a missing one.
        auto list = readJson<Json>(*path);
        if (!list) {
            log.logError("JSON Error: %@", list.error());
            unreadable(*path, kNotRead);
            continue;
        }
        // The walk goes on past a list without units, but such a list is damaged.
        if (!list->is_array() || std::none_of(list->begin(), list->end(), isEcuEntry))
            unreadable(*path, kNoModule);
        if (!list->is_array()) continue;
        result = std::move(*list);
        log.logDebug("year: %@ chasis: %@ data: %@", y, chassis, result.dump());
        if (!result.empty()) break;
    }
    return result;
}

Json QZEMercedesJsonParser::loadKLineChassisCodeEcus(const std::string& chassis) {
    auto path = resourcePath("kline_modules", kKLineDirectory);
    if (!path) {
        unreadable(std::string("mercedes/kline_modules.json"), kMissing);
        return Json::array();
    }
    auto file = readJson<Json>(*path);
    if (!file) {
        unreadable(*path, kNotRead);
        return Json::array();
    }
    const Json* modules = member(*file, "modules");
    const Json* list = modules ? member(*modules, "chassis") : nullptr;
    // A chassis the list does not name has no K-line units; a list that names no unit for any
    // chassis is no list.
    auto holdsModule = [](const Json& entry) {
        const Json* found = member(entry, "module");
        return found && found->is_array() &&
               std::any_of(found->begin(), found->end(), [](const Json& module) {
                   return textMember(module, "Acronym").has_value();
               });
    };
    if (!list || !list->is_array() || std::none_of(list->begin(), list->end(), holdsModule)) {
        unreadable(*path, kNoModule);
        return Json::array();
    }
    for (const auto& entry : *list) {
        if (textMember(entry, "code") != chassis) continue;
        const Json* found = member(entry, "module");
        return found && found->is_array() ? *found : Json::array();
    }
    return Json::array();
}

bool QZEMercedesJsonParser::loadEcus(const Json& ecus) {
    if (ecus.is_array()) {
        for (const auto& entry : ecus) {
            if (!isEcuEntry(entry)) continue;
            const auto name = withoutMarker(entry[0].get<std::string>());
            const auto protocol = entry[2].get<std::string>();
            const auto light = entry[3].get<std::string>();
            const auto category = entry[4].get<std::string>();
            auto record = loadModule(name, entry[1].get<std::string>(), light, category);
            if (!record) continue;
            record->setLight(light);
            record->setCategory(category);
            if (m_busType == kCanBus && (protocol.find("CAN") != std::string::npos ||
                                         protocol.find("UDS") != std::string::npos))
                record->setCommon(true);
            if (m_quickScan && !record->common()) continue;
            m_modules.push_back(std::move(record));
        }
    }
    filterModules();
    return !m_modules.empty();
}

bool QZEMercedesJsonParser::loadKLineEcus(const Json& modules) {
    if (modules.is_array()) {
        for (const auto& object : modules) {
            const auto acronym = textMember(object, "Acronym");
            if (!acronym) continue;
            const bool common = member(object, "Common") != nullptr;
            auto record =
                loadModule(withoutMarker(*acronym), textMember(object, "Description").value_or(""),
                           textMember(object, "Light"), textMember(object, "ModuleCategory"));
            if (!record) continue;
            record->setCommon(common);
            if (m_quickScan && !common) continue;
            m_modules.push_back(std::move(record));
        }
    }
    filterModules();
    return !m_modules.empty();
}

QZEModuleDataPtr QZEMercedesJsonParser::loadModule(const std::string& name,
                                                   const std::string& description,
                                                   const std::optional<std::string>& light,
                                                   const std::optional<std::string>& category) {
    auto& log = QZELogging::shared();
    const auto path = resourcePath(name, kEcuDirectory);
    if (!path) log.logWarning("MERCEDES: File path not found for module %@", name);
    auto data = path ? DefinitionFile::load(*path) : std::nullopt;
    if (!data) {
        log.logWarning("MERCEDES: No module for: %@", name);
        if (path) unreadable(*path, kNotRead);
        return nullptr;
    }
    const Json root = Json::parse(data->begin(), data->end(), nullptr, false);
    if (root.is_discarded()) unreadable(*path, kNotRead);

    const Json* parameters = member(root, "parameters");
    const Json* variants = member(root, "variants");
    const Json* protocols = member(root, "PROTOCOL");
    if (!protocols && parameters) {
        protocols = member(*parameters, "PROTOCOL");
        parameters = member(*parameters, "parameters");
    }
    if (!protocols || !protocols->is_array()) {
        log.logWarning("MERCEDES: No protocols provided for %@", name);
        return nullptr;
    }

    std::string variantKeys;
    if (variants && variants->is_array()) {
        for (const auto& variant : *variants) {
            if (!variant.is_object()) continue;
            for (const auto& [memberName, list] : variant.items()) {
                if (!list.is_array()) continue;
                for (const auto& object : list) {
                    if (!object.is_object()) continue;
                    for (const auto& [key, value] : object.items())
                        if ((key == "DIAGVERSION" || key == "DBNUMBER") && value.is_string())
                            variantKeys += withoutDollars(value.get<std::string>()) + ",";
                }
            }
        }
    }

    const Json noParameters = Json::object();
    const Json& table = parameters ? *parameters : noParameters;
    QZEModuleDataPtr record;
    bool canMark = false;
    for (const auto& protocolName : *protocols) {
        if (!protocolName.is_string()) continue;
        const auto protocol = protocolName.get<std::string>();
        const ProtocolRow* row = protocolRow(protocol);
        if (!row) {
            log.logWarning(protocol == "MBISO" ? "MERCDES: Unsupported protocol: %@ in module %@"
                                               : "MERCDES: Unknown protocol: %@ in module %@",
                           protocol, name);
            continue;
        }
        if (row->fromPdx)
            log.logInfo(row->infoLine, protocol, name, row->fromPdx);
        else
            log.logInfo(row->infoLine, protocol, name);
        canMark = canMark || row->can;
        auto requestId = textMember(table, row->requestParameter);
        auto responseId = textMember(table, row->responseParameter);
        if (canMark) {
            shortenCanIdentifier(requestId);
            shortenCanIdentifier(responseId);
            if (!requestId || !responseId) continue;
        } else if (!requestId) {
            continue;
        }

        record = std::make_shared<QZEModuleData>();
        record->setRequestId(requestId);
        record->setResponseId(responseId);
        record->setAccronym(name);
        record->setDescription(description.empty() ? name : description);
        record->setLight(light);
        record->setCategory(category);
        record->setCommon(canMark);
        record->setBusType(std::to_string(m_busType));
        record->setExtras(QZEDictionary{
            {"dtcsDict", loadDtcsForEcu(name)},
            {"PROTOCOL", row->protocolExtra ? std::string(row->protocolExtra) : protocol},
            {"MBDIAGKEYS", variantKeys},
        });
        break;
    }
    log.logInfo("MERCEDES: Module: %@", name);
    return record;
}

void QZEMercedesJsonParser::unreadable(const std::filesystem::path& path, std::string why) {
    // Named from the definition folder on: "mercedes/years/2008/204.json".
    std::string name;
    bool inFolder = false;
    for (const auto& part : path) {
        if (inFolder) {
            if (!name.empty()) name += '/';
            name += part.string();
        }
        inFolder = inFolder || part == "enhanceddiag";
    }
    unreadable(name.empty() ? path.filename().string() : name, std::move(why));
}

void QZEMercedesJsonParser::unreadable(std::string file, std::string why) {
    m_unreadableFiles.push_back({std::move(file), std::move(why)});
}

QZEValue QZEMercedesJsonParser::loadDtcsForEcu(const std::string& name) {
    auto path = resourcePath(name + "_dtcs", kEcuDirectory);
    if (path) {
        if (auto file = readJson<nlohmann::json>(*path)) {
            const auto* table = member(*file, name.c_str());
            if (table && table->is_object()) return QZEValue::fromJson(*table);
        }
    }
    return QZEValue(QZEDictionary{});
}

std::string QZEMercedesJsonParser::convertRequestIdToStandardHex(const std::string& requestId) {
    if (requestId.find('$') != std::string::npos) return withoutDollars(requestId);
    long value = 0;
    const char* begin = requestId.data();
    const char* end = begin + requestId.size();
    auto [ptr, ec] = std::from_chars(begin, end, value);
    if (ec != std::errc() || ptr != end || begin == end) {
        double number = 0;
        auto [dptr, dec] = std::from_chars(begin, end, number);
        // Only a number that fits is one.
        if (dec != std::errc() || dptr != end || begin == end || !(number > -9.2e18) ||
            !(number < 9.2e18))
            return "00";
        value = static_cast<long>(number);
    }
    char text[32];
    std::snprintf(text, sizeof text, "%02lX", static_cast<unsigned long>(value));
    return text;
}

void QZEMercedesJsonParser::filterModules() {
    auto groupKey = [](const QZEModuleData& m) {
        return convertRequestIdToStandardHex(m.requestId().value_or("")) +
               m.extra("PROTOCOL").text().value_or("");
    };
    std::vector<std::string> order;
    std::unordered_map<std::string, std::vector<QZEModuleDataPtr>> groups;
    for (const auto& module : m_modules) {
        if (m_quickScan && !module->common()) continue;
        auto key = groupKey(*module);
        auto& group = groups[key];
        if (group.empty()) order.push_back(key);
        group.push_back(module);
    }

    std::unordered_set<const QZEModuleData*> folded;
    std::vector<QZEModuleDataPtr> merged;
    for (const auto& key : order) {
        const auto& group = groups[key];
        if (group.size() < 2) continue;
        QZEValue::List variants;
        for (const auto& module : group) {
            folded.insert(module.get());
            variants.emplace_back(module);
        }
        const auto& first = *group.front();
        auto record = std::make_shared<QZEModuleData>();
        record->setCommon(first.common());
        record->setRequestId(first.requestId());
        record->setResponseId(first.responseId());
        record->setBusType(first.busType());
        record->setLight(first.light());
        record->setCategory(first.category());
        record->setAccronym(first.requestId());
        record->setDescription("Generic Address Module");
        record->setExtra("MBVARIANTS", std::move(variants));
        if (auto protocol = first.extra("PROTOCOL"); !protocol.isNull())
            record->setExtra("PROTOCOL", protocol);
        merged.push_back(std::move(record));
    }

    std::vector<QZEModuleDataPtr> result;
    for (auto& module : m_modules)
        if (!folded.count(module.get()) && !(m_quickScan && !module->common()))
            result.push_back(std::move(module));
    for (auto& module : merged) result.push_back(std::move(module));
    m_modules = std::move(result);
}

}  // namespace qz
