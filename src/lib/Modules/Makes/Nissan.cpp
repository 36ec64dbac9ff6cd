#include "lib/Modules/Makes/Nissan.hpp"

#include "lib/Logging/QZELogging.hpp"
#include "lib/Utils/EnhancedProtocolManufacturer.hpp"

namespace qz {

namespace {
constexpr int64_t kNissan = static_cast<int64_t>(EnhancedProtocolManufacturer::Nissan);
}  // namespace

QZENissanKWPDiagnosticModule::QZENissanKWPDiagnosticModule()
    : QZEMakeModule(kNissan, QZEModuleTraits::kLine) {}

QZEModuleProtocol QZENissanKWPDiagnosticModule::protocolFor(const QZEModuleData&) const {
    return QZEModuleProtocols::kwpKLine;
}

QZNissanCanDiagnosticModule::QZNissanCanDiagnosticModule()
    : QZEMakeModule(kNissan, QZEModuleTraits::can) {}

QZEModuleProtocol QZNissanCanDiagnosticModule::protocolFor(const QZEModuleData&) const {
    return QZEModuleProtocols::udsCanHeaders;
}

void QZNissanCanDiagnosticModule::addUdsCodeFromBytes(const std::vector<std::string>& bytes) {
    if (bytes.size() != 4) {
        QZELogging::shared().logError("Incorrect UDS code size: %@", bytes.size());
        return;
    }
    const std::string code =
        getJ2012CodeFromBytes(reply::byteValue(bytes[0]), reply::byteValue(bytes[1])) + "-N" +
        bytes[2];
    addCodeUnlessFiller(code, decodeStatusByte(reply::byteValue(bytes[3])));
}

}  // namespace qz
