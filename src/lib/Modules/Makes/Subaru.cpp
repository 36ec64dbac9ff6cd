#include "lib/Modules/Makes/Subaru.hpp"

#include <cctype>

#include "lib/Logging/QZELogging.hpp"
#include "lib/Utils/EnhancedProtocolManufacturer.hpp"

namespace qz {

namespace {

constexpr int64_t kSubaru = static_cast<int64_t>(EnhancedProtocolManufacturer::Subaru);

constexpr QZEKLineMethod kKwp{"KWP2000", "", "81", "18 00 FF 00", "14 FF 00"};
constexpr QZECanMethod kUds{QZECanMethod::Layout::uds, "19 02 FF", "14 FF FF FF", true};

const QZESubaruCodeStore* storeOf(const QZEModuleData& module) {
    return module.extra("SUBARU_CODE_STORE").object<QZESubaruCodeStore>().get();
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

QZESubaruKlineDiagnosticModule::QZESubaruKlineDiagnosticModule() : QZEMakeModule(kSubaru) {}

bool QZESubaruKlineDiagnosticModule::scanCodes(QZEModuleData& module) {
    prepareKLine(module, false);
    auto target = address(module.requestId());
    if (!target || !selectKLineModule(kKwp.format, *target)) return false;
    auto message = kLineRequest(kKwp.read);
    if (message) {
        for (const auto& record : kwpRecords(*message)) {
            const std::string j2012 = getJ2012CodeFromBytes(record.a, record.b);
            auto code = subaruCodeForDetails(storeOf(module),
                                             {hexByte(record.a) + hexByte(record.b), j2012}, j2012);
            addDescribedCode(code.code, getKWP2000Status(static_cast<uint8_t>(record.status)),
                             code.definition);
        }
        notePins(module);
    }
    finishDefinitions(module);
    return message.has_value();
}

bool QZESubaruKlineDiagnosticModule::clearCodes(QZEModuleData& module) {
    prepareKLine(module, false);
    return clearKLine(module, kKwp);
}

QZESubaruCanDiagnosticModule::QZESubaruCanDiagnosticModule() : QZEMakeModule(kSubaru) {}

bool QZESubaruCanDiagnosticModule::scanCodes(QZEModuleData& module) {
    m_store = storeOf(module);
    if (!selectCanModule(module)) return false;
    const bool ok = readCanCodes(kUds);
    finishDefinitions(module);
    return ok;
}

bool QZESubaruCanDiagnosticModule::clearCodes(QZEModuleData& module) {
    return selectCanModule(module) && clearCan(kUds);
}

void QZESubaruCanDiagnosticModule::addUdsCodeFromBytes(const std::vector<std::string>& bytes) {
    if (bytes.size() != 4) {
        QZELogging::shared().logError("Incorrect UDS code size: %@", bytes.size());
        return;
    }
    const std::string j2012 =
        getJ2012CodeFromBytes(reply::byteValue(bytes[0]), reply::byteValue(bytes[1]));
    auto code =
        subaruCodeForDetails(m_store, {upper(bytes[0] + bytes[1] + bytes[2]), j2012}, j2012);
    addDescribedCode(code.code, decodeStatusByte(reply::byteValue(bytes[3])), code.definition);
}

}  // namespace qz
