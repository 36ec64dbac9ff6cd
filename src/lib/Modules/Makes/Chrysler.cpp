#include "lib/Modules/Makes/Chrysler.hpp"

#include <algorithm>
#include <vector>

#include "lib/Decoders/QZEModuleReply.hpp"
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

namespace {

// The question of a read-out: "<service + 40> <the request's parameter bytes> b0 b1 b2".
QZEAsked readoutAsked(const std::string& readout) {
    QZEAsked asked = QZEAsked::of(readout, QZEFraming::j1850, QZEBaseDiagnosticModule::displayed());
    asked.records = {reply::tokens(readout).size() + 3, -1, 0};
    return asked;
}

// Whether a positive message echoes the read-out's parameter bytes.
bool echoes(const QZEMessageBytes& message, const std::string& readout) {
    const auto request = reply::tokens(readout);
    if (message.size() < request.size() + 3) return false;
    for (size_t i = 1; i < request.size(); ++i)
        if (reply::byteValue(message[i]) != reply::byteValue(request[i])) return false;
    return true;
}

// The bitmap of the first message that echoes the read-out.
std::optional<std::string> bitmapOf(const std::vector<QZEMessageBytes>& messages,
                                    const std::string& readout) {
    const size_t skip = reply::tokens(readout).size();
    for (const auto& m : messages)
        if (echoes(m, readout)) return m[skip] + " " + m[skip + 1] + " " + m[skip + 2];
    return std::nullopt;
}

}  // namespace

std::optional<std::string> QZEChryslerVPWDiagnosticModule::j2190Bitmap(std::string_view text,
                                                                       const std::string& readout) {
    return bitmapOf(QZEModuleReply::classify(text, readoutAsked(readout)).messages, readout);
}

bool QZEChryslerVPWDiagnosticModule::readJ2190(QZEModuleData& module, const std::string& type) {
    const auto readout = module.extra("readoutCmd").text();
    std::vector<std::string> readouts;
    for (size_t start = 0; readout && start <= readout->size();) {
        const size_t end = std::min(readout->find(',', start), readout->size());
        const std::string piece = readout->substr(start, end - start);
        const std::string one = reply::joinedTokens(reply::tokens(piece));
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
            Tables tables;
            for (size_t i = 0; i < readouts.size(); ++i) {
                QZEAsked asked = readoutAsked(readouts[i]);
                if (auto from = address(module.responseId())) asked.from.push_back(*from);
                const auto ours = [&](const QZEMessageBytes& m) { return echoes(m, readouts[i]); };
                const auto reply =
                    requestTable(module, readouts[i], row, asked, ours, readouts[i], tables);
                // Of the module's own messages: another module's answer is not its.
                const auto bitmap =
                    reply.answered() ? bitmapOf(reply.messages, readouts[i]) : std::nullopt;
                if (!bitmap) continue;
                if (block == 0)
                    decodeEnhancedCodesVPWChryslerJ2190Old(*bitmap);
                else
                    decodeEnhancedCodesVPWChryslerJ2190New(*bitmap,
                                                           block + static_cast<int64_t>(i));
            }
            return endTableRead(module, tables);
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
