#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "lib/Modules/Makes/QZEModuleOptions.hpp"
#include "lib/Modules/QZEMakeModule.hpp"

namespace qz {

// Mercedes modules on MB-ISO: protocol, fault read and erase requests from the module's own
// definition ("protocol", "readoutCmd", "Clear_ID").
class QZEMercedesMBISODiagModule : public QZEMakeModule {
  public:
    QZEMercedesMBISODiagModule();

  protected:
    QZEModuleProtocol protocolFor(const QZEModuleData& module) const override;
};

// Mercedes modules on K-line, on the pin pair the scanner selected: KWP2000 with fast
// initialisation, or with the slow initialisation of the "KWFB" units. The module's own method
// comes first; with the all-method scan the other one is tried when it does not answer. The
// method that answered is kept in the module's "READTYPE" for its clear.
class QZEMercedesKlineDiagnosticModule : public QZEMakeModule, public QZEMultiPinModule {
  public:
    QZEMercedesKlineDiagnosticModule();
    bool scanCodes(QZEModuleData& module) override;

    // Whether every method is tried on each module.
    void setPerformAllMethodScan(bool value) { m_performAllMethodScan = value; }
    bool performAllMethodScan() const { return m_performAllMethodScan; }

    // The high pins to try: 13, 12, 11, 9, 7.
    static std::vector<int64_t> getHighPINs();

  protected:
    // The method that answered the read ("READTYPE"), else the module's own.
    QZEModuleProtocol protocolFor(const QZEModuleData& module) const override;

  private:
    bool m_performAllMethodScan = false;
};

// Mercedes modules on CAN: the unit's identification picks its variant (by the variant's
// "MBDIAGKEYS") among the units that share its address, then the codes are read in UDS or in
// KWP2000 on CAN as its "PROTOCOL" says, with that variant's code texts. A K-line unit listed
// with the CAN units is read on K-line.
class QZEMercedesCANDiagnosticModule : public QZEMakeModule {
  public:
    QZEMercedesCANDiagnosticModule();
    bool scanCodes(QZEModuleData& module) override;
    bool clearCodes(QZEModuleData& module) override;

    // The variant whose keys (comma-separated) the identification holds; the first variant when
    // none does or there is no identification.
    static const QZEModuleData* variantFor(const std::vector<const QZEModuleData*>& variants,
                                           const std::optional<std::string>& identification);
    // The unit's variants: its "MBVARIANTS", or the unit itself.
    static std::vector<const QZEModuleData*> variantsOf(const QZEModuleData& module);

  protected:
    // UDS or KWP2000 on CAN by the unit's "PROTOCOL"; a K-line unit's own K-line method.
    QZEModuleProtocol protocolFor(const QZEModuleData& module) const override;
    // Its response identifier in hex, whichever way the unit's definition writes it.
    std::optional<std::string> answersFrom(const QZEModuleData& module) const override;

  private:
    bool addressCanUnit(const QZEModuleData& module);
    bool readKLineUnit(QZEModuleData& module, bool clear);
};

}  // namespace qz
