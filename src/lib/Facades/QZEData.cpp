#include "lib/Facades/QZEData.hpp"

#include "lib/Logging/QZELogging.hpp"
#include "platform/Locked.hpp"

namespace qz {

namespace {
constexpr const char* kNoSession = "No session protocol registered";
}

QZEData& QZEData::sharedData() {
    static QZEData* instance = new QZEData();
    return *instance;
}

void QZEData::registerQZDataAdapter(std::shared_ptr<QZDataAdapter> adapter) {
    lockedAssign(mutex_, m_qzDataAdapter, std::move(adapter));
}
void QZEData::registerSessionAdapter(std::shared_ptr<QZESessionProtocol> adapter) {
    lockedAssign(mutex_, m_sessionAdapter, std::move(adapter));
}
void QZEData::registerVinAdapter(std::shared_ptr<QZVINDataAdapter> adapter) {
    lockedAssign(mutex_, m_vinAdapter, std::move(adapter));
}

std::shared_ptr<QZDataAdapter> QZEData::dataAdapter() {
    return lockedCopy(mutex_, m_qzDataAdapter);
}
std::shared_ptr<QZESessionProtocol> QZEData::sessionAdapter() {
    return lockedCopy(mutex_, m_sessionAdapter);
}
std::shared_ptr<QZVINDataAdapter> QZEData::vinAdapter() {
    return lockedCopy(mutex_, m_vinAdapter);
}

void QZEData::setEnhancedProtocol(const OptionalText& value) {
    if (auto a = dataAdapter()) a->setEnhancedProtocol(value);
}
OptionalText QZEData::EnhancedProtocol() {
    auto a = dataAdapter();
    return a ? a->EnhancedProtocol() : std::nullopt;
}
OptionalText QZEData::VIN() {
    auto a = dataAdapter();
    return a ? a->VIN() : std::nullopt;
}
void QZEData::setVehicleParentMan(const OptionalText& value) {
    if (auto a = dataAdapter()) a->setVehicleParentMan(value);
}
OptionalText QZEData::vehicleParentMan() {
    auto a = dataAdapter();
    return a ? a->vehicleParentMan() : std::nullopt;
}
int64_t QZEData::sensorVersionNumber() {
    auto a = dataAdapter();
    return a ? a->sensorVersionNumber() : 0;
}
int64_t QZEData::obd2Protocol() {
    auto a = dataAdapter();
    return a ? a->obd2Protocol() : 0;
}
bool QZEData::useNewCommandSet() {
    auto a = dataAdapter();
    return a ? a->useNewCommandSet() : false;
}
OptionalText QZEData::customVehicleMan() {
    auto a = dataAdapter();
    return a ? a->customVehicleMan() : OptionalText("Unknown");
}

OptionalText QZEData::manufacturerNameFromVin(const OptionalText& vin) {
    auto a = vinAdapter();
    return a ? a->manufacturerNameFromVin(vin) : std::nullopt;
}

int64_t QZEData::activeProtocol() {
    if (auto a = sessionAdapter()) return a->activeProtocol();
    QZELogging::shared().logError(kNoSession);
    return 0;
}

OptionalText QZEData::activeVin() {
    if (auto a = sessionAdapter()) return a->activeVin();
    QZELogging::shared().logError(kNoSession);
    return std::nullopt;
}

int64_t QZEData::sensorVersionGuess() {
    auto a = sessionAdapter();
    return a ? a->sensorVersionGuess() : 0;
}

}  // namespace qz
