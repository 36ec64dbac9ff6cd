#pragma once

#include <memory>

#include "lib/Descriptions/QZEVagTroubleCodeStore.hpp"
#include "lib/Modules/Makes/QZEModuleOptions.hpp"
#include "lib/Modules/QZEBaseDiagnosticModule.hpp"

namespace qz {

// Volkswagen-group modules on K-line.
class QZEVAGKLineModule : public QZEBaseDiagnosticModule, public QZEDelayedTransmission {
  public:
    // The Volkswagen-group global code store the module scanner makes once per scan.
    explicit QZEVAGKLineModule(std::shared_ptr<QZEVagGlobalTroubleCodeStore> codeStore = nullptr);
    bool scanCodes(QZEModuleData& module) override;
    bool clearCodes(QZEModuleData& module) override;
    const std::shared_ptr<QZEVagGlobalTroubleCodeStore>& codeStore() const { return m_codeStore; }

  private:
    std::shared_ptr<QZEVagGlobalTroubleCodeStore> m_codeStore;
};

// Volkswagen-group modules on CAN (UDS, and KWP over TP2.0).
class QZEVAGCanModule : public QZEBaseDiagnosticModule {
  public:
    // The Volkswagen-group global code store the module scanner makes once per scan.
    explicit QZEVAGCanModule(std::shared_ptr<QZEVagGlobalTroubleCodeStore> codeStore = nullptr);
    bool scanCodes(QZEModuleData& module) override;
    bool clearCodes(QZEModuleData& module) override;
    const std::shared_ptr<QZEVagGlobalTroubleCodeStore>& codeStore() const { return m_codeStore; }

  private:
    std::shared_ptr<QZEVagGlobalTroubleCodeStore> m_codeStore;
};

}  // namespace qz
