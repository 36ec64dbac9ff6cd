#include "lib/Modules/Makes/Chrysler.hpp"

#include <algorithm>
#include <vector>

#include "lib/Decoders/QZEReplyText.hpp"
#include "lib/Logging/QZELogging.hpp"
#include "lib/Utils/EnhancedProtocolManufacturer.hpp"

namespace qz {

namespace {

constexpr int64_t kChrysler = static_cast<int64_t>(EnhancedProtocolManufacturer::Chrysler);
constexpr int32_t kBitmapRequestType = 2;
// The protocol of the CAN B bus (bus key 10), which the scan also reads bus key 11 on.
constexpr const char* kCanBProtocol = "<";

}  // namespace

QZEChryslerVPWDiagnosticModule::QZEChryslerVPWDiagnosticModule()
    : QZEMakeModule(kChrysler, QZEModuleTraits::restoring) {}

QZEModuleProtocol QZEChryslerVPWDiagnosticModule::protocolFor(const QZEModuleData&) const {
    return QZEModuleProtocols::chryslerVpw;
}

bool QZEChryslerVPWDiagnosticModule::scanCodes(QZEModuleData& module) {
    setRequestType(kBitmapRequestType);
    const auto type = module.extra("type").text();
    if (type && type->starts_with("J2190")) return readJ2190(module, *type);
    return QZEMakeModule::scanCodes(module);
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
        if (t.size() < skip + 3 || t[0].size() != 2 || reply::byteValue(t[0]) != positive ||
            reply::isDamagedLine(t))
            continue;
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
    std::vector<std::string> readouts;
    for (size_t start = 0; readout && start <= readout->size();) {
        const size_t end = std::min(readout->find(',', start), readout->size());
        const std::string piece = readout->substr(start, end - start);
        std::string one;
        for (auto token : reply::tokens(piece))
            one += (one.empty() ? "" : " ") + std::string(token);
        if (!one.empty()) readouts.push_back(one);
        start = end + 1;
    }
    int64_t block = 0;
    if (type != "J2190") {
        block = type.size() == 7 && type[5] == '_' ? type[6] - '0' : 0;
        if (block < 1 || block + static_cast<int64_t>(readouts.size()) - 1 > 3) block = -1;
    }
    if (readouts.empty() || block < 0) {
        QZELogging::shared().logError("Unreadable J2190 module %@: type %@, read-out %@",
                                      module.accronym(), type, readout);
        return false;
    }
    const auto& row = QZEModuleProtocols::chryslerVpw;
    return read(module, row, [&] {
        return onModuleBus(module, row, [&] {
            // Each read-out is a fault table: one not answered leaves its faults unknown.
            bool answered = false;
            bool damaged = false;
            std::string unanswered;
            for (size_t i = 0; i < readouts.size(); ++i) {
                const std::string reply = requestTable(module, readouts[i], row, damaged);
                const auto bitmap = j2190Bitmap(reply, readouts[i]);
                if (!bitmap) {
                    if (!refusesTable(reply))
                        unanswered += (unanswered.empty() ? "" : ", ") + readouts[i];
                    continue;
                }
                answered = true;
                if (block == 0)
                    decodeEnhancedCodesVPWChryslerJ2190Old(*bitmap);
                else
                    decodeEnhancedCodesVPWChryslerJ2190New(*bitmap,
                                                           block + static_cast<int64_t>(i));
            }
            return endTableRead(module, answered, damaged, unanswered);
        });
    });
}

QZEChryslerCANDiagnosticModule::QZEChryslerCANDiagnosticModule()
    : QZEMakeModule(kChrysler, QZEModuleTraits::restoring) {}

QZEModuleProtocol QZEChryslerCANDiagnosticModule::protocolFor(const QZEModuleData&) const {
    return QZEModuleProtocols::kwpCan;
}

std::optional<std::string> QZEChryslerCANDiagnosticModule::protocolOf(
    const QZEModuleData& module) const {
    if (module.busType() == "10" || module.busType() == "11") return kCanBProtocol;
    return QZEMakeModule::protocolOf(module);
}

}  // namespace qz
