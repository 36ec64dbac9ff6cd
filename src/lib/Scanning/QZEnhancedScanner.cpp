#include "lib/Scanning/QZEnhancedScanner.hpp"

#include <algorithm>
#include <unordered_set>

#include "lib/Facades/QZEData.hpp"
#include "lib/Facades/QZEVehicle.hpp"
#include "lib/Logging/QZELogging.hpp"
#include "lib/Modules/Makes/Bmw.hpp"
#include "lib/Modules/Makes/Honda.hpp"
#include "lib/Modules/Makes/Hyundai.hpp"
#include "lib/Modules/Makes/Mercedes.hpp"
#include "lib/Modules/QZEBaseDiagnosticModule.hpp"
#include "lib/Utils/EnhancedProtocolManufacturer.hpp"
#include "lib/Utils/QZEnhancedUtils.hpp"
#include "platform/DispatchQueue.hpp"
#include "platform/Locked.hpp"

namespace qz {

namespace {

using Make = EnhancedProtocolManufacturer;

QZELogging& log() {
    return QZELogging::shared();
}

std::string form(std::string_view suffix) {
    return QZEBaseDiagnosticModule::setupCommand(suffix);
}

// The same module of the lists, read again (by another pass or on another bus).
bool sameModule(const QZEModuleData& a, const QZEModuleData& b) {
    return a.accronym() == b.accronym() && a.requestId() == b.requestId() &&
           a.responseId() == b.responseId();
}

// Runs `work` on the main queue: at once when already there.
void onMainQueue(DispatchQueue::Work work) {
    if (DispatchQueue::isMainThread())
        work();
    else
        DispatchQueue::main()->async(std::move(work));
}

int64_t keyNumber(const std::string& key) {
    return QZEValue(key).integerValue();
}

int64_t firmware() {
    return QZEnhancedUtils::firmwareNumber();
}

// The high pin a K-line list is read on without a pin pass (the K-line protocol's pins, 7/0).
constexpr int64_t kKLineHighPin = 7;

// The high pins a pin pass reads a list on with a firmware that reaches every minimum.
std::vector<int64_t> newestHighPins(std::vector<int64_t> (*highPins)()) {
    QZEnhancedUtils::AssumingNewestFirmware newest;
    return highPins();
}

// The methods of passes that read a bus's modules again.
constexpr const char* kMsCan = "MS-CAN";
constexpr const char* kHsCan = "HS-CAN pins 3/11";
constexpr const char* kDiagH = "DIAG-H";

// The acronym suffix of a Honda unit's DIAG-H reading.
constexpr const char* kDiagHMark = "*DIAGH";

constexpr const char* kKeyFlickMessage = "A Keyflick is required before this scan.";
constexpr double kInteractionPoll = 1.0;

}  // namespace

class QZEnhancedScanner::PassLine {
  public:
    // The pins or the method given (the others of the pass in force stay).
    PassLine(QZEnhancedScanner& scanner, const Line& changes)
        : scanner_(scanner), saved_(scanner.m_pass) {
        if (!changes.pins.empty()) scanner_.m_pass.pins = changes.pins;
        if (!changes.method.empty()) scanner_.m_pass.method = changes.method;
    }
    ~PassLine() { scanner_.m_pass = saved_; }
    PassLine(const PassLine&) = delete;
    PassLine& operator=(const PassLine&) = delete;

  private:
    QZEnhancedScanner& scanner_;
    const Line saved_;
};

QZEnhancedScanner::QZEnhancedScanner() {
    auto& center = NotificationCenter::defaultCenter();
    auto linkLost = [flags = m_flags](const Notification&) {
        flags->note(QZEReadOutcome::linkLost);
    };
    m_observers.push_back(
        center.addObserver(QZEModuleNotifications::kDeviceDisconnected, linkLost));
    m_observers.push_back(center.addObserver(QZEModuleNotifications::kDeviceTimedOut, linkLost));
}

QZEnhancedScanner::~QZEnhancedScanner() {
    auto& center = NotificationCenter::defaultCenter();
    for (auto token : m_observers) center.removeObserver(token);
}

QZEReadOutcome QZEnhancedScanner::scanOutcome() const {
    const auto noted = static_cast<QZEReadOutcome>(m_flags->outcome.load());
    // A BLE link reports its end on the queue the scan holds: the link itself tells sooner.
    if (noted != QZEReadOutcome::linkLost && !QZEVehicle::TheVehicle().isLinkOpen())
        return QZEReadOutcome::linkLost;
    return noted;
}

void QZEnhancedScanner::noteOutcome(QZEReadOutcome outcome) {
    m_flags->note(outcome);
}

void QZEnhancedScanner::setScanErrorDuringScan(bool value) {
    if (value)
        m_flags->note(QZEReadOutcome::linkLost);
    else
        m_flags->outcome = static_cast<int>(QZEReadOutcome::complete);
}

bool QZEnhancedScanner::mayReadGenericCodes() {
    if (linkGone()) return false;
    return !m_scanner || m_scanner->restoreAccepted();
}

bool QZEnhancedScanner::linkGone() {
    if (!linkLost()) return false;
    // Noted where the scan stops for it: a link that comes back does not make the scan whole.
    noteOutcome(QZEReadOutcome::linkLost);
    return true;
}

std::shared_ptr<QZEEnhancedScannerDelegate> QZEnhancedScanner::delegate() const {
    return lockedCopy(m_mutex, m_delegate).lock();
}

void QZEnhancedScanner::setDelegate(std::weak_ptr<QZEEnhancedScannerDelegate> delegate) {
    lockedAssign(m_mutex, m_delegate, std::move(delegate));
}

// --- Loading ---

std::shared_ptr<QZEModuleScanner> QZEnhancedScanner::makeModuleScanner() {
    return std::make_shared<QZEModuleScanner>();
}

int64_t QZEnhancedScanner::loadScan(int64_t scanType) {
    m_scanner = makeModuleScanner();
    if (!m_scanner->setupScan(scanType)) {
        log().logError("Scanner setup failed");
        return 0;
    }
    log().logInfo("dictionay has %td entries", m_scanner->moduleDictionary().count());
    m_totalModules = 2;
    if (scanType != kCheckEngineScan)
        m_totalModules += countModulesForScan(m_scanner->moduleDictionary());
    log().logInfo("Loading scan with %@ modules found", std::to_string(m_totalModules));
    return m_totalModules;
}

int32_t QZEnhancedScanner::countModulesForScan(const QZEModuleListsByBus& modules) {
    log().logVerbose("dictionay has %td entries", modules.count());
    const int64_t fw = firmware();
    const int64_t make = QZEVehicle::TheVehicle().vehicleDataManufacturer();
    const size_t buses = modules.count();
    int64_t total = 0;
    for (const auto& key : modules.allKeys()) {
        const int64_t n = static_cast<int64_t>(modules.objectForKey(key)->size());
        const int64_t bus = keyNumber(key);
        const bool kline = bus == 4 || bus == 99;
        if (kline && isMake(make, Make::Hyundai))
            total += n * static_cast<int64_t>(QZEHyundaiKlineModule::getHighPINs().size());
        else if (kline && isMake(make, Make::BMW))
            total += n * static_cast<int64_t>(QZEBmwKlineDiagnosticModule::getHighPINs().size());
        else if (fw >= 401 && (isMake(make, Make::Ford) || isMake(make, Make::Mazda)) && key == "1")
            total += 2 * n;
        else if (fw >= 402 && isMake(make, Make::Honda) && buses == 1 && key == "4")
            total = n + 5;
        else if (!isMake(make, Make::Mercedes) || fw < 405)
            total += n;
        else if (!kline && bus != 96)
            total += n;
        else
            total +=
                n * static_cast<int64_t>(QZEMercedesKlineDiagnosticModule::getHighPINs().size());
    }
    return static_cast<int32_t>(total);
}

bool QZEnhancedScanner::isManufacturer(int64_t make) {
    return QZEVehicle::TheVehicle().vehicleDataManufacturer() == make;
}

bool QZEnhancedScanner::doesEnhancedScannerSupportCurrentManufacturer() {
    for (Make m : {Make::GM, Make::Ford, Make::Toyota, Make::Honda, Make::Mercedes, Make::Hyundai,
                   Make::Mazda})
        if (isManufacturer(static_cast<int64_t>(m))) return true;
    return false;
}

bool QZEnhancedScanner::keyFlickRequiredBeforeScan() const {
    return isManufacturer(static_cast<int64_t>(Make::BMW));
}

void QZEnhancedScanner::scanComplete(const QZEModuleArray&) {}

void QZEnhancedScanner::interactionComplete() {
    NotificationCenter::defaultCenter().post(QZEModuleNotifications::kInteractionComplete);
    m_awaitingInteraction = false;
}

// --- Running ---

void QZEnhancedScanner::startScan(int64_t) {
    if (!m_scanner) {
        log().logError("'loadScan' not called, nothing will happen, call it first!!");
        return;
    }
    if (keyFlickRequiredBeforeScan()) {
        if (auto d = delegate()) {
            m_awaitingInteraction = true;
            d->interactionRequired(kKeyFlickMessage);
            // Ends with interactionComplete, or when the link goes away.
            while (m_awaitingInteraction && !linkGone())
                QZEVehicle::TheVehicle().pause(kInteractionPoll);
        } else {
            log().logWarning("No delegate to ask for the key flick, scanning without it");
        }
    }

    // The lists a known firmware would have: not read while it is not known.
    const auto& needingFirmware = m_scanner->modulesNeedingFirmware();
    for (const auto& key : needingFirmware.allKeys())
        noteSkipped(*needingFirmware.objectForKey(key), key, Missed::firmware);

    const int64_t make = QZEVehicle::TheVehicle().vehicleDataManufacturer();
    if (doesEnhancedScannerSupportCurrentManufacturer()) {
        performEnhancedScanForManufacturer(make, m_scanner, lockedCopy(m_mutex, m_delegate));
        restore();
        return;
    }

    auto& dictionary = m_scanner->moduleDictionary();
    int64_t scanned = 0;
    for (const auto& key : dictionary.allKeys()) {
        if (linkGone()) break;
        const QZEModuleArray modules = *dictionary.objectForKey(key);
        const int64_t bus = keyNumber(key);
        // Without its protocol the bus's modules are not read.
        if (key == "10" && !setUp(*m_scanner, "KQSP<", true)) {
            noteSkipped(modules, key);
            continue;
        }
        if ((bus == 4 || bus == 99) && isMake(make, Make::BMW)) {
            if (bus == 4) {
                QZEnhancedScanner bmw;
                bmw.noteOutcome(scanOutcome());
                bmw.performEnhancedScanForManufacturer(make, m_scanner,
                                                       lockedCopy(m_mutex, m_delegate));
                noteOutcome(bmw.scanOutcome());
                m_ledger.take(bmw.m_ledger);
            } else {
                log().logInfo(
                    "Skipping old implementationm for BMW Alternate KLine bus, as its handled "
                    "elsewhere");
            }
            continue;
        }
        // The modules kept, as this thread's copies, and the records delivered beside them: once
        // delivered, a record is changed on the receiver's queue only.
        QZEModuleArray kept;
        QZEModuleArray delivered;
        for (const auto& module : modules) {
            if (linkGone()) break;
            ++scanned;
            log().logInfo("Scanning module %li of %li, progress %f", scanned, m_totalModules,
                          m_totalModules > 0 ? static_cast<double>(scanned) / m_totalModules : 0.0);
            auto result = filterEnhancedData(module, *m_scanner, kept, key);
            if (result) {
                populateCodeDefs(*result);
                kept.push_back(result->copy());
                delivered.push_back(result);
            }
            if (!module) continue;
            deliver(module);
            if (result || module->codeList().value_or(std::vector<std::string>{}).empty()) continue;
            // A duplicate: the codes it added reach the module kept.
            for (size_t i = 0; i < kept.size(); ++i)
                if (sameModule(*kept[i], *module)) deliverCodes(delivered[i], *kept[i]);
        }
    }
    restore();
}

void QZEnhancedScanner::restore() {
    logModulesNotRead();
    m_scanner->exitScanMode();
    // Not back on its starting bus, the sensor would read the generic codes of another.
    if (!linkGone() && !m_scanner->restoreAccepted()) noteOutcome(QZEReadOutcome::setupRefused);
}

bool QZEnhancedScanner::setUp(QZEModuleScanner& scanner, const std::string& cmd, bool plain) {
    if (plain ? scanner.sendPlainSetupCommand(cmd) : scanner.sendSetupCommandToOstrel(cmd))
        return true;
    // The modules that need it are not read, and the scan cannot say it read them all.
    noteOutcome(QZEReadOutcome::setupRefused);
    return false;
}

void QZEnhancedScanner::readModule(const QZEModuleDataPtr& record, QZEModuleScanner& scanner,
                                   const std::string& busKey, const QZEModuleDataPtr& listed) {
    // A module on pins of its own needs the firmware's pin switching: on the pins in force it
    // would be taken for one that is not there.
    const auto ownPins = record->extra("pins").text();
    if (ownPins && ownPins->size() == 2 && !QZEnhancedUtils::firmwareRead() &&
        !firmwareLets(QZEnhancedUtils::checkFwIsAtLeast(400, "PIN SWITCHING"), {listed}, busKey))
        return;
    scanner.scanModule(record, keyNumber(busKey));
    // Its codes so far are reported, and the scan reads on to end in its communication error.
    // With none found nothing is known of it: it is left out as a module that did not answer.
    const QZEReadOutcome outcome = scanner.readOutcome();
    noteOutcome(outcome);
    if (outcome != QZEReadOutcome::complete && scanner.codeArray().empty())
        record->setResponseState(ResponseStateNoData);
    record->setCodeList(scanner.codeArray());
    record->setStatusList(scanner.statusArray());
    record->setDefinitionList(scanner.definitionArray());
    record->setRequestType(scanner.requestType());
    // A module that answered was read, whatever else its read met; one whose read a set-up not
    // accepted cut short is not known to be silent.
    if (countedResponseState(record->responseState(), !scanner.codeArray().empty()) >=
        ResponseStateHasData)
        m_ledger.answered(listed, lineOf(busKey));
    else if (outcome == QZEReadOutcome::setupRefused)
        m_ledger.skipped({listed}, lineOf(busKey), Missed::setUp);
}

QZEModuleDataPtr QZEnhancedScanner::filterEnhancedData(const QZEModuleDataPtr& module,
                                                       QZEModuleScanner& scanner,
                                                       QZEModuleArray& kept,
                                                       const std::string& busKey) {
    if (!module) return nullptr;
    log().logInfo("Scanning module: %@ address: %@", module->accronym(), module->requestId());
    readModule(module, scanner, busKey, module);
    const auto codes = module->codeList().value_or(std::vector<std::string>{});
    if (codes.empty()) return nullptr;
    const auto statuses = module->statusList().value_or(std::vector<std::string>{});
    const auto definitions = module->definitionList().value_or(std::vector<std::string>{});

    bool duplicate = false;
    for (const auto& other : kept) {
        if (!sameModule(*other, *module)) continue;
        duplicate = true;
        auto otherCodes = other->codeList().value_or(std::vector<std::string>{});
        auto otherStatuses = other->statusList().value_or(std::vector<std::string>{});
        auto otherDefinitions = other->definitionList().value_or(std::vector<std::string>{});
        const size_t compared = std::min(otherCodes.size(), otherStatuses.size());
        for (size_t i = 0; i < codes.size(); ++i) {
            const std::string status = i < statuses.size() ? statuses[i] : std::string();
            bool held = false;
            for (size_t j = 0; j < compared && !held; ++j)
                held = otherCodes[j] == codes[i] && otherStatuses[j] == status;
            if (held) continue;
            otherCodes.push_back(codes[i]);
            otherStatuses.push_back(status);
            if (i < definitions.size()) otherDefinitions.push_back(definitions[i]);
        }
        other->setCodeList(std::move(otherCodes));
        other->setStatusList(std::move(otherStatuses));
        other->setDefinitionList(std::move(otherDefinitions));
    }
    if (duplicate) return nullptr;
    log().logInfo("Found codes %td codes for module: %@", codes.size(), module->description());
    populateCodeDefs(*module);
    return module;
}

// --- Reading buses ---

void QZEnhancedScanner::deliver(const QZEModuleDataPtr& module) {
    // The receiver may change the record on the main queue; a later read starts from this copy.
    m_delivered.insert_or_assign(module, module->copy());
    auto d = delegate();
    if (d) onMainQueue([d, module] { d->scannedModule(module); });
}

void QZEnhancedScanner::deliverCodes(const QZEModuleDataPtr& record, const QZEModuleData& from) {
    onMainQueue([record, codes = from.codeList(), statuses = from.statusList(),
                 definitions = from.definitionList()] {
        record->setCodeList(codes);
        record->setStatusList(statuses);
        record->setDefinitionList(definitions);
    });
}

QZEModuleArray QZEnhancedScanner::scanModules(const QZEModuleArray& modules,
                                              const std::string& busKey, QZEModuleScanner& scanner,
                                              const Marker& mark) {
    return readBus(modules, busKey, scanner, mark, false);
}

QZEModuleArray QZEnhancedScanner::readBus(const QZEModuleArray& modules, const std::string& busKey,
                                          QZEModuleScanner& scanner, const Marker& mark,
                                          bool alwaysCopy) {
    log().logVerbose("Scanning modules on bus %@", busKey);
    QZEModuleArray found;
    for (size_t i = 0; i < modules.size(); ++i) {
        if (linkGone()) break;
        const QZEModuleDataPtr& listed = modules[i];
        QZEModuleDataPtr module = listed;
        if (!module) continue;
        // A record that was read (and reported) before is read again as a new record, so what
        // was reported stays as it was.
        if (auto delivered = m_delivered.find(module); delivered != m_delivered.end()) {
            module = delivered->second->copy();
            module->removeExtra("RESPONSE_PIN_COMMAND");
        } else if (alwaysCopy || (module->codeList() && !module->codeList()->empty())) {
            module = module->copy();
            module->removeExtra("RESPONSE_PIN_COMMAND");
        }
        log().logVerbose("Scanning module: %@ address: %@ (%d of %ld)", module->accronym(),
                         module->requestId(), static_cast<int>(i + 1),
                         static_cast<long>(modules.size()));
        readModule(module, scanner, busKey, listed);
        const bool hasCodes = module->codeList() && !module->codeList()->empty();
        if (hasCodes) {
            log().logVerbose("Found codes %td codes for module: %@", module->codeList()->size(),
                             module->description());
            found.push_back(module);
        }
        // The code texts first: BMW texts are looked up under the acronym as listed.
        populateCodeDefs(*module);
        // Every module that answered carries its bus or pins in its name, codes or none: a
        // name shown by one scan names the same module in the next.
        const bool answered =
            countedResponseState(module->responseState(), hasCodes) >= ResponseStateHasData;
        if (answered && mark) mark(*module);
        deliver(module);
    }
    return found;
}

std::string QZEnhancedScanner::pinSwitchCommand(int64_t pinValue) const {
    return objcFormat("%@%lX", "KQSM", pinValue);
}

std::expected<QZEModuleArray, QZEScanCallError> QZEnhancedScanner::scanModules(
    const QZEModuleArray& modules, const std::string& busKey, const std::vector<int64_t>& highPins,
    const std::optional<std::vector<int64_t>>& lowPins, QZEModuleScanner& scanner, bool,
    const Marker& mark) {
    if (lowPins && lowPins->size() != highPins.size())
        return std::unexpected(QZEScanCallError{
            "Invalid Low Pins",
            "Invalid number of low pins for high pins - must be 1:1 or low pins should be nil"});
    QZEModuleArray found;
    for (size_t i = 0; i < highPins.size(); ++i) {
        if (linkGone()) break;
        const int64_t high = highPins[i];
        const std::optional<int64_t> low =
            lowPins ? std::optional<int64_t>((*lowPins)[i]) : std::nullopt;
        const int64_t pins = QZEnhancedUtils::getPinValueForPinsWithHighPin(high, low);
        const std::string command = pinSwitchCommand(pins);
        log().logVerbose("Sending pin switch command: %@", command);
        PassLine onPins(*this, {.bus = {}, .pins = objcFormat("%lX", pins), .method = {}});
        // Not on these pins: their modules are not read.
        if (!setUp(scanner, command)) {
            noteSkipped(modules, busKey);
            continue;
        }
        scanner.resetTransmissionDelay();
        scanner.setHighPin(high);
        scanner.setLowPin(low.value_or(0));
        auto marked = [&](QZEModuleData& module) {
            if (!module.extra("RESPONSE_PIN_COMMAND").isNull())
                module.setAccronym(objcFormat("%@-%lX", module.accronym(), pins));
            if (mark) mark(module);
        };
        auto read = readBus(modules, busKey, scanner, marked, true);
        found.insert(found.end(), read.begin(), read.end());
    }
    return found;
}

// --- Make strategies ---

const QZEModuleArray* QZEnhancedScanner::modulesOf(QZEModuleScanner& scanner,
                                                   const std::string& key) const {
    return scanner.moduleDictionary().objectForKey(key);
}

void QZEnhancedScanner::performEnhancedScanForManufacturer(
    int64_t make, const std::shared_ptr<QZEModuleScanner>& scanner,
    std::weak_ptr<QZEEnhancedScannerDelegate> caller) {
    if (!scanner) return;
    switch (static_cast<Make>(make)) {
        case Make::GM:
            setDelegate(std::move(caller));
            return performGMScan(*scanner);
        case Make::Hyundai:
            setDelegate(std::move(caller));
            return performHyundaiScan(*scanner);
        case Make::Toyota:
            setDelegate(std::move(caller));
            return performToyotaScan(*scanner);
        case Make::BMW:
            setDelegate(std::move(caller));
            return performBMWKBusScan(*scanner);
        case Make::Honda:
            setDelegate(std::move(caller));
            return performHondaScan(*scanner);
        case Make::Mercedes:
            setDelegate(std::move(caller));
            return peformMercedesScan(*scanner);
        case Make::Ford:
        case Make::Mazda:
            setDelegate(std::move(caller));
            return performFordScan(*scanner, fordReadsMsCan(make));
        default:
            return;
    }
}

bool QZEnhancedScanner::fordReadsMsCan(int64_t make) {
    const auto vin = QZEData::sharedData().activeVin();
    if (!isMake(make, Make::Ford) || QZEnhancedUtils::vehicleYearFromVINString(vin) < 2010)
        return true;
    return QZEMSCanHelper().isMsCanSupportedByVin(vin) &&
           QZEnhancedUtils::checkFwIsAtLeast(407, "FORD MS CAN");
}

bool QZEnhancedScanner::firmwareLets(bool lets, const QZEModuleArray& modules,
                                     const std::string& busKey) {
    if (!lets && !QZEnhancedUtils::firmwareRead()) noteSkipped(modules, busKey, Missed::firmware);
    return lets;
}

void QZEnhancedScanner::firmwareLetsPins(const std::vector<int64_t>& readHighPins,
                                         const std::vector<int64_t>& allHighPins,
                                         const QZEModuleArray& modules, const std::string& busKey) {
    for (int64_t high : allHighPins) {
        const bool read =
            std::find(readHighPins.begin(), readHighPins.end(), high) != readHighPins.end();
        const int64_t pins = QZEnhancedUtils::getPinValueForPinsWithHighPin(high, std::nullopt);
        PassLine onPins(*this, {.bus = {}, .pins = objcFormat("%lX", pins), .method = {}});
        firmwareLets(read, modules, busKey);
    }
}

void QZEnhancedScanner::performGMScan(QZEModuleScanner& scanner) {
    QZEModuleArray found;
    for (const auto& key : scanner.moduleDictionary().allKeys()) {
        const QZEModuleArray modules = *modulesOf(scanner, key);
        Marker mark;
        if (key == "58") {
            if (!firmwareLets(QZEnhancedUtils::checkFwIsAtLeast(407, "GM LAN"), modules, key))
                continue;
            if (!setUp(scanner, "KQSP:")) {
                noteSkipped(modules, key);
                continue;
            }
            // Its clear selects single-wire CAN again.
            mark = [](QZEModuleData& module) { module.setExtra("*GM_LAN", "1"); };
        }
        auto read = scanModules(modules, key, scanner, mark);
        found.insert(found.end(), read.begin(), read.end());
        if (linkGone()) break;
    }
    scanComplete(found);
}

void QZEnhancedScanner::performFordScan(QZEModuleScanner& scanner, bool doMsCan) {
    auto markAs = [](const char* mark) {
        return [mark](QZEModuleData& module) {
            module.setAccronym(module.accronym().value_or("") + mark);
            module.setExtra(mark, "1");
        };
    };
    for (const auto& key : scanner.moduleDictionary().allKeys()) {
        const QZEModuleArray modules = *modulesOf(scanner, key);
        scanModules(modules, key, scanner);
        if (linkGone()) break;
        if (key != "1") continue;
        // The list is read again on MS-CAN, else on the alternate HS-CAN pins where the firmware
        // has them; a firmware that reaches every minimum makes the pass on `newestMsCan`'s line.
        const bool msCan = firmware() >= 401 && doMsCan;
        const bool hsCan =
            firmware() >= 401 && !doMsCan && QZEnhancedUtils::checkFwIsAtLeast(406, "Ford HSCAN");
        bool newestMsCan = true;
        {
            QZEnhancedUtils::AssumingNewestFirmware newest;
            newestMsCan = fordReadsMsCan(QZEVehicle::TheVehicle().vehicleDataManufacturer());
        }
        {
            PassLine pass(*this, {.bus = {}, .pins = {}, .method = newestMsCan ? kMsCan : kHsCan});
            firmwareLets(newestMsCan ? msCan : hsCan, modules, key);
        }
        if (firmware() < 401) continue;
        // The high-speed bus is selected again in every case.
        if (msCan) {
            PassLine onMsCan(*this, {.bus = {}, .pins = {}, .method = kMsCan});
            if (setUp(scanner, "KQSP="))
                scanModules(modules, key, scanner, markAs("*MSCAN"));
            else
                noteSkipped(modules, key);
        } else if (hsCan) {
            PassLine onHsCan(*this, {.bus = {}, .pins = {}, .method = kHsCan});
            if (setUp(scanner, "KQSM3B"))
                scanModules(modules, key, scanner, markAs("*HSCAN"));
            else
                noteSkipped(modules, key);
            setUp(scanner, "KQSM6E");
        } else {
            setUp(scanner, "KQSM6E");
        }
        setUp(scanner, form("SP6"));
        if (linkGone()) break;
    }
}

void QZEnhancedScanner::performToyotaScan(QZEModuleScanner& scanner) {
    for (const auto& key : scanner.moduleDictionary().allKeys()) {
        const QZEModuleArray modules = *modulesOf(scanner, key);
        if (key != "1") {
            scanModules(modules, key, scanner);
        } else {
            scanModules(filterExtendedCANModules(modules, true), key, scanner);
            const int64_t fw = firmware();
            const auto extended = filterExtendedCANModules(modules, false);
            if (!linkGone() && firmwareLets(fw >= 403 || (fw >= 251 && fw <= 399), extended, key)) {
                if (setUp(scanner, form("SH") + "750") && setUp(scanner, form("CF") + "758") &&
                    setUp(scanner, "KQCD1"))
                    scanModules(extended, key, scanner);
                else
                    noteSkipped(extended, key);
            }
        }
        if (linkGone()) break;
    }
}

void QZEnhancedScanner::performHondaScan(QZEModuleScanner& scanner) {
    auto& dictionary = scanner.moduleDictionary();
    for (const auto& key : dictionary.allKeys()) {
        const QZEModuleArray modules = *modulesOf(scanner, key);
        if (key != "4") {
            scanModules(modules, key, scanner);
        } else {
            scanModules(filterHondaDIAGHOnlyModules(modules, true), key, scanner);
            const bool diagHBus = dictionary.count() == 1;
            if (diagHBus && !linkGone()) {
                PassLine onDiagH(*this, {.bus = {}, .pins = {}, .method = kDiagH});
                const auto diagH = filterHondaDIAGHModules(modules, false);
                if (firmwareLets(QZEnhancedUtils::checkFwIsAtLeast(406, "DIAGH"), diagH, key)) {
                    QZEHondaKlineDiagnosticModule::setDIAGH(true);
                    // A unit the K-line pass reads too is named by its line, as pin pairs and
                    // MS-CAN are: its two readings stay two entries that can be told apart.
                    if (setUp(scanner, "KQSP;") && setUp(scanner, "KQIF5"))
                        scanModules(diagH, key, scanner, [](QZEModuleData& module) {
                            module.setExtra("wasReadOnDiagH", "1");
                            if (!module.extraFlag("isDIAGHOnly"))
                                module.setAccronym(module.accronym().value_or("") + kDiagHMark);
                        });
                    else
                        noteSkipped(diagH, key);
                    QZEHondaKlineDiagnosticModule::setDIAGH(false);
                    setUp(scanner, form("SP5"));
                }
            }
        }
        if (linkGone()) break;
    }
}

void QZEnhancedScanner::performHyundaiScan(QZEModuleScanner& scanner) {
    for (const auto& key : scanner.moduleDictionary().allKeys()) {
        const QZEModuleArray modules = *modulesOf(scanner, key);
        if (key == "4") {
            if (scanner.getActiveBus() != 4) {
                // Not on K-line, this bus's modules are not read; the other buses are.
                if (!setUp(scanner, form("SP5"))) {
                    noteSkipped(modules, key);
                    continue;
                }
                scanner.setActiveBus(4);
            }
            const auto pins = QZEHyundaiKlineModule::getHighPINs();
            firmwareLetsPins(pins, newestHighPins(&QZEHyundaiKlineModule::getHighPINs), modules,
                             key);
            (void)scanModules(modules, key, pins, std::nullopt, scanner);
        } else if (key == "12") {
            if (setUp(scanner, "KQSP5", true) && setUp(scanner, "KQSMC0", true) &&
                setUp(scanner, form("X0"), true) && setUp(scanner, "KQSH8040F1", true))
                scanModules(modules, key, scanner);
            else
                noteSkipped(modules, key);
        } else {
            scanModules(modules, key, scanner);
        }
        if (linkGone()) break;
    }
}

void QZEnhancedScanner::peformMercedesScan(QZEModuleScanner& scanner) {
    for (const auto& key : scanner.moduleDictionary().allKeys()) {
        const QZEModuleArray modules = *modulesOf(scanner, key);
        if ((key == "4" || key == "96") && firmware() >= 405) {
            // No K-line unit listed for the chassis: nothing to select the protocol for.
            if (modules.empty()) continue;
            scanner.setPerformMercedesFullKlineMethod(true);
            // Selecting a protocol resets the sensor's pins, so K-line goes first: otherwise
            // the first module of the first pin pair is read on the K-line default pins.
            if (!scanner.ensureKLineProtocolActive()) {
                noteOutcome(QZEReadOutcome::setupRefused);
                noteSkipped(modules, key);
                continue;
            }
            (void)scanModules(modules, key, QZEMercedesKlineDiagnosticModule::getHighPINs(),
                              std::nullopt, scanner, false);
        } else {
            // Without the pin pass, a K-line list is read on the K-line's own pins alone.
            if (key == "4" || key == "96")
                firmwareLetsPins({kKLineHighPin}, QZEMercedesKlineDiagnosticModule::getHighPINs(),
                                 modules, key);
            scanModules(modules, key, scanner);
        }
        if (linkGone()) break;
    }
}

void QZEnhancedScanner::performBMWKBusScan(QZEModuleScanner& scanner) {
    for (const char* key : {"4", "99"}) {
        const QZEModuleArray* listed = modulesOf(scanner, key);
        if (!listed) continue;
        const QZEModuleArray modules = *listed;
        if (QZEnhancedUtils::checkFwIsAtLeast(400, "PIN SWITCHING BMW")) {
            (void)scanModules(modules, key, QZEBmwKlineDiagnosticModule::getHighPINs(),
                              std::nullopt, scanner);
        } else {
            firmwareLetsPins({kKLineHighPin},
                             newestHighPins(&QZEBmwKlineDiagnosticModule::getHighPINs), modules,
                             key);
            scanner.resetTransmissionDelay();
            scanModules(modules, key, scanner);
        }
    }
}

// --- Modules not read ---

QZEnhancedScanner::Line QZEnhancedScanner::lineOf(const std::string& busKey) const {
    Line line = m_pass;
    // The alternate BMW method reads the same K-line units on the same pins.
    line.bus = busKey == "99" ? "4" : busKey;
    return line;
}

namespace {

// A module of the lists on its line: one name at one request id on one bus, pin pair and method
// is one reading; the same unit read on another line says nothing of this one.
std::string onLine(const QZEModuleData& module, const QZEnhancedScanner::Line& line) {
    return module.description().value_or(module.accronym().value_or("(null)")) + " at " +
           module.requestId().value_or("(null)") + " on " + line.bus + "/" + line.pins + "/" +
           line.method;
}

// A module as the log names it, with its line where the name alone does not tell it apart: the
// MUT line, the pin pairs (several joined: "on pins 8/0 and 7/0"), the method.
std::string nameOf(const QZEModuleData& module, const QZEnhancedScanner::Line& line,
                   const std::vector<std::string>& pinPairs) {
    std::string name = module.description().value_or("(null)");
    if (line.bus == "12") name += " on the MUT line";
    for (size_t i = 0; i < pinPairs.size(); ++i) {
        const std::string& pins = pinPairs[i];
        name += (i == 0                     ? " on pins "
                 : i + 1 == pinPairs.size() ? " and "
                                            : ", ") +
                pins.substr(0, 1) + "/" + pins.substr(1);
    }
    if (!line.method.empty()) name += " on " + line.method;
    return name + " with request_ID: " + module.requestId().value_or("(null)");
}

}  // namespace

void QZEnhancedScanner::Ledger::answered(const QZEModuleDataPtr& listed, const Line& line) {
    if (listed) heard.insert(onLine(*listed, line));
}

void QZEnhancedScanner::Ledger::skipped(const QZEModuleArray& listed, const Line& line,
                                        Missed why) {
    for (const auto& module : listed)
        if (module) unread.push_back({module, line, why});
}

void QZEnhancedScanner::Ledger::take(Ledger& other) {
    heard.insert(other.heard.begin(), other.heard.end());
    unread.insert(unread.end(), other.unread.begin(), other.unread.end());
    other = {};
}

void QZEnhancedScanner::noteSkipped(const QZEModuleArray& listed, const std::string& busKey,
                                    Missed why) {
    m_ledger.skipped(listed, lineOf(busKey), why);
    if (why == Missed::firmware && !listed.empty()) noteOutcome(QZEReadOutcome::incomplete);
}

void QZEnhancedScanner::logModulesNotRead() {
    // Once each, unless another pass, list or bus read it on the same line; the pin pairs of one
    // module on one bus and method together.
    struct Named {
        const Ledger::Entry* entry;
        std::vector<std::string> pins;
    };
    std::unordered_set<std::string> named = m_ledger.heard;
    std::vector<Named> lists[2];
    for (const auto& entry : m_ledger.unread) {
        if (!named.insert(onLine(*entry.module, entry.line)).second) continue;
        auto& list = lists[entry.why == Missed::setUp ? 0 : 1];
        Line anyPins = entry.line;
        anyPins.pins.clear();
        auto same = std::find_if(list.begin(), list.end(), [&](const Named& n) {
            Line other = n.entry->line;
            other.pins.clear();
            return onLine(*n.entry->module, other) == onLine(*entry.module, anyPins);
        });
        if (same == list.end()) same = list.insert(list.end(), {&entry, {}});
        if (!entry.line.pins.empty()) same->pins.push_back(entry.line.pins);
    }
    // Said once, where two lines name a module alike (a list of each bus).
    std::string texts[2];
    for (int i = 0; i < 2; ++i) {
        std::unordered_set<std::string> said;
        for (const auto& n : lists[i]) {
            std::string text = nameOf(*n.entry->module, n.entry->line, n.pins);
            if (said.insert(text).second) texts[i] += (texts[i].empty() ? "" : "; ") + text;
        }
    }
    m_ledger = {};
    if (!texts[0].empty())
        log().logError("Modules not read, the sensor did not accept their set-up: %@", texts[0]);
    if (!texts[1].empty())
        log().logError("Modules not read, the sensor's firmware version is not known: %@",
                       texts[1]);
}

// --- Filters ---

namespace {

QZEModuleArray filterByFlag(const QZEModuleArray& modules, const char* key, bool keepUnflagged) {
    QZEModuleArray out;
    for (const auto& module : modules)
        if (module && module->extraFlag(key) != keepUnflagged) out.push_back(module);
    return out;
}

}  // namespace

QZEModuleArray QZEnhancedScanner::filterExtendedCANModules(const QZEModuleArray& modules,
                                                           bool filterExtended) {
    return filterByFlag(modules, "isExtCAN", filterExtended);
}

QZEModuleArray QZEnhancedScanner::filterHondaDIAGHModules(const QZEModuleArray& modules,
                                                          bool filterDIAGH) {
    return filterByFlag(modules, "isDIAGH", filterDIAGH);
}

QZEModuleArray QZEnhancedScanner::filterHondaDIAGHOnlyModules(const QZEModuleArray& modules,
                                                              bool filterDIAGHOnly) {
    return filterByFlag(modules, "isDIAGHOnly", filterDIAGHOnly);
}

}  // namespace qz
