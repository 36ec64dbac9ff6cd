#include "api/Live/SmogInfoReport.hpp"

#include "api/PIDs/Mode1/Mode1PIDs.hpp"
#include "platform/Locked.hpp"

namespace qz {

SmogInfoReport::SmogInfoReport()
    : runTimeSinceEngineStart_(std::make_shared<PID011F>(Mode::LiveData)),
      distanceMilOn_(std::make_shared<PID0121>(Mode::LiveData)),
      distanceMilOff_(std::make_shared<PID0131>(Mode::LiveData)),
      timeMilOn_(std::make_shared<PID014D>(Mode::LiveData)),
      timeMilOff_(std::make_shared<PID014E>(Mode::LiveData)),
      monitorStatus_(std::make_shared<PID0101_MonitorStatus>(Mode::LiveData)) {}

std::shared_ptr<SmogInfoReport> SmogInfoReport::makeForTesting() {
    return std::shared_ptr<SmogInfoReport>(new SmogInfoReport());
}

#define QZ_REPORT_FIELD(Type, name, Setter)              \
    Type SmogInfoReport::name() const {                  \
        return lockedCopy(mutex_, name##_);              \
    }                                                    \
    void SmogInfoReport::Setter(Type value) {            \
        lockedAssign(mutex_, name##_, std::move(value)); \
    }
QZ_REPORT_FIELD(std::shared_ptr<NumericPID>, runTimeSinceEngineStart, setRunTimeSinceEngineStart)
QZ_REPORT_FIELD(std::shared_ptr<NumericPID>, distanceMilOn, setDistanceMilOn)
QZ_REPORT_FIELD(std::shared_ptr<NumericPID>, distanceMilOff, setDistanceMilOff)
QZ_REPORT_FIELD(std::shared_ptr<NumericPID>, timeMilOn, setTimeMilOn)
QZ_REPORT_FIELD(std::shared_ptr<NumericPID>, timeMilOff, setTimeMilOff)
QZ_REPORT_FIELD(std::shared_ptr<PID0101_MonitorStatus>, monitorStatus, setMonitorStatus)
QZ_REPORT_FIELD(int64_t, numConfirmed, setNumConfirmed)
QZ_REPORT_FIELD(int64_t, numPending, setNumPending)
#undef QZ_REPORT_FIELD

std::optional<CommError> SmogInfoReport::notRead(uint64_t pid) const {
    std::lock_guard l(mutex_);
    const auto found = notRead_.find(pid);
    if (found == notRead_.end()) return std::nullopt;
    return found->second;
}

void SmogInfoReport::setNotRead(uint64_t pid, std::optional<CommError> error) {
    std::lock_guard l(mutex_);
    if (error)
        notRead_[pid] = *error;
    else
        notRead_.erase(pid);
}

std::vector<std::shared_ptr<PIDInfo>> SmogInfoReport::pids() const {
    std::lock_guard l(mutex_);
    if (!pids_)
        pids_ = std::vector<std::shared_ptr<PIDInfo>>{runTimeSinceEngineStart_,
                                                      distanceMilOn_,
                                                      distanceMilOff_,
                                                      timeMilOn_,
                                                      timeMilOff_,
                                                      monitorStatus_};
    return *pids_;
}

SmogReportStatus SmogInfoReport::smogCheckResult() const {
    std::shared_ptr<PID0101_MonitorStatus> monitors;
    int64_t confirmed = 0, pending = 0;
    {
        std::lock_guard l(mutex_);
        if (smogCheckResult_) return *smogCheckResult_;
        monitors = monitorStatus_;
        confirmed = numConfirmed_;
        pending = numPending_;
    }
    // The monitors' lock is taken outside ours.
    const bool allComplete = monitors && monitors->areAllComplete();
    const bool milOn = monitors && monitors->milOn();
    SmogReportStatus verdict = SmogReportStatus::pass;
    if (milOn || confirmed > 0)
        verdict = SmogReportStatus::fail;
    else if (pending > 0 || !allComplete)
        verdict = SmogReportStatus::warning;
    std::lock_guard l(mutex_);
    if (!smogCheckResult_) smogCheckResult_ = verdict;
    return *smogCheckResult_;
}

void SmogInfoReport::setSmogCheckResult(SmogReportStatus value) {
    lockedAssign(mutex_, smogCheckResult_, value);
}

std::string SmogInfoReport::description() const {
    std::vector<std::shared_ptr<PIDInfo>> parts;
    int64_t confirmed = 0, pending = 0;
    {
        std::lock_guard l(mutex_);
        parts = {runTimeSinceEngineStart_,
                 distanceMilOn_,
                 distanceMilOff_,
                 timeMilOn_,
                 timeMilOff_,
                 monitorStatus_};
        confirmed = numConfirmed_;
        pending = numPending_;
    }
    std::string out = "[";
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i) out += "\r";
        out += parts[i] ? parts[i]->description() : "nil";
    }
    out += "\rNum confirmed: " + std::to_string(confirmed);
    out += "\rNum pending: " + std::to_string(pending);
    out += "]";
    return out;
}

}  // namespace qz
