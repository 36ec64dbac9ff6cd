#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "api/PIDs/Enums/PIDCategory.hpp"
#include "api/PIDs/Mode.hpp"
#include "api/PIDs/SupportStatus.hpp"
#include "platform/Locked.hpp"

namespace qz {

// Root of every parameter object: which service and PID number it answers, its names, how many
// data bytes the answer carries, whether the vehicle supports it and the data bytes of the last
// answer (one hexadecimal text per byte, without the echo of service and PID number).
//
// The catalogue makes one object per parameter and keeps it: supportedPids, pids() and every
// refresh hand over the same objects, updated in place. One object is shared between the
// host's threads and "GatewayQueue": every field read and every refresh is guarded by the
// object's own mutex, never held while calling out. The host reads; the setters are the
// library's.
class PIDInfo {
  public:
    // For the library's parameter classes.
    PIDInfo(Mode mode, uint64_t pid, std::string fullName, PIDCategory category,
            std::string shortName, int64_t responseBytes, std::optional<int64_t> supportBit);
    virtual ~PIDInfo() = default;
    PIDInfo(const PIDInfo&) = delete;
    PIDInfo& operator=(const PIDInfo&) = delete;

    // The service (LiveData: 01, VehicleInfo: 09) and PID number of the request; fixed.
    Mode mode() const { return mode_; }
    uint64_t pid() const { return pid_; }
    // The bit of the answer's first byte that tells whether the value is present; fixed.
    std::optional<int64_t> supportBit() const { return supportBit_; }

    // The kind of value: numeric (NumericPID), boolean (BinaryPID), string (an enumeration)
    // or other.
    PIDCategory category() const;
    void setCategory(PIDCategory category);
    // Display name and short mnemonic ("Engine RPM", "RPM"); the support walk may rename the
    // oxygen-sensor parameters after the vehicle's sensor layout.
    std::string fullName() const;
    void setFullName(std::string name);
    std::string shortName() const;
    void setShortName(std::string name);
    // The number of data bytes a valid answer holds.
    int64_t responseBytes() const;
    void setResponseBytes(int64_t count);
    // unknown until a support walk (supportedPids) marks it supported or unsupported.
    SupportStatus supportStatus() const;
    void setSupportStatus(SupportStatus status);
    // The data bytes of the last answer, one hexadecimal text each ("1A", "F8"); empty before.
    std::vector<std::string> data() const;

    // Replaces `data` with the given byte texts unchanged.
    virtual void setData(const std::vector<std::string>& data);

    // "PID: 05, Engine Coolant Temperature, supported: unknown".
    virtual std::string description() const;

    // "Unsupported" for an unsupported parameter, else "N/A"; value kinds replace it.
    virtual std::string valueAsText(bool useAltValueIfAvailable = false) const;

    // Sets the support status from the support bit of the first data byte: no change without a
    // support bit or data; unsupported for an unreadable first byte or a bit outside 0...7.
    virtual void setSupportedViaSupportBit();

    // Equal when full name, mode, number and support bit are equal.
    bool operator==(const PIDInfo& other) const;

  protected:
    // Guards every mutable field of this object and of its subclasses.
    std::unique_lock<std::mutex> lock() const { return std::unique_lock<std::mutex>(mutex_); }
    // A copy of one of the guarded fields, taken under lock().
    template <class T>
    T locked(const T& field) const {
        return lockedCopy(mutex_, field);
    }
    // Assigns one of the guarded fields under lock().
    template <class T, class U>
    void setLocked(T& field, U&& value) {
        lockedAssign(mutex_, field, std::forward<U>(value));
    }

    // Fields below are read and written only while holding lock().
    PIDCategory category_;
    std::string fullName_;
    std::string shortName_;
    int64_t responseBytes_;
    SupportStatus supportStatus_ = SupportStatus::unknown;
    std::vector<std::string> data_;

    // Head of every description: "PID: XX, <fullName>".
    std::string descriptionHead() const;

    // Text for a parameter that is not supported ("Unsupported" or "N/A"), or nothing when
    // supported. Call with the lock held.
    std::optional<std::string> unsupportedText() const;

  private:
    const Mode mode_;
    const uint64_t pid_;
    const std::optional<int64_t> supportBit_;
    mutable std::mutex mutex_;
};

}  // namespace qz
