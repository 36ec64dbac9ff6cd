#include "lib/Modules/Makes/Chrysler.hpp"

#include "lib/Decoders/QZEReplyText.hpp"
#include "lib/Logging/QZELogging.hpp"
#include "lib/Utils/EnhancedProtocolManufacturer.hpp"

namespace qz {

namespace {

constexpr int32_t kBitmapRequestType = 2;
// The protocol of the CAN B bus (bus key 10), which the scan also reads bus key 11 on.
constexpr const char* kCanBProtocol = "<";

}  // namespace

QZEChryslerVPWDiagnosticModule::QZEChryslerVPWDiagnosticModule()
    : QZEProtocolModule(static_cast<int64_t>(EnhancedProtocolManufacturer::Chrysler)) {}

QZEModuleProtocol QZEChryslerVPWDiagnosticModule::protocolFor(const QZEModuleData&) const {
    return QZEModuleProtocols::chryslerVpw;
}

bool QZEChryslerVPWDiagnosticModule::scanCodes(QZEModuleData& module) {
    setRequestType(kBitmapRequestType);
    const auto type = module.extra("type").text();
    if (type && type->starts_with("J2190")) return readJ2190(module, *type);
    return QZEProtocolModule::scanCodes(module);
}

std::optional<std::string> QZEChryslerVPWDiagnosticModule::j2190Bitmap(std::string_view text,
                                                                       const std::string& readout) {
    const auto request = reply::tokens(readout);
    if (request.empty()) return std::nullopt;
    // "<service + 40> <the request's parameter bytes> b0 b1 b2"
    const int positive = (reply::byteValue(request[0]) + 0x40) & 0xFF;
    const size_t skip = request.size();
    for (auto line : reply::lines(text)) {
        auto t = reply::tokens(line);
        if (t.size() < skip + 3 || t[0].size() != 2 || reply::byteValue(t[0]) != positive) continue;
        bool echoed = true;
        for (size_t i = 1; i < skip && echoed; ++i) echoed = t[i] == request[i];
        if (!echoed) continue;
        return std::string(t[skip]) + " " + std::string(t[skip + 1]) + " " +
               std::string(t[skip + 2]);
    }
    return std::nullopt;
}

bool QZEChryslerVPWDiagnosticModule::readJ2190(QZEModuleData& module, const std::string& type) {
    const auto readout = module.extra("readoutCmd").text();
    int64_t block = 0;
    if (type != "J2190") {
        block = type.size() == 7 && type[5] == '_' ? type[6] - '0' : 0;
        if (block < 1 || block > 3) block = -1;
    }
    if (!readout || block < 0) {
        QZELogging::shared().logError("Unreadable J2190 module %@: type %@, read-out %@",
                                      module.accronym(), type, readout);
        return false;
    }
    const auto& row = QZEModuleProtocols::chryslerVpw;
    beforeExchange();
    const bool ok = onModuleBus(module, [&] {
        address(module, row.addressing);
        const auto bitmap = j2190Bitmap(request(*readout, row.retry), *readout);
        if (!bitmap) return false;
        if (block == 0)
            decodeEnhancedCodesVPWChryslerJ2190Old(*bitmap);
        else
            decodeEnhancedCodesVPWChryslerJ2190New(*bitmap, block);
        return true;
    });
    completeCodes(module, row.status);
    return ok;
}

QZEChryslerCANDiagnosticModule::QZEChryslerCANDiagnosticModule()
    : QZEProtocolModule(static_cast<int64_t>(EnhancedProtocolManufacturer::Chrysler)) {}

QZEModuleProtocol QZEChryslerCANDiagnosticModule::protocolFor(const QZEModuleData&) const {
    return QZEModuleProtocols::chryslerCan;
}

std::optional<std::string> QZEChryslerCANDiagnosticModule::protocolOf(
    const QZEModuleData& module) const {
    if (module.busType() == "10" || module.busType() == "11") return kCanBProtocol;
    return QZEProtocolModule::protocolOf(module);
}

}  // namespace qz
