#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "lib/Descriptions/QZECodeTable.hpp"
#include "lib/Records/QZEValue.hpp"

namespace qz {

// Subaru detail codes of one module, as its definition file lists them: each detail code with
// its code text (or J2012 code) and description. The module-list reader fills it; the Subaru
// module classes read it from the module's extras ("SUBARU_CODE_STORE"). Safe to use from
// several threads.
class QZESubaruCodeStore : public QZEObject {
  public:
    // A detail code with its own code text and description.
    void addDetailCode(const std::string& detailCode, const std::string& dtc,
                       const std::string& description);
    // A detail code that stands for a J2012 code; the description is the Subaru make's text
    // for that code.
    void addDetailCode(const std::string& detailCode, const std::string& j2012);

    // Lookups by detail code; none when the detail code is unknown or has no such entry.
    std::optional<std::string> getJ2012ForDetailCode(const std::string& detailCode) const;
    std::optional<std::string> getDtcForDetailCode(const std::string& detailCode) const;
    std::optional<std::string> getDescriptionForDetailCode(const std::string& detailCode) const;

  private:
    static std::optional<std::string> find(const QZECodeTable& table, const std::string& key);

    mutable std::mutex m_mutex;
    QZECodeTable m_detailToJ2012;
    QZECodeTable m_detailToDtc;
    QZECodeTable m_descriptions;
};

}  // namespace qz
