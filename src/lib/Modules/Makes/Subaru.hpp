#pragma once

#include <string>
#include <vector>

#include "lib/Descriptions/QZESubaruCodeStore.hpp"
#include "lib/Modules/QZEMakeModule.hpp"

namespace qz {

// The code a Subaru module reports, by its detail codes in the module's detail-code store
// ("SUBARU_CODE_STORE"): the first detail code the store knows gives the code and its text;
// with none, the fallback code without a text.
QZEDescribedCode subaruCodeForDetails(const QZESubaruCodeStore* store,
                                      const std::vector<std::string>& detailCodes,
                                      const std::string& fallback);

// Subaru modules on K-line (KWP2000 by module address); a record's detail code is its two code
// bytes ("0031") or its J2012 code.
class QZESubaruKlineDiagnosticModule : public QZEMakeModule {
  public:
    QZESubaruKlineDiagnosticModule();
    bool scanCodes(QZEModuleData& module) override;
    bool clearCodes(QZEModuleData& module) override;
};

// Subaru modules on CAN (UDS); a record's detail code is its three code bytes ("013016") or
// its J2012 code.
class QZESubaruCanDiagnosticModule : public QZEMakeModule {
  public:
    QZESubaruCanDiagnosticModule();
    bool scanCodes(QZEModuleData& module) override;
    bool clearCodes(QZEModuleData& module) override;

    // As the base operation, but the code is the five-character J2012 code without the
    // failure type; a record that is not four tokens is logged and skipped.
    void addUdsCodeFromBytes(const std::vector<std::string>& bytes) override;

  private:
    const QZESubaruCodeStore* m_store = nullptr;
};

}  // namespace qz
