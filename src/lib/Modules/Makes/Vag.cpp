#include "lib/Modules/Makes/Vag.hpp"

#include <utility>

#include "lib/Utils/EnhancedProtocolManufacturer.hpp"

namespace qz {

QZEVAGKLineModule::QZEVAGKLineModule(std::shared_ptr<QZEVagGlobalTroubleCodeStore> codeStore)
    : QZEBaseDiagnosticModule(static_cast<int64_t>(EnhancedProtocolManufacturer::VOLKSWAGEN)),
      m_codeStore(std::move(codeStore)) {}

bool QZEVAGKLineModule::scanCodes(QZEModuleData&) {
    return false;
}

bool QZEVAGKLineModule::clearCodes(QZEModuleData&) {
    return false;
}

QZEVAGCanModule::QZEVAGCanModule(std::shared_ptr<QZEVagGlobalTroubleCodeStore> codeStore)
    : QZEBaseDiagnosticModule(static_cast<int64_t>(EnhancedProtocolManufacturer::VOLKSWAGEN)),
      m_codeStore(std::move(codeStore)) {}

bool QZEVAGCanModule::scanCodes(QZEModuleData&) {
    return false;
}

bool QZEVAGCanModule::clearCodes(QZEModuleData&) {
    return false;
}

}  // namespace qz
