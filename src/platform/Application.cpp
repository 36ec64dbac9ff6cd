#include "platform/Application.hpp"

#include <sys/utsname.h>

#include <mutex>

#include "platform/NotificationCenter.hpp"

namespace qz {

void Application::enterBackground() {
    NotificationCenter::defaultCenter().post(didEnterBackgroundNotification);
}

void Application::becomeActive() {
    NotificationCenter::defaultCenter().post(didBecomeActiveNotification);
}

namespace {
struct VersionOverride {
    std::mutex mutex;
    std::optional<std::string> version;
};
VersionOverride& versionOverride() {
    static auto* v = new VersionOverride;
    return *v;
}
}  // namespace

std::string Device::systemVersion() {
    {
        auto& v = versionOverride();
        std::lock_guard lock(v.mutex);
        if (v.version) return *v.version;
    }
    utsname u{};
    if (::uname(&u) != 0) return "";
    // "6.1.0-18-amd64" -> "6.1.0": the numeric part of the kernel release.
    std::string release = u.release;
    auto end = release.find_first_not_of("0123456789.");
    return release.substr(0, end);
}

void Device::setSystemVersion(const std::optional<std::string>& version) {
    auto& v = versionOverride();
    std::lock_guard lock(v.mutex);
    v.version = version;
}

}  // namespace qz
