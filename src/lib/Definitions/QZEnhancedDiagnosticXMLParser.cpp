#include "lib/Definitions/QZEnhancedDiagnosticXMLParser.hpp"

#include <algorithm>
#include <array>
#include <string_view>

#include <nlohmann/json.hpp>

#include "lib/Content/DefinitionFile.hpp"
#include "lib/Definitions/QZEBasicXMLParserDelegate.hpp"
#include "lib/Definitions/QZEMercedesJsonParser.hpp"
#include "lib/Definitions/QZEVagXMLParserDelegate.hpp"
#include "lib/Descriptions/QZETroubleCodes.hpp"
#include "lib/Facades/QZEData.hpp"
#include "lib/Facades/QZEVehicle.hpp"
#include "lib/Logging/QZELogging.hpp"
#include "lib/Utils/EnhancedProtocolManufacturer.hpp"
#include "lib/Utils/QZEnhancedUtils.hpp"
#include "platform/xml/XMLParser.hpp"

namespace qz {

namespace {

using M = EnhancedProtocolManufacturer;

constexpr int64_t make(M m) {
    return static_cast<int64_t>(m);
}

bool contains(const std::string& text, std::string_view word) {
    return text.find(word) != std::string::npos;
}

// One bus family of a make's file table: the buses it covers (none: every bus not covered by
// an earlier row), its file (none: the bus has no file) and the line logged when it is chosen.
struct FileRow {
    std::vector<int64_t> buses;
    const char* file;
    const char* logLine = nullptr;
};

struct MakeFiles {
    std::vector<int64_t> makes;
    const char* logLine;  // logged before the choice
    std::vector<FileRow> rows;
};

// BMW has one file for every bus, gated by the firmware (see fileNameFor).
const MakeFiles kFileTable[] = {
    {{make(M::GM)}, nullptr, {{{1, 95}, "GM_CAN"}, {{58}, "GM_GMLAN"}, {{}, "GM_VPW"}}},
    {{make(M::Chrysler)},
     "Loading Enhanced Chrysler Data",
     {{{1}, "Chrysler_CAN"},
      {{7, 9, 10}, "Chrysler_29CAN"},
      {{11}, "Chrysler_29CAN_CH_IHS"},
      {{4}, nullptr},
      {{}, "Chrysler_VPW"}}},
    {{make(M::Ford), make(M::Mazda)},
     "Loading Enhanced Ford Data",
     {{{1}, "Ford_CAN"}, {{}, "Ford_KLINE"}}},
    {{make(M::Toyota)},
     nullptr,
     {{{1}, "Toyota_CAN", "Loading Toyotoa CAN XML"},
      {{}, "Toyota_KLINE", "Loading Toyotoa KLINE XML"}}},
    {{make(M::Nissan)},
     nullptr,
     {{{1}, "Nissan_CAN"}, {{97}, "Nissan_CAN_ON_KLINE"}, {{}, "Nissan_KWP"}}},
    {{make(M::Honda)}, "Loading HONDA XML file", {{{1, 7, 9}, "Honda_CAN"}, {{}, "Honda_KLINE"}}},
    {{make(M::VOLKSWAGEN)}, nullptr, {{{}, "vag-modules-tcs"}}},
    {{make(M::Mercedes)}, "Loading MB ISO XML", {{{96}, "Mercedes_MBISO"}, {{}, nullptr}}},
    {{make(M::Hyundai)},
     nullptr,
     {{{1}, "Hyundai_CAN"}, {{12}, "Hyundai_MUT"}, {{4}, "Hyundai_KLine"}, {{}, nullptr}}},
    {{make(M::Mitsubishi)}, nullptr, {{{1}, "Mitsubishi_CAN"}, {{}, "Mitsubishi_KLINE"}}},
    {{make(M::Subaru)}, nullptr, {{{1}, "Subaru_CAN"}, {{}, "Subaru_KLINE"}}},
};

bool listed(const std::vector<int64_t>& list, int64_t value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

// Hands a reader the events of its document and counts the document's "module" elements,
// wherever they stand: a list that holds none is no list, whatever the reader kept of it.
class ModuleElementCounter : public XMLParserDelegate {
  public:
    explicit ModuleElementCounter(XMLParserDelegate& reader) : m_reader(reader) {}
    size_t modules() const { return m_modules; }

    void parserDidStartDocument(XMLParser& parser) override {
        m_reader.parserDidStartDocument(parser);
    }
    void parserDidEndDocument(XMLParser& parser) override { m_reader.parserDidEndDocument(parser); }
    void didStartElement(XMLParser& parser, const std::string& elementName,
                         const std::string& namespaceURI, const std::string& qualifiedName,
                         const XMLAttributes& attributes) override {
        if (elementName == "module") ++m_modules;
        m_reader.didStartElement(parser, elementName, namespaceURI, qualifiedName, attributes);
    }
    void didEndElement(XMLParser& parser, const std::string& elementName,
                       const std::string& namespaceURI, const std::string& qualifiedName) override {
        m_reader.didEndElement(parser, elementName, namespaceURI, qualifiedName);
    }
    void foundCharacters(XMLParser& parser, const std::string& characters) override {
        m_reader.foundCharacters(parser, characters);
    }
    void parseErrorOccurred(XMLParser& parser, const XMLParseError& error) override {
        m_reader.parseErrorOccurred(parser, error);
    }

  private:
    XMLParserDelegate& m_reader;
    size_t m_modules = 0;
};

// Pins a sensor below firmware 400 can still switch to.
constexpr std::array<std::string_view, 4> kPinsWithoutSwitching = {"6E", "70", "20", "2A"};

}  // namespace

QZEnhancedDiagnosticXMLParser::QZEnhancedDiagnosticXMLParser(int64_t manufacturer,
                                                             std::optional<std::string> protocol,
                                                             std::optional<std::string> vin,
                                                             bool quickScan)
    : m_vehicleManufacturer(manufacturer),
      m_obd2Protocol(std::move(protocol)),
      m_vin(std::move(vin)),
      m_quickScan(quickScan) {
    setVehicleOBD2Buses();
}

QZEnhancedDiagnosticXMLParser::~QZEnhancedDiagnosticXMLParser() {
    QZELogging::shared().logVerbose("XML Parser dealloc");
}

void QZEnhancedDiagnosticXMLParser::setVehicleOBD2Buses() {
    auto& log = QZELogging::shared();
    log.logVerbose("Testy mctest %@", "test");
    log.logVerbose("set OBD2 Bus: QZVHEICLE PROTOCOL: %@", m_obd2Protocol);
    const std::string p = m_obd2Protocol.value_or("");
    const int64_t m = m_vehicleManufacturer;
    auto& buses = m_obd2Protocols;
    buses = {0};
    auto add = [&](int64_t bus) { buses.push_back(bus); };
    auto modelYear = [] { return QZEVehicle::TheVehicle().modelYear(); };

    if (contains(p, "KWP2000")) {
        log.logVerbose("ISO_BUS KWP2000");
        buses[0] = 4;
    }
    if (m == make(M::VOLKSWAGEN)) {
        buses = {1, 98, 4};
        return;
    }
    if (contains(p, "CAN")) {
        log.logVerbose("CAN");
        buses[0] = contains(p, "29") ? 7 : 1;
        switch (static_cast<M>(m)) {
            case M::GM:
                if (QZEnhancedUtils::checkFwIsAtLeast(407, "GM LAN (loading XML)")) add(58);
                if (modelYear() <= 2014) add(3);
                break;
            case M::Chrysler:
                if (buses[0] == 7 || buses[0] == 9) {
                    if (QZEnhancedUtils::checkFwIsAtLeast(408, "Chrysler CAN B (loading XML)"))
                        add(10);
                    if (QZEnhancedUtils::checkFwIsAtLeast(408, "Chrysler CAN CH (loading XML)"))
                        add(11);
                } else if (modelYear() <= 2011) {
                    add(3);
                }
                break;
            case M::Ford:
            case M::Mazda:
                if (modelYear() <= 2013) add(2);
                break;
            case M::Toyota:
                log.logInfo("Skipping toyota kline bus");
                break;
            case M::BMW:
                add(4);
                add(99);
                break;
            case M::Nissan:
            case M::Honda:
            case M::Subaru:
                add(4);
                break;
            case M::Mercedes:
                if (QZEnhancedUtils::checkFwIsAtLeast(406, "Mercedes KLine")) add(4);
                break;
            case M::Hyundai:
                if (QZEnhancedUtils::checkFwIsAtLeast(406, "Hyundai KLINE")) add(4);
                if (QZEnhancedUtils::checkFwIsAtLeast(407, "Hyundai MUT")) add(12);
                break;
            case M::Mitsubishi:
                if (QZEnhancedUtils::checkFwIsAtLeast(407, "Mitsubishi MUT")) add(4);
                break;
            default:
                break;
        }
    } else if (contains(p, "PWM")) {
        log.logVerbose("PWM");
        buses[0] = 2;
    } else if (contains(p, "VPW")) {
        log.logVerbose("VPW");
        buses[0] = 3;
        if (m == make(M::GM)) add(95);
    } else if (contains(p, "KWP")) {
        log.logVerbose("KWP");
        buses[0] = 4;
        if (m == make(M::BMW)) add(99);
        if (m == make(M::Mercedes) && QZEnhancedUtils::checkFwIsAtLeast(406, "Mercedes MBISO"))
            add(96);
        if (m == make(M::Hyundai)) add(12);
    } else if (contains(p, "ISO")) {
        log.logVerbose("ISO");
        buses[0] = 4;
        if (m == make(M::Hyundai)) add(12);
        if (m == make(M::BMW)) add(99);
        if (m == make(M::Mercedes)) add(96);
        if (m == make(M::Nissan)) add(97);
        if (m == make(M::Mitsubishi) && QZEnhancedUtils::vehicleYearFromVINString(m_vin) >= 2004)
            add(1);
    }
}

QZEModuleListsByBus QZEnhancedDiagnosticXMLParser::loadXml() {
    for (int64_t bus : std::vector<int64_t>(m_obd2Protocols))
        loadVehicleManEnhancedDiag(m_vehicleManufacturer, bus);
    return m_infoKeyedByBus;
}

bool QZEnhancedDiagnosticXMLParser::loadVehicleManEnhancedDiag(int64_t manufacturer, int64_t bus) {
    m_activeBus = bus;
    if (manufacturer == make(M::Mercedes) && bus != 96) return processMercedesWithBus(bus);
    return processEnhancedManufacturer(manufacturer, bus);
}

bool QZEnhancedDiagnosticXMLParser::processMercedesWithBus(int64_t bus) {
    QZEModuleList modules;
    QZEMercedesJsonParser parser(m_vin, m_quickScan, bus, modules);
    parser.parse();
    for (const auto& [file, why] : parser.unreadableFiles()) unreadable(file, why);
    m_infoKeyedByBus.setObject(std::move(modules), std::to_string(bus));
    return true;
}

std::optional<std::string> QZEnhancedDiagnosticXMLParser::fileNameFor(
    int64_t manufacturer, int64_t bus, std::optional<std::string>* logLine) {
    for (const auto& makeFiles : kFileTable) {
        if (!listed(makeFiles.makes, manufacturer)) continue;
        if (logLine && makeFiles.logLine) *logLine = makeFiles.logLine;
        for (const auto& row : makeFiles.rows) {
            if (!row.buses.empty() && !listed(row.buses, bus)) continue;
            if (logLine && row.logLine) *logLine = row.logLine;
            if (!row.file) return std::nullopt;
            return row.file;
        }
    }
    return std::nullopt;
}

bool QZEnhancedDiagnosticXMLParser::processEnhancedManufacturer(int64_t manufacturer, int64_t bus) {
    auto& log = QZELogging::shared();
    log.logInfo("Passed vehicle: %li  bustype: %li", manufacturer, bus);

    std::optional<std::string> file;
    if (manufacturer == make(M::BMW)) {
        const int64_t minimum = bus == 1 ? 254 : 249;
        if (QZEnhancedUtils::checkFwIsAtLeast(minimum, "BMW modules (loading XML)"))
            file = "bmw-modules";
        else
            log.logWarning("MIN BMW FW not met, no CAN will be scanned");
    } else if (manufacturer < make(M::GM) || manufacturer > make(M::Subaru)) {
        log.logVerbose("Loading Enhanced UNKNOWN Data");
        return false;
    } else {
        std::optional<std::string> logLine;
        file = fileNameFor(manufacturer, bus, &logLine);
        if (logLine) log.logVerbose(*logLine);
    }
    if (!file) {
        log.logVerbose("No Data");
        return false;
    }

    const auto path = DefinitionFile::path(*file, "xml");
    if (path)
        log.logVerbose("Encrypted file found");
    else
        log.logWarning("Encrypted file not found");
    auto data = path ? DefinitionFile::load(*path) : std::nullopt;
    log.logVerbose("Decrypted");
    if (!data) {
        log.logVerbose("No Data");
        unreadable(*file, path ? "it does not decrypt" : "it is missing");
        return false;
    }
    log.logVerbose("Loaded enhanced Data xml");
    if (manufacturer == make(M::Subaru))  // loads the Subaru code texts first
        QZETroubleCodes::TheCodes().troubleCodeDef("P1000", manufacturer);

    QZEModuleList modules;
    XMLParser parser(std::move(*data));
    bool parsed = false;
    size_t moduleElements = 0;
    auto parseWith = [&](XMLParserDelegate& reader) {
        ModuleElementCounter counter(reader);
        parser.setDelegate(&counter);
        parsed = parser.parse();
        moduleElements = counter.modules();
    };
    if (manufacturer == make(M::VOLKSWAGEN)) {
        QZEVagXMLParserDelegate reader(m_vin, m_quickScan, bus, modules);
        parseWith(reader);
    } else {
        QZEBasicXMLParserDelegate reader(manufacturer, bus, m_quickScan, m_vin, modules);
        parseWith(reader);
    }
    const auto& error = parser.parserError();
    // The BMW reader stops by itself after its chassis.
    if (!parsed && !(error && error->code == XMLParser::kAborted)) {
        // Part of a list is no list: the modules after the fault would go unread unseen.
        unreadable(*file, objcFormat("it does not parse at line %li: %@",
                                     error ? error->line : parser.lineNumber(),
                                     error ? error->description : std::string()));
        return false;
    }
    // Modules the vehicle does not have (another chassis, another bus, not common) are data;
    // a document without any module is not the list.
    if (moduleElements == 0) {
        unreadable(*file, "it holds no module");
        return false;
    }

    if (manufacturer == make(M::Mitsubishi) && bus == 4) mergeMitsubishiAbsModules(modules, bus);
    removeUnsupportedPinModules(modules);
    m_infoKeyedByBus.setObject(std::move(modules), std::to_string(bus));
    return true;
}

void QZEnhancedDiagnosticXMLParser::unreadable(const std::string& file, const std::string& why) {
    QZELogging::shared().logError("Module list %@ could not be read: %@", file, why);
    m_unreadableFiles.push_back(file);
}

void QZEnhancedDiagnosticXMLParser::mergeMitsubishiAbsModules(QZEModuleList& modules,
                                                              int64_t bus) const {
    auto isAbs = [](const QZEModuleDataPtr& m) {
        return m->accronym() && m->accronym()->find("ABS") != std::string::npos;
    };
    if (std::count_if(modules.begin(), modules.end(), isAbs) < 2) return;

    // Each rate keeps what differs between the units: the table, the address, the erase
    // request and the J2012 codes.
    QZEDictionary baudRates;
    for (const auto& module : modules) {
        if (!isAbs(module)) continue;
        // A module without a baud rate or a bit table has nothing to add to the table.
        const auto baud = module->extra("baud_hex").text();
        const auto table = module->extra("dtcBitEncodedDitct");
        if (!baud || table.isNull()) continue;
        QZEDictionary unit{{"dtcBitEncodedDitct", table}};
        if (auto id = module->requestId()) unit["Request_ID"] = *id;
        for (const char* key : {"Clear_ID", "dtcJ2012EncodedDict"})
            if (auto value = module->extra(key); !value.isNull()) unit[key] = value;
        baudRates[*baud] = std::move(unit);
    }
    std::erase_if(modules, isAbs);

    auto braking = std::make_shared<QZEModuleData>();
    braking->setDescription("Braking");
    braking->setRequestId("04");
    braking->setAccronym("ABS");
    braking->setCommon(true);
    braking->setBusType(std::to_string(bus));
    braking->setExtras(QZEDictionary{{"first", "1"}, {"baud_rates", std::move(baudRates)}});
    modules.insert(modules.begin(), std::move(braking));
}

void QZEnhancedDiagnosticXMLParser::removeUnsupportedPinModules(QZEModuleList& modules) const {
    std::erase_if(modules, [](const QZEModuleDataPtr& module) {
        const auto pins = module->extra("pins");
        if (pins.isNull()) return false;
        if (QZEnhancedUtils::checkFwIsAtLeast(400, "PIN Switching")) return false;
        const auto text = pins.text();
        if (text && std::find(kPinsWithoutSwitching.begin(), kPinsWithoutSwitching.end(), *text) !=
                        kPinsWithoutSwitching.end())
            return false;
        QZELogging::shared().logInfo("Removing unsupported module (%@) on pin %@",
                                     module->description(), text);
        return true;
    });
}

bool QZEMSCanHelper::isMsCanSupportedByVin(const std::optional<std::string>& vin) const {
    if (!vin || vin->size() != 17) return false;
    auto path = DefinitionFile::path("ms_vin_mappings", "json");
    if (!path) return false;
    auto data = DefinitionFile::load(*path);
    if (!data) return false;
    const auto table = nlohmann::json::parse(data->begin(), data->end(), nullptr, false);
    if (!table.is_object()) return false;
    auto list = table.find(std::string(1, (*vin)[9]));
    if (list == table.end() || !list->is_array()) return false;
    const std::string model = vin->substr(4, 3);
    return std::any_of(list->begin(), list->end(), [&](const auto& v) {
        return v.is_string() && v.template get<std::string>() == model;
    });
}

}  // namespace qz
