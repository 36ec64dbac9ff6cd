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

    // The code of a KWP2000 record by its detail codes, with its text.
    void addDTCWithAByte(uint32_t a, uint32_t b, const std::string& status) override;

  protected:
    QZEModuleProtocol protocolFor(const QZEModuleData& module) const override;
};

// Subaru modules on CAN (UDS); a record's detail code is its three code bytes ("013016") or
// its J2012 code.
class QZESubaruCanDiagnosticModule : public QZEMakeModule {
  public:
    QZESubaruCanDiagnosticModule();

    // As the base operation, but the code is the five-character J2012 code without the
    // failure type; a record that is not four tokens is logged and skipped.
    void addUdsCodeFromBytes(const std::vector<std::string>& bytes) override;

  protected:
    QZEModuleProtocol protocolFor(const QZEModuleData& module) const override;
};

}  // namespace qz
