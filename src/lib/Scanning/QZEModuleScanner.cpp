#include "lib/Scanning/QZEModuleScanner.hpp"

#include <algorithm>
#include <cctype>
#include <unordered_set>

#include "lib/Descriptions/QZEVagTroubleCodeStore.hpp"
#include "lib/Facades/QZEData.hpp"
#include "lib/Facades/QZEModuleStatusManager.hpp"
#include "lib/Facades/QZEVehicle.hpp"
#include "lib/Logging/QZELogging.hpp"
#include "lib/Modules/Makes/Bmw.hpp"
#include "lib/Modules/Makes/Chrysler.hpp"
#include "lib/Modules/Makes/Ford.hpp"
#include "lib/Modules/Makes/Gm.hpp"
#include "lib/Modules/Makes/Honda.hpp"
#include "lib/Modules/Makes/Hyundai.hpp"
#include "lib/Modules/Makes/Mercedes.hpp"
#include "lib/Modules/Makes/Mitsubishi.hpp"
#include "lib/Modules/Makes/Nissan.hpp"
#include "lib/Modules/Makes/Subaru.hpp"
#include "lib/Modules/Makes/Toyota.hpp"
#include "lib/Modules/Makes/Vag.hpp"
#include "lib/Modules/QZEBaseDiagnosticModule.hpp"
#include "lib/Utils/EnhancedProtocolManufacturer.hpp"
#include "lib/Utils/QZEnhancedUtils.hpp"

namespace qz {

namespace {

using Make = EnhancedProtocolManufacturer;

QZELogging& log() {
    return QZELogging::shared();
}

// The set-up command in the form the settings select ("KQ" or "AT" + suffix).
std::string form(std::string_view suffix) {
    return QZEBaseDiagnosticModule::setupCommand(suffix);
}

bool contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

std::string hexPins(int64_t high, int64_t low) {
    return objcFormat("%lX%lX", high, low);
}

constexpr int kScanAttempts = 3;
constexpr int kKLineRestoreAttempts = 3;
constexpr double kRestorePause = 5.0;
constexpr double kKLineRestorePause = 1.0;

}  // namespace

QZEModuleScanner::QZEModuleScanner()
    : m_vehicleManufacturer(QZEData::sharedData().activeProtocol()) {
    log().logVerbose("Init bus array");
}

QZEModuleScanner::~QZEModuleScanner() {
    log().logVerbose("dealloc");
}

std::optional<int64_t> QZEModuleScanner::busFromReply(std::string_view reply) {
    if (reply.empty() || reply::holdsNoData(reply)) return std::nullopt;
    // An echoed command is its own line.
    auto skipBlanks = [&] {
        while (!reply.empty() && std::isspace(static_cast<unsigned char>(reply.front())))
            reply.remove_prefix(1);
    };
    skipBlanks();
    if (reply.starts_with("KQDP") || reply.starts_with("ATDP")) {
        reply.remove_prefix(4);
        skipBlanks();
    }
    int64_t value = 0;
    size_t digits = 0;
    while (digits < reply.size() && digits < 9 &&
           std::isdigit(static_cast<unsigned char>(reply[digits])))
        value = value * 10 + (reply[digits++] - '0');
    return value;
}

bool QZEModuleScanner::setupScan(int64_t scanType) {
    m_requestType = 1;
    auto& vehicle = QZEVehicle::TheVehicle();
    QZEnhancedDiagnosticXMLParser parser(m_vehicleManufacturer, vehicle.obd2ProtocolString(),
                                         vehicle.vin(), scanType == kQuickScan);
    m_infoKeyedByBus.addEntriesFromOrderedDictionary(parser.loadXml());
    std::string keys;
    for (const auto& key : m_infoKeyedByBus.allKeys())
        keys += (keys.empty() ? "" : ", ") + key + ": " +
                std::to_string(m_infoKeyedByBus.objectForKey(key)->size()) + " modules";
    log().logVerbose("Scan info: %@", "{" + keys + "}");
    // A module scan without a list the make has would report too few modules as a whole scan.
    if (scanType != kCheckEngineScan && !parser.unreadableFiles().empty()) {
        std::string files;
        for (const auto& file : parser.unreadableFiles())
            files += (files.empty() ? "" : ", ") + file;
        log().logError("Scan stopped, module lists could not be read: %@", files);
        return false;
    }
    if (scanType != kCheckEngineScan) noteModulesNeedingFirmware(scanType);
    return setupSensor(scanType != kCheckEngineScan);
}

void QZEModuleScanner::noteModulesNeedingFirmware(int64_t scanType) {
    m_needingFirmware = {};
    if (QZEnhancedUtils::firmwareRead()) return;
    // The lists as a firmware that reaches every minimum would have them: what they hold beyond
    // this scan's lists (made by a guess of the version, or none) is left out for the firmware
    // alone.
    QZEnhancedUtils::AssumingNewestFirmware newest;
    auto& vehicle = QZEVehicle::TheVehicle();
    QZEnhancedDiagnosticXMLParser parser(m_vehicleManufacturer, vehicle.obd2ProtocolString(),
                                         vehicle.vin(), scanType == kQuickScan);
    const auto all = parser.loadXml();
    auto listed = [&](const std::string& key, const QZEModuleData& module) {
        const auto* modules = m_infoKeyedByBus.objectForKey(key);
        if (!modules) return false;
        return std::any_of(modules->begin(), modules->end(), [&](const QZEModuleDataPtr& m) {
            return m && m->description() == module.description() &&
                   m->requestId() == module.requestId();
        });
    };
    for (const auto& key : all.allKeys()) {
        QZEModuleList missing;
        for (const auto& module : *all.objectForKey(key))
            if (module && !listed(key, *module)) missing.push_back(module);
        if (!missing.empty()) m_needingFirmware.setObject(std::move(missing), key);
    }
}

bool QZEModuleScanner::prepareForClear() {
    return setupSensor(true);
}

bool QZEModuleScanner::setupSensor(bool notCheckEngine) {
    bool ok = notCheckEngine ? sendSetupCommandToOstrel(form("RP1")) : true;
    m_responseBytesOn = true;

    const QZECommandReply reply = sendCommand(form("DP"));
    log().logVerbose("Response string: %@",
                     reply.text.empty() ? OptionalText() : OptionalText(reply.text));
    // A number cut short may have lost a digit.
    auto bus = reply.cutShort ? std::nullopt : busFromReply(reply.text);
    if (!bus) {
        m_originalBus = kNoBus;
        return false;
    }
    m_originalBus = *bus;

    if (notCheckEngine && isMake(m_vehicleManufacturer, Make::BMW) &&
        contains(QZEVehicle::TheVehicle().obd2ProtocolString().value_or(""), "CAN")) {
        if (!sendSetupCommandToOstrel(objcFormat("%@6F1", form("SH")))) return false;
        if (!sendSetupCommandToOstrel(std::string("\x10") + "KQCD1")) return false;
    }
    log().logVerbose("Original bus is %li", m_originalBus);
    m_activeBus = m_originalBus;
    return ok;
}

// --- Sensor switches ---

bool QZEModuleScanner::prepare(bool accepted) {
    m_prepared = m_prepared && accepted;
    return accepted;
}

// Each switch changes the flag only when the sensor accepted it.
void QZEModuleScanner::multiResponseOnIfOff() {
    if (m_multiRespIsOn) return;
    m_multiRespIsOn = prepare(sendSetupCommandToOstrel(form("X1")));
}

void QZEModuleScanner::headersOnIfOff() {
    if (m_headerDispIsOn) return;
    m_headerDispIsOn = prepare(sendSetupCommandToOstrel(form("H1")));
}

void QZEModuleScanner::headersOffIfOn() {
    if (!m_headerDispIsOn) return;
    m_headerDispIsOn = !prepare(sendSetupCommandToOstrel(form("H0")));
}

void QZEModuleScanner::rawCanOffIfOn() {
    if (!m_rawCanOn) return;
    m_rawCanOn = !prepare(sendPlainSetupCommand("KQCR0"));
}

void QZEModuleScanner::sendCanMask29() {
    prepare(sendSetupCommandToOstrel(objcFormat("%@1FFFFFFF", form("CM"))));
}

void QZEModuleScanner::sendCanMask11() {
    prepare(sendSetupCommandToOstrel(objcFormat("%@7FF", form("CM"))));
}

bool QZEModuleScanner::ensureKLineProtocolActive() {
    if (m_activeBus == 3 || m_activeBus == 4 || m_activeBus == 5) return true;
    log().logVerbose("Changing Active bus to 5");
    if (!sendPlainSetupCommand(form("SP5"))) return false;
    m_activeBus = 5;
    return true;
}

void QZEModuleScanner::initVagGlobalStore() {
    if (!m_vagGlobalCodeStore)
        m_vagGlobalCodeStore = std::make_shared<QZEVagGlobalTroubleCodeStore>();
}

// --- Choosing and preparing a module class ---

std::unique_ptr<QZEDiagnosticModule> QZEModuleScanner::loadModule(int64_t busKey,
                                                                  int32_t scanType) {
    m_prepared = true;
    switch (busKey) {
        case 2:
            headersOffIfOn();
            m_activeBus = 1;
            if (scanType == 1) multiResponseOnIfOff();
            log().logVerbose("Original bus is %li, active is %li", m_originalBus, m_activeBus);
            if (m_originalBus != 1) prepare(sendSetupCommandToOstrel(form("SP1")));
            return std::make_unique<QZEFordPWMDiagnosticModule>();
        case 3: {
            const bool gm = isMake(m_vehicleManufacturer, Make::GM);
            log().logVerbose("Original bus is %li, active is %li", m_originalBus, m_activeBus);
            if (m_activeBus != 2 && prepare(sendSetupCommandToOstrel(form("SP2")))) m_activeBus = 2;
            if (!gm) return std::make_unique<QZEChryslerVPWDiagnosticModule>();
            if (scanType == 1) multiResponseOnIfOff();
            headersOffIfOn();
            return std::make_unique<QZEGmVpwDiagnosticModule>();
        }
        case 4:
        case 96:
        case 99:
            return loadKLineModule(busKey);
        case 12:
            return std::make_unique<QZEHyundaiMutModule>();
        case 1:
        case 7:
        case 9:
        case 10:
        case 11:
        case 58:
        case 95:
        case 97:
        case 98:
            return loadCanModule(busKey, scanType);
        default:
            return nullptr;
    }
}

std::unique_ptr<QZEDiagnosticModule> QZEModuleScanner::loadKLineModule(int64_t busKey) {
    // Not on a K-line bus, no K-line module is read.
    if (!ensureKLineProtocolActive()) {
        prepare(false);
        return nullptr;
    }
    switch (static_cast<Make>(m_vehicleManufacturer)) {
        case Make::Toyota:
            multiResponseOnIfOff();
            headersOnIfOff();
            log().logInfo("Loading Toyota Kline Module");
            return std::make_unique<QZEToyotaKlineDiagnosticModule>();
        case Make::Mercedes: {
            multiResponseOnIfOff();
            headersOnIfOff();
            if (busKey == 96) {
                auto module = std::make_unique<QZEMercedesMBISODiagModule>();
                module->setDelayTransmission(m_delayTransmission);
                log().logInfo("Loading Mercedes MBISO Module");
                m_delayTransmission = false;
                return module;
            }
            if (busKey == 4) {
                auto module = std::make_unique<QZEMercedesKlineDiagnosticModule>();
                module->setDelayTransmission(m_delayTransmission);
                module->setPerformAllMethodScan(m_performAllMercedesModules);
                log().logInfo("Loading Mercedes KLine Module");
                m_delayTransmission = false;
                return module;
            }
            return nullptr;
        }
        case Make::BMW: {
            if (m_activeBus != 4) {
                log().logVerbose("Start BMW KLine Diagnostics");
                m_activeBus = 4;
            }
            auto module = std::make_unique<QZEBmwKlineDiagnosticModule>();
            module->setDelayTransmission(m_delayTransmission);
            module->setUseAlternateMethod(busKey == 99);
            module->setHighPin(m_currentHighPIN);
            m_delayTransmission = false;
            return module;
        }
        case Make::Nissan:
            log().logVerbose("Nissan!");
            multiResponseOnIfOff();
            headersOnIfOff();
            return std::make_unique<QZENissanKWPDiagnosticModule>();
        case Make::Honda:
            log().logVerbose("HONDA!");
            headersOnIfOff();
            rawCanOffIfOn();
            return std::make_unique<QZEHondaKlineDiagnosticModule>();
        case Make::VOLKSWAGEN: {
            log().logVerbose("HONDA!");
            headersOnIfOff();
            rawCanOffIfOn();
            initVagGlobalStore();
            auto module = std::make_unique<QZEVAGKLineModule>(m_vagGlobalCodeStore);
            module->setDelayTransmission(m_delayTransmission);
            m_delayTransmission = false;
            return module;
        }
        case Make::Hyundai: {
            multiResponseOnIfOff();
            headersOnIfOff();
            auto module = std::make_unique<QZEHyundaiKlineModule>();
            module->setDelayTransmission(m_delayTransmission);
            module->setHighPin(m_currentHighPIN);
            m_delayTransmission = false;
            return module;
        }
        case Make::Mitsubishi:
            return std::make_unique<QZEMitsubishiKlineDiagnosticModule>();
        case Make::Subaru:
            multiResponseOnIfOff();
            headersOnIfOff();
            return std::make_unique<QZESubaruKlineDiagnosticModule>();
        default:
            return nullptr;
    }
}

std::unique_ptr<QZEDiagnosticModule> QZEModuleScanner::loadCanModule(int64_t busKey,
                                                                     int32_t scanType) {
    const auto make = static_cast<Make>(m_vehicleManufacturer);
    std::unique_ptr<QZEDiagnosticModule> nissan;
    if (make == Make::Nissan) {
        if (busKey == 97 && m_activeBus != 97) {
            if (prepare(sendSetupCommandToOstrel(form("SP6")))) {
                m_activeBus = 97;
                prepare(sendSetupCommandToOstrel(form("X0")));
            }
        }
        nissan = std::make_unique<QZNissanCanDiagnosticModule>();
        log().logInfo("Loading Nissan CAN Diagnostic Module");
    }
    if (!m_customCanMaskSet) {
        m_customCanMaskSet = true;
        if (make == Make::Honda || busKey == 7 || busKey == 9 || busKey == 10 || busKey == 11)
            sendCanMask29();
        else if (busKey != 95)
            sendCanMask11();
    }
    log().logVerbose("CAN Bus");

    switch (make) {
        case Make::GM:
            if (scanType == 1) multiResponseOnIfOff();
            headersOnIfOff();
            if (busKey == 95 && m_activeBus != 95) {
                log().logInfo("Setting bus formodu GM CAN ON VPW");
                if (prepare(sendSetupCommandToOstrel(form("SP6")))) {
                    m_activeBus = 95;
                    sendCanMask11();
                }
            }
            log().logInfo("Loaded GM CAN Diagnostic Module");
            return std::make_unique<QZEGmCANDiagnosticModule>();
        case Make::Chrysler:
            return std::make_unique<QZEChryslerCANDiagnosticModule>();
        case Make::Ford:
        case Make::Mazda:
            log().logInfo("Loading Ford CAN Diagnostic Module");
            return std::make_unique<QZEFordCANDiagnosticModule>();
        case Make::Toyota:
            log().logInfo("Loading Toyota CAN Diagnostic Module");
            return std::make_unique<QZEToyotaCanDiagnosticModule>();
        case Make::BMW:
            log().logInfo("Loading BMW CAN Diagnostic Module");
            return std::make_unique<QZEBmwCanDiagnosticModule>();
        case Make::Nissan:
            return nissan;
        case Make::Honda:
            log().logInfo("Loading Honda CAN Diagnostic Module");
            return std::make_unique<QZEHondaCanDiagnosticModule>();
        case Make::VOLKSWAGEN:
            initVagGlobalStore();
            if (m_activeBus != 6) {
                if (prepare(sendSetupCommandToOstrel(form("SP6")))) {
                    sendCanMask11();
                    m_activeBus = 6;
                }
            }
            headersOnIfOff();
            if (busKey == 98) {
                if (!m_multiRespIsOn) m_multiRespIsOn = prepare(sendPlainSetupCommand(form("X1")));
                if (!m_rawCanOn) m_rawCanOn = prepare(sendPlainSetupCommand("KQCR1"));
            } else if (busKey == 1) {
                if (m_multiRespIsOn) m_multiRespIsOn = !prepare(sendPlainSetupCommand(form("X0")));
                rawCanOffIfOn();
            }
            log().logInfo("Loading VAG CAN Diagnostic Module");
            return std::make_unique<QZEVAGCanModule>(m_vagGlobalCodeStore);
        case Make::Mercedes:
            return std::make_unique<QZEMercedesCANDiagnosticModule>();
        case Make::Hyundai:
            headersOnIfOff();
            log().logInfo("Loading HYUNDAI CAN Diagnostic Module");
            return std::make_unique<QZEHyundaiCanModule>();
        case Make::Mitsubishi:
            if (m_activeBus != 6 && prepare(sendPlainSetupCommand(form("SP6")))) m_activeBus = 6;
            return std::make_unique<QZEMitsubishiCANDiagnosticModule>();
        case Make::Subaru:
            log().logInfo("Loading Subaru CAN Diagnostic Module");
            return std::make_unique<QZESubaruCanDiagnosticModule>();
        default:
            return nullptr;
    }
}

// --- Reading ---

bool QZEModuleScanner::scanModule(const QZEModuleDataPtr& module, int64_t busKey) {
    if (!module) {
        log().logVerbose("No matching key found for module");
        return false;
    }
    log().logVerbose("found matching key");
    m_currentModule = module;
    return runScan(busKey);
}

bool QZEModuleScanner::runScan(int64_t busKey) {
    m_codeArray.clear();
    m_statusArray.clear();
    m_definitionArray.clear();
    m_readOutcome = QZEReadOutcome::complete;
    log().logVerbose("runscan: bustype :%li,  originalBus: %li, activeBus: %li", busKey,
                     m_originalBus, m_activeBus);
    m_modelYear = QZEVehicle::TheVehicle().modelYear();

    auto object = loadModule(busKey, 1);
    if (!m_prepared && m_currentModule) {
        // Read now, another module (or none) would answer in its place.
        log().logInfo(
            "Module skipped: %@ with request_ID: %@, the sensor did not accept its set-up",
            m_currentModule->description(), m_currentModule->requestId());
        m_readOutcome = QZEReadOutcome::setupRefused;
        return false;
    }
    if (!object || !m_currentModule) {
        log().logError("No Module loaded!!");
        return false;
    }
    QZEModuleData& module = *m_currentModule;
    log().logInfo("Scanning module: %@ with request_ID: %@ manufacturer: %ld", module.description(),
                  module.requestId(), m_vehicleManufacturer);

    auto& status = QZEModuleStatusManager::manager();
    const OptionalText vin = QZEData::sharedData().activeVin();
    const std::string key = moduleKey(module);
    const int64_t best = status.responseStateForModuleKey(key, vin);

    std::unordered_set<std::string> gathered;
    bool ok = false;
    int64_t state = 0;
    for (int attempt = 1; attempt <= kScanAttempts; ++attempt) {
        if (attempt > 1)
            log().logWarning(
                "Retrying module: %@ with request_ID: %@ manufacturer: %ld due to lower response "
                "state, current: %@ highestseen: %@",
                module.description(), module.requestId(), m_vehicleManufacturer,
                responseStateString(state), responseStateString(best));
        object->setReadOutcome(QZEReadOutcome::complete);
        ok = object->scanCodes(module);
        m_readOutcome = object->readOutcome();
        if (!QZEVehicle::TheVehicle().isLinkOpen()) m_readOutcome = QZEReadOutcome::linkLost;
        state = object->responseState();
        status.setResponseState(state, key, vin);
        if (module.responseState() < state) module.setResponseState(state);

        // Repeats are checked against the earlier attempts only: one read may hold several
        // faults under the same text (J2190 faults without a code number).
        const auto& codes = object->codeArray();
        const auto& statuses = object->statusArray();
        const auto& definitions = object->definitionArray();
        std::vector<std::string> added;
        for (size_t i = 0; i < codes.size(); ++i) {
            const std::string codeStatus = i < statuses.size() ? statuses[i] : std::string();
            std::string text = codes[i] + "-" + codeStatus;
            if (gathered.contains(text)) continue;
            added.push_back(std::move(text));
            m_codeArray.push_back(codes[i]);
            m_statusArray.push_back(codeStatus);
            m_definitionArray.push_back(i < definitions.size() ? definitions[i] : std::string());
        }
        gathered.insert(added.begin(), added.end());
        m_requestType = object->requestType();
        // Negative answers alone count as no answer, now and in the state remembered.
        if (countedResponseState(state, !m_codeArray.empty()) >= countedResponseState(best, false))
            break;
    }
    log().logInfo(
        "Scanning module complete: %@ with request_ID: %@ manufacturer: %ld found %lu codes -- "
        "%@  ",
        module.description(), module.requestId(), m_vehicleManufacturer, object->codeArray().size(),
        responseStateString(module.responseState()));
    return ok;
}

std::string QZEModuleScanner::moduleKey(const QZEModuleData& module) {
    auto& vehicle = QZEVehicle::TheVehicle();
    return objcFormat("%@ %@ lowpin:%@ highpin:%@ bus:%@", module.moduleDescription(),
                      module.requestResponseKey(), std::to_string(vehicle.activeLowPin()),
                      std::to_string(vehicle.activeHighPin()), std::to_string(m_activeBus));
}

std::string QZEModuleScanner::responseStateString(int64_t state) {
    return QZEModuleStatusManager::responseStateString(state);
}

// --- Clearing ---

bool QZEModuleScanner::clearModule(const QZEModuleDataPtr& module, int64_t busKey) {
    m_codeArray.clear();
    log().logVerbose("Code Array Count %lu", m_codeArray.size());
    if (!module) {
        log().logVerbose("No matching key found for module");
        return false;
    }
    log().logVerbose("found matching key");
    m_currentModule = module;
    const bool ok = clearCodes(busKey);
    exitScanMode();
    return ok;
}

bool QZEModuleScanner::clearCodes(int64_t busKey) {
    m_modelYear = QZEVehicle::TheVehicle().modelYear();
    if (!m_currentModule) return false;
    const QZEModuleData& module = *m_currentModule;
    auto has = [&](const char* key) { return !module.extra(key).isNull(); };

    // A clear on a bus the sensor refused to select would reach another module, or none.
    if (has("*GM_LAN")) return sendSetupCommandToOstrel("KQSP:") && performClearCodesOnBus(busKey);
    if (has("*HSCAN")) {
        const bool ok = sendSetupCommandToOstrel("KQSM3B") && performClearCodesOnBus(busKey);
        sendSetupCommandToOstrel("KQSM6E");
        return ok;
    }
    if (has("*MSCAN")) {
        const bool ok = sendSetupCommandToOstrel("KQSP=") && performClearCodesOnBus(busKey);
        sendSetupCommandToOstrel(form("SP6"));
        return ok;
    }
    if (isMake(m_vehicleManufacturer, Make::Toyota) && module.extraFlag("isExtCAN"))
        return performToyotaExtendedCANClear(module);
    if (isMake(m_vehicleManufacturer, Make::Honda) && module.busType() == "4" &&
        module.extraFlag("wasReadOnDiagH")) {
        QZEHondaKlineDiagnosticModule::setDIAGH(true);
        const bool ok = sendSetupCommandToOstrel("KQSP;") && sendSetupCommandToOstrel("KQIF5") &&
                        performClearCodesOnBus(busKey);
        QZEHondaKlineDiagnosticModule::setDIAGH(false);
        sendSetupCommandToOstrel(form("SP5"));
        return ok;
    }
    if (busKey == 12) {
        for (const std::string& cmd : {std::string("KQSP5"), std::string("KQSMC0"), form("X0"),
                                       std::string("KQSH8040F1"), form("IFP")})
            if (!sendPlainSetupCommand(cmd)) return false;
        // The erase routine started (its positive answer "71 01" from the MUT line's unit 40):
        // the codes are cleared a first time.
        QZEAsked started =
            QZEAsked::of("31", QZEFraming::kLine, QZEVehicle::TheVehicle().displayForm());
        started.from = {"40"};
        const auto reply = QZEModuleReply::classify(sendCommand("06 31 01 00 00 00 00"), started);
        if (reply.answered() && reply.messages.front() == QZEMessageBytes{"71", "01"})
            performClearCodesOnBus(12);
        sendCommandToOstrel("06 31 02 00 00 00 00");
        return performClearCodesOnBus(12);
    }
    return performClearCodesOnBus(busKey);
}

bool QZEModuleScanner::performToyotaExtendedCANClear(const QZEModuleData&) {
    return sendSetupCommandToOstrel(form("SH") + "750") &&
           sendSetupCommandToOstrel(form("CF") + "758") && sendSetupCommandToOstrel("KQCD1") &&
           performClearCodesOnBus(1);
}

std::string QZEModuleScanner::activePins() {
    auto& vehicle = QZEVehicle::TheVehicle();
    return hexPins(vehicle.activeHighPin(), vehicle.activeLowPin());
}

bool QZEModuleScanner::performClearCodesOnBus(int64_t busKey) {
    auto object = loadModule(busKey, 0);
    if (!m_prepared) return false;
    const std::string before = activePins();
    bool onPins = true;
    if (m_currentModule) {
        auto pins = m_currentModule->extra("RESPONSE_PIN_COMMAND").text();
        if (pins && *pins != before) {
            log().logInfo("Has alternate pins, switching to : %@ from %@", *pins, before);
            onPins = sendSetupCommandToOstrel("KQSM" + *pins);
            resetTransmissionDelay();
        }
    }
    const bool ok =
        onPins && object && m_currentModule ? object->clearCodes(*m_currentModule) : false;
    if (activePins() != before) {
        log().logInfo("Resetting PINSt to %@", before);
        sendSetupCommandToOstrel("KQSM" + before);
    }
    return ok;
}

// --- Restoring ---

void QZEModuleScanner::exitScanMode() {
    auto linkOpen = [] { return QZEVehicle::TheVehicle().isLinkOpen(); };
    // A sensor that is gone has nothing to restore: no pause, no commands.
    if (!linkOpen()) {
        log().logInfo("Link to the sensor closed, nothing to restore");
        m_restoreAccepted = false;
        return;
    }
    QZEVehicle::TheVehicle().pause(kRestorePause);
    m_restoreAccepted = true;
    // The restore runs whole, whatever the sensor answers to each command, while the link lasts:
    // once it is gone nothing more is sent, and nothing was refused.
    auto restore = [this, &linkOpen](const std::string& cmd) {
        if (!linkOpen()) return;
        const QZESetupAnswer answer = QZEVehicle::TheVehicle().sendSetupCommand(cmd);
        if (answer == QZESetupAnswer::accepted || !linkOpen()) return;
        // Silence is not a refusal: neither tells that the sensor is back as it was.
        if (answer == QZESetupAnswer::refused)
            log().logError("Restore command refused: %@", cmd);
        else
            log().logError("Restore command not answered: %@", cmd);
        m_restoreAccepted = false;
    };
    // Requests to the vehicle that wake it: their answers say nothing of the sensor's state.
    auto wake = [&linkOpen](const std::string& cmd) {
        if (linkOpen()) QZEVehicle::TheVehicle().sendSetupCommandToOstrel(cmd);
    };
    const bool specialCan = m_activeBus == 95 || m_activeBus == 97;
    if (!specialCan && m_originalBus <= 10) restore(objcFormat("%@%li", form("SP"), m_originalBus));
    if (m_customCanMaskSet) {
        const bool bus29 = m_originalBus == 7 || m_originalBus == 9;
        restore(form("CM") + (bus29 ? "FFFFFF00" : "7F8"));
    }
    if (specialCan && m_originalBus <= 10) restore(objcFormat("%@%li", form("SP"), m_originalBus));
    restore(form("D"));
    wake("010D");

    auto restoreCan = [&](const char* id) {
        restore(form("SH") + id);
        restore(form("CF") + id);
        wake("3E");
        restore(form("D"));
    };
    if (m_originalBus == 6 || m_originalBus == 8) restoreCan("7FF");
    if (m_originalBus == 7 || m_originalBus == 9) restoreCan("1FFFFFFF");

    if (m_originalBus >= 3 && m_originalBus <= 5) {
        bool reinitialised = false;
        for (int attempt = 0; attempt < kKLineRestoreAttempts && !reinitialised; ++attempt) {
            reinitialised = QZEVehicle::TheVehicle().sendSetupCommandToOstrel(form("X0"), true);
            if (reinitialised) {
                log().logVerbose("KLine bus reinitialized successfully");
            } else if (!linkOpen()) {
                break;  // no pause for a link that is gone
            } else {
                log().logVerbose("Sleeping for 1 second");
                QZEVehicle::TheVehicle().pause(kKLineRestorePause);
            }
        }
        if (!reinitialised) log().logVerbose("KLine bus DID NOT reinitialize successfully");
    }
    if (!QZEData::sharedData().useNewCommandSet())
        for (const char* cmd : {"ATX0", "ATL0", "ATE0", "ATH0", "ATRP0", "ATX0"}) restore(cmd);
}

// --- Sensor traffic ---

bool QZEModuleScanner::sendSetupCommandToOstrel(const std::string& cmd) {
    return QZEBaseDiagnosticModule::setupTaken(cmd, QZEVehicle::TheVehicle().sendSetupCommand(cmd));
}

bool QZEModuleScanner::sendPlainSetupCommand(const std::string& cmd) {
    const QZECommandReply reply = sendCommand(cmd);
    QZESetupAnswer answer = QZESetupAnswer::refused;
    // An "OK" is taken only from a reply that came whole.
    if (!reply.cutShort && reply::isAccepted(reply.text))
        answer = QZESetupAnswer::accepted;
    else if (reply.text == QZVehicleCommunicationProtocol::kNoDataReply ||
             (reply.cutShort && reply::tokens(reply.text).empty()))
        answer = QZESetupAnswer::unanswered;  // the exchange failed
    return QZEBaseDiagnosticModule::setupTaken(cmd, answer);
}

std::string QZEModuleScanner::sendCommandToOstrel(const std::string& cmd) {
    return sendCommand(cmd).text;
}

QZECommandReply QZEModuleScanner::sendCommand(const std::string& cmd) {
    return QZEVehicle::TheVehicle().sendCommand(cmd);
}

}  // namespace qz
