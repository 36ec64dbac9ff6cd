#include "api/PIDs/PIDInfo.hpp"

#include "api/PIDs/HexText.hpp"

namespace qz {

PIDInfo::PIDInfo(Mode mode, uint64_t pid, std::string fullName, PIDCategory category,
                 std::string shortName, int64_t responseBytes, std::optional<int64_t> supportBit)
    : category_(category),
      fullName_(std::move(fullName)),
      shortName_(std::move(shortName)),
      responseBytes_(responseBytes),
      mode_(mode),
      pid_(pid),
      supportBit_(supportBit) {}

PIDCategory PIDInfo::category() const {
    return locked(category_);
}
void PIDInfo::setCategory(PIDCategory category) {
    setLocked(category_, category);
}
std::string PIDInfo::fullName() const {
    return locked(fullName_);
}
void PIDInfo::setFullName(std::string name) {
    setLocked(fullName_, std::move(name));
}
std::string PIDInfo::shortName() const {
    return locked(shortName_);
}
void PIDInfo::setShortName(std::string name) {
    setLocked(shortName_, std::move(name));
}
int64_t PIDInfo::responseBytes() const {
    return locked(responseBytes_);
}
void PIDInfo::setResponseBytes(int64_t count) {
    setLocked(responseBytes_, count);
}
SupportStatus PIDInfo::supportStatus() const {
    return locked(supportStatus_);
}
void PIDInfo::setSupportStatus(SupportStatus status) {
    setLocked(supportStatus_, status);
}
std::vector<std::string> PIDInfo::data() const {
    return locked(data_);
}
void PIDInfo::setData(const std::vector<std::string>& data) {
    auto l = lock();
    if (data_.size() != data.size()) {
        data_ = data;
        return;
    }
    // Copied into the texts already there: no allocation once the sizes have settled, and
    // byte texts (two digits) character by character, without a call per text.
    const std::string* from = data.data();
    std::string* to = data_.data();
    for (const std::string* const end = from + data.size(); from != end; ++from, ++to) {
        if (from->size() == 2 && to->size() == 2) {
            const char high = (*from)[0], low = (*from)[1];
            char* out = to->data();
            out[0] = high;
            out[1] = low;
        } else {
            *to = *from;
        }
    }
}

std::string PIDInfo::descriptionHead() const {
    return "PID: " + asTwoDigitHex(pid_) + ", " + fullName_;
}

std::optional<std::string> PIDInfo::unsupportedText() const {
    if (supportStatus_ == SupportStatus::supported) return std::nullopt;
    return supportStatus_ == SupportStatus::unsupported ? "Unsupported" : "N/A";
}

std::string PIDInfo::description() const {
    auto l = lock();
    return descriptionHead() + ", supported: " + std::string(caseName(supportStatus_));
}

std::string PIDInfo::valueAsText(bool) const {
    auto l = lock();
    return supportStatus_ == SupportStatus::unsupported ? "Unsupported" : "N/A";
}

void PIDInfo::setSupportedViaSupportBit() {
    auto l = lock();
    if (!supportBit_ || data_.empty()) return;
    auto first = parseByte(data_[0]);
    bool set = first && bitAt(*first, *supportBit_) && *supportBit_ <= 7;
    supportStatus_ = set ? SupportStatus::supported : SupportStatus::unsupported;
}

bool PIDInfo::operator==(const PIDInfo& other) const {
    if (this == &other) return true;
    if (mode_ != other.mode_ || pid_ != other.pid_ || supportBit_ != other.supportBit_)
        return false;
    return fullName() == other.fullName();
}

}  // namespace qz
