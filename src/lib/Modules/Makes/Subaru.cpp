#include "lib/Modules/Makes/Subaru.hpp"

#include <cctype>

#include "lib/Logging/QZELogging.hpp"
#include "lib/Utils/EnhancedProtocolManufacturer.hpp"

namespace qz {

namespace {

constexpr int64_t kSubaru = static_cast<int64_t>(EnhancedProtocolManufacturer::Subaru);

const QZESubaruCodeStore* storeOf(const QZEModuleData* module) {
    if (!module) return nullptr;
    return module->extra("SUBARU_CODE_STORE").object<QZESubaruCodeStore>().get();
}

std::string upper(std::string text) {
    for (auto& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

QZEDescribedCode subaruCodeForDetails(const QZESubaruCodeStore* store,
                                      const std::vector<std::string>& detailCodes,
                                      const std::string& fallback) {
    if (store) {
        for (const auto& detail : detailCodes) {
            auto code = store->getJ2012ForDetailCode(detail);
            if (!code) code = store->getDtcForDetailCode(detail);
            if (code && !code->empty())
                return {*code, store->getDescriptionForDetailCode(detail).value_or("")};
        }
    }
    return {fallback, ""};
}

QZESubaruKlineDiagnosticModule::QZESubaruKlineDiagnosticModule()
    : QZEMakeModule(kSubaru, QZEModuleTraits::kLine) {}

QZEModuleProtocol QZESubaruKlineDiagnosticModule::protocolFor(const QZEModuleData&) const {
    return QZEModuleProtocols::kwpKLine;
}

void QZESubaruKlineDiagnosticModule::addDTCWithAByte(uint32_t a, uint32_t b,
                                                     const std::string& status) {
    const std::string j2012 =
        getJ2012CodeFromBytes(static_cast<int32_t>(a), static_cast<int32_t>(b));
    auto code = subaruCodeForDetails(
        storeOf(readingModule()),
        {hexByte(static_cast<int>(a)) + hexByte(static_cast<int>(b)), j2012}, j2012);
    addDescribedCode(code.code, status, code.definition);
}

QZESubaruCanDiagnosticModule::QZESubaruCanDiagnosticModule()
    : QZEMakeModule(kSubaru, QZEModuleTraits::can) {}

QZEModuleProtocol QZESubaruCanDiagnosticModule::protocolFor(const QZEModuleData&) const {
    return QZEModuleProtocols::udsCanHeaders;
}

void QZESubaruCanDiagnosticModule::addUdsCodeFromBytes(const std::vector<std::string>& bytes) {
    if (bytes.size() != 4) {
        QZELogging::shared().logError("Incorrect UDS code size: %@", bytes.size());
        return;
    }
    const std::string j2012 =
        getJ2012CodeFromBytes(reply::byteValue(bytes[0]), reply::byteValue(bytes[1]));
    auto code = subaruCodeForDetails(storeOf(readingModule()),
                                     {upper(bytes[0] + bytes[1] + bytes[2]), j2012}, j2012);
    addDescribedCode(code.code, decodeStatusByte(reply::byteValue(bytes[3])), code.definition);
}

}  // namespace qz
