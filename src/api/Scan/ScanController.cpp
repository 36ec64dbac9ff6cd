#include "api/Scan/ScanController.hpp"

#include <algorithm>

#include <unicode/locid.h>
#include <unicode/unistr.h>

#include "api/Communication/PelkNotifications.hpp"
#include "api/Communication/Relay.hpp"
#include "api/Data/EnhancedProtocolManufacturerNames.hpp"
#include "api/Data/PelkData.hpp"
#include "api/Logging/Log.hpp"
#include "api/Scan/InstanceStorage.hpp"
#include "lib/Descriptions/QZETroubleCodes.hpp"
#include "lib/Modules/QZEDiagnosticModule.hpp"
#include "platform/DispatchQueue.hpp"
#include "platform/Locked.hpp"
#include "platform/UserDefaults.hpp"

namespace qz {

namespace {

std::string lowercased(const std::string& text) {
    std::string out;
    icu::UnicodeString::fromUTF8(text).toLower(icu::Locale::getRoot()).toUTF8String(out);
    return out;
}

// The make number of the stored parent make (0 when none is stored).
int64_t parentMake() {
    std::optional<std::string> parent;
    if (auto prefs = PelkData::shared()->prefs())
        parent = prefs->string(PelkData::kVehicleParentManKey);
    return static_cast<int64_t>(enhancedProtocolManufacturerFrom(parent));
}

// A Nissan code as shown: the part before the first "-N".
std::string shownCode(const std::string& code, int64_t make) {
    if (make != static_cast<int64_t>(EnhancedProtocolManufacturer::Nissan)) return code;
    return code.substr(0, code.find("-N"));
}

}  // namespace

ScanController::ScanController(std::optional<std::string> vin, PelkScanType scanType,
                               Listener listener)
    : vin_(std::move(vin)), scanType_(scanType), listener_(std::move(listener)) {}

std::shared_ptr<ScanController> ScanController::create(std::optional<std::string> vin,
                                                       PelkScanType scanType,
                                                       Listener scanListener) {
    std::shared_ptr<ScanController> controller(
        new ScanController(std::move(vin), scanType, std::move(scanListener)));
    std::weak_ptr<ScanController> weak = controller;
    controller->observer_ = NotificationCenter::defaultCenter().addObserver(
        PelkNotifications::INTERACTION_REQUIRED, [weak](const Notification& notification) {
            if (auto self = weak.lock()) self->interactionNotificationReceived(notification);
        });
    return controller;
}

ScanController::~ScanController() {
    Log::i("Scan controller deinit");
    NotificationCenter::defaultCenter().removeObserver(observer_);
}

int64_t ScanController::engineScanType(PelkScanType type) {
    switch (type) {
        case PelkScanType::cel:
            return QZEnhancedScanner::kCheckEngineScan;
        case PelkScanType::cdl:
            return QZEnhancedScanner::kQuickScan;
        case PelkScanType::all:
            return QZEnhancedScanner::kFullScan;
    }
    return QZEnhancedScanner::kCheckEngineScan;
}

std::shared_ptr<QZEnhancedScanner> ScanController::scanner() const {
    return lockedCopy(mutex_, scanner_);
}

int64_t ScanController::totalModules() const {
    return lockedCopy(mutex_, totalModules_);
}

int64_t ScanController::scannedModuleCount() const {
    return lockedCopy(mutex_, scannedModuleCount_);
}

PelkModules ScanController::scannedModules() const {
    return lockedCopy(mutex_, scannedModules_);
}

void ScanController::stopObserving() {
    finished_ = true;
    NotificationCenter::defaultCenter().removeObserver(observer_);
}

// MARK: loading and running

int64_t ScanController::load() {
    Log::i("Loading Enhanced Scan");
    auto scanner = std::make_shared<QZEnhancedScanner>();
    // The generic read reports one merged module.
    scanner->setUseSeperateEmissionsModules(false);
    scanner->setDelegate(weak_from_this());
    lockedAssign(mutex_, scanner_, scanner);
    const int64_t total = scanner->loadScan(engineScanType(scanType_));
    lockedAssign(mutex_, totalModules_, total);
    return total;
}

void ScanController::start() {
    lockedAssign(mutex_, scannedModuleCount_, 0);
    auto scanner = this->scanner();
    if (!scanner) {
        Log::e("\U0001F4A5\U0001F4A5\U0001F4A5Not loaded\U0001F4A5\U0001F4A5\U0001F4A5");
        return;
    }
    InstanceStorage::setScanModuleMap({});
    {
        std::lock_guard lock(mutex_);
        scannedModules_.clear();
        resultTaken_ = false;
    }
    Log::i("Starting Enhanced Scan");
    const int64_t engineType = engineScanType(scanType_);
    if (scanType_ != PelkScanType::cel) scanner->startScan(engineType);
    // After a module read only in part or a refused set-up the generic codes are still read,
    // unless the link is gone or the sensor is not back on its bus.
    if (scanner->mayReadGenericCodes()) scanner->startBasicObdScan(true);

    // The make strategies report on the main queue; wait for what they queued, as long as an
    // exchange waits for that queue: modules still held there at the bound are not in the
    // result, which then is not complete.
    bool caughtUp = true;
    if (!DispatchQueue::isMainThread()) {
        const DispatchSemaphore ran;
        DispatchQueue::main()->async([ran] { ran.signal(); });
        caughtUp = ran.wait(Relay::kMainQueueWait);
        if (!caughtUp) Log::e("Scan ended while the main queue still held modules it read");
    }

    errorDuringScan_ = scanner->scanErrorDuringScan() || !caughtUp;
    PelkModules modules;
    {
        std::lock_guard lock(mutex_);
        resultTaken_ = true;
        modules = scannedModules_;
    }
    if (errorDuringScan_) {
        Log::PublicError("Scan failed with results :" + describe(modules));
        listener_(
            PelkScanProgress::complete(std::unexpected(PelkScanError::communicaton(modules))));
    } else {
        Log::PublicInfo("Scan completed with results :" + describe(modules));
        listener_(PelkScanProgress::complete(modules));
    }
}

// MARK: modules

std::shared_ptr<PelkModule> ScanController::moduleFrom(const QZEModuleData& record) const {
    const auto& name = record.description();
    const auto& acronym = record.accronym();
    const auto& codes = record.codeList();
    // Negative answers alone are no read: such a module is left out as one that did not answer.
    if (!name || !acronym || !codes ||
        countedResponseState(record.responseState(), !codes->empty()) < ResponseStateHasData) {
        Log::e("No response from module :" + acronym.value_or("N/A"));
        return nullptr;
    }
    const size_t n = codes->size();
    const auto& definitions = record.definitionList();
    const auto& statuses = record.statusList();
    const bool described = definitions && definitions->size() == n;
    const bool withStatus = statuses && statuses->size() == n;
    const int64_t make = parentMake();

    PelkTroubleCodes results;
    results.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        const std::string& code = (*codes)[i];
        std::string description;
        if (described) {
            description = (*definitions)[i];
            const std::string lower = lowercased(description);
            if (description.empty() ||
                std::find(noCodeDescriptionStrings_.begin(), noCodeDescriptionStrings_.end(),
                          lower) != noCodeDescriptionStrings_.end()) {
                description = QZETroubleCodes::TheCodes().troubleCodeDef(code, make);
                Log::i("\U0001F941 Resolved code " + code + " to : " + description);
            }
        }
        std::string status = withStatus ? (*statuses)[i] : std::string();
        results.push_back(std::shared_ptr<PelkTroubleCode>(
            new PelkTroubleCode(shownCode(code, make), std::move(description), std::move(status))));
    }
    return std::shared_ptr<PelkModule>(new PelkModule(*name, *acronym, record.light().value_or(""),
                                                      record.category().value_or(""),
                                                      std::move(results)));
}

void ScanController::scannedModule(const QZEModuleDataPtr& record) {
    int64_t count = 0;
    int64_t total = 0;
    {
        std::lock_guard lock(mutex_);
        if (resultTaken_) {
            // Held on the main queue past the scan's end: neither in its result nor heard.
            Log::e("Module delivered after its scan ended: " +
                   (record ? record->description().value_or("N/A") : std::string("N/A")));
            return;
        }
        count = ++scannedModuleCount_;
        total = totalModules_;
    }
    auto module = record ? moduleFrom(*record) : nullptr;
    if (!record) Log::e("No response from module :N/A");
    if (module) {
        InstanceStorage::add(module, record);
        record->setResponseState(ResponseStateNoData);
        {
            std::lock_guard lock(mutex_);
            scannedModules_.push_back(module);
        }
        Log::i("Scanning module : " + module->description());
    }
    auto scanner = this->scanner();
    if (!scanner || scanner->linkLost()) return;
    // No fraction without an expected count.
    if (total <= 0) return;
    listener_(PelkScanProgress::update(static_cast<float>(count) / static_cast<float>(total)));
}

// MARK: interactions

void ScanController::interactionRequired(const std::string& message) {
    // Held weakly: an app that keeps the prompt (often from its listener) would otherwise keep
    // the controller, and with it its listener, alive for good.
    std::weak_ptr<ScanController> weak = weak_from_this();
    auto done = [weak] {
        auto self = weak.lock();
        if (!self || self->finished_) {
            Log::i("Interaction answered after its scan ended");
            return;
        }
        Log::i("Key flick completed");
        if (auto scanner = self->scanner()) scanner->interactionComplete();
    };
    listener_(PelkScanProgress::interactionRequired(InteractionType::custom(message, done)));
}

void ScanController::interactionNotificationReceived(const Notification& notification) {
    // The engine always sends a message; without one the user still has to answer.
    const std::string* message = notification.value<std::string>("msg");
    interactionRequired(message ? *message : std::string());
}

}  // namespace qz
