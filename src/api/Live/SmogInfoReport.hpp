#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "api/Communication/CommError.hpp"
#include "api/Live/SmogReportStatus.hpp"
#include "api/PIDs/NumericPID.hpp"
#include "api/milstatus/PID0101_MonitorStatus.hpp"

namespace qz {

class SmogInfoRetriever;

// What the emissions-readiness check read: five run-time and distance counters, the readiness
// monitors and the numbers of stored and pending codes, with the verdict worked out from them
// at its first read. Built only by the check; the caller owns it afterwards. A counter the
// vehicle does not give keeps support status unsupported and no value; one it lists that could
// not be read has no value either, and notRead() says why. Safe to read from any thread.
class SmogInfoReport {
  public:
    ~SmogInfoReport() = default;
    SmogInfoReport(const SmogInfoReport&) = delete;
    SmogInfoReport& operator=(const SmogInfoReport&) = delete;

    std::shared_ptr<NumericPID> runTimeSinceEngineStart() const;  // 01 1F
    void setRunTimeSinceEngineStart(std::shared_ptr<NumericPID> pid);
    std::shared_ptr<NumericPID> distanceMilOn() const;  // 01 21
    void setDistanceMilOn(std::shared_ptr<NumericPID> pid);
    std::shared_ptr<NumericPID> distanceMilOff() const;  // 01 31
    void setDistanceMilOff(std::shared_ptr<NumericPID> pid);
    std::shared_ptr<NumericPID> timeMilOn() const;  // 01 4D
    void setTimeMilOn(std::shared_ptr<NumericPID> pid);
    std::shared_ptr<NumericPID> timeMilOff() const;  // 01 4E
    void setTimeMilOff(std::shared_ptr<NumericPID> pid);
    std::shared_ptr<PID0101_MonitorStatus> monitorStatus() const;  // 01 01
    void setMonitorStatus(std::shared_ptr<PID0101_MonitorStatus> pid);
    // The stored (confirmed) and pending trouble codes the sensor listed; 0 for "NO DATA".
    int64_t numConfirmed() const;
    void setNumConfirmed(int64_t value);
    int64_t numPending() const;
    void setNumPending(int64_t value);
    // Why a parameter the vehicle lists was not read (its request stalled, or its answer held
    // no value), by PID number (0x1F, ...); none for one read or one the vehicle does not give.
    std::optional<CommError> notRead(uint64_t pid) const;
    void setNotRead(uint64_t pid, std::optional<CommError> error);

    // The verdict, worked out at the first read and kept: MIL on or a stored code fail; a
    // pending code or an incomplete monitor warn; else pass.
    SmogReportStatus smogCheckResult() const;
    void setSmogCheckResult(SmogReportStatus value);

    // "[" the five counters' and the monitors' descriptions, each on its own line,
    // "\rNum confirmed: N\rNum pending: M]".
    std::string description() const;

  private:
    friend class SmogInfoRetriever;
    SmogInfoReport();

    // The six parameters in request order (01 1F, 21, 31, 4D, 4E, 01), fixed at first read.
    std::vector<std::shared_ptr<PIDInfo>> pids() const;

    mutable std::mutex mutex_;  // guards every field; never held while calling out
    std::shared_ptr<NumericPID> runTimeSinceEngineStart_;
    std::shared_ptr<NumericPID> distanceMilOn_;
    std::shared_ptr<NumericPID> distanceMilOff_;
    std::shared_ptr<NumericPID> timeMilOn_;
    std::shared_ptr<NumericPID> timeMilOff_;
    std::shared_ptr<PID0101_MonitorStatus> monitorStatus_;
    int64_t numConfirmed_ = 0;
    int64_t numPending_ = 0;
    std::map<uint64_t, CommError> notRead_;
    mutable std::optional<std::vector<std::shared_ptr<PIDInfo>>> pids_;
    mutable std::optional<SmogReportStatus> smogCheckResult_;

  public:
    // For tests and tools of the library: a fresh report as the check starts it.
    static std::shared_ptr<SmogInfoReport> makeForTesting();
};

}  // namespace qz
