#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "lib/Records/QZEModuleData.hpp"

namespace qz {

// Outcome of a module read, highest seen so far.
enum ResponseState : int64_t {
    ResponseStateUnknown = 0,
    ResponseStateNoData = 1,
    ResponseStateHasNakData = 2,
    ResponseStateHasData = 3,
};

// How far a read, or a whole scan, got; a later value is worse. A read left incomplete or a
// set-up the sensor refused lets the scan read every other module, its restore and the generic
// codes, and the scan then ends in its communication error; a lost link stops it at once.
enum class QZEReadOutcome {
    complete,      // everything asked was read (a module that refused or never answered included)
    incomplete,    // a module answered and could not be read: cut short, damaged, still pending or
                   // busy, tables or read-outs unanswered; its codes so far are kept
    setupRefused,  // the sensor refused a set-up: the modules that need it were not read
    linkLost,      // the link to the sensor went away
};

// The worse of two outcomes.
inline QZEReadOutcome worseOutcome(QZEReadOutcome a, QZEReadOutcome b) {
    return static_cast<int>(a) >= static_cast<int>(b) ? a : b;
}

// How a read that ended in `state` counts when the module is reported: one that gave only
// negative answers could not be read, like one that said nothing (ResponseStateNoData). Codes it
// holds all the same came from a positive answer that the negative-response pattern also took
// for a refusal ("59 02 FF 01 7F 22 ..."): that read counts as data.
inline int64_t countedResponseState(int64_t state, bool holdsCodes) {
    if (state != ResponseStateHasNakData) return state;
    return holdsCodes ? ResponseStateHasData : ResponseStateNoData;
}

// What the module scanner uses of a module class: read or clear one module, then the codes,
// statuses and descriptions found (parallel lists; statuses and descriptions may be shorter)
// and how the module answered.
class QZEDiagnosticModule {
  public:
    virtual ~QZEDiagnosticModule() = default;
    virtual bool scanCodes(QZEModuleData& module) = 0;
    virtual bool clearCodes(QZEModuleData& module) = 0;
    virtual const std::vector<std::string>& codeArray() const = 0;
    virtual const std::vector<std::string>& statusArray() const = 0;
    virtual const std::vector<std::string>& definitionArray() const = 0;
    virtual int32_t requestType() const = 0;
    virtual void setRequestType(int32_t value) = 0;
    virtual int64_t responseState() const = 0;
    virtual void setResponseState(int64_t value) = 0;
    // How far the last read got (complete unless the class says otherwise).
    virtual QZEReadOutcome readOutcome() const { return QZEReadOutcome::complete; }
    virtual void setReadOutcome(QZEReadOutcome) {}
};

}  // namespace qz
