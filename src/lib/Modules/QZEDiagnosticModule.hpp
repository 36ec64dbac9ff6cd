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
    // The last read could not be finished: the sensor refused a set-up the module needs, or
    // the module's codes are known only in part. The scan then ends in its communication error
    // with what it has read.
    virtual bool readIncomplete() const { return false; }
    virtual void setReadIncomplete(bool) {}
};

}  // namespace qz
