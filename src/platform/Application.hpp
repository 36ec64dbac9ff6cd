#pragma once

#include <optional>
#include <string>

namespace qz {

// The app life-cycle events, posted on `NotificationCenter::defaultCenter()` by the host
// (or a test) through the functions below.
class Application {
  public:
    static inline const std::string didEnterBackgroundNotification =
        "UIApplicationDidEnterBackgroundNotification";
    static inline const std::string didBecomeActiveNotification =
        "UIApplicationDidBecomeActiveNotification";
    static inline const std::string willResignActiveNotification =
        "UIApplicationWillResignActiveNotification";
    static inline const std::string willEnterForegroundNotification =
        "UIApplicationWillEnterForegroundNotification";

    // Posts `didEnterBackgroundNotification` on the calling thread.
    static void enterBackground();
    // Posts `didBecomeActiveNotification` on the calling thread.
    static void becomeActive();
};

// The device the library runs on.
class Device {
  public:
    // The operating system's version text (the kernel release, e.g. "6.1.0"), unless set.
    static std::string systemVersion();
    // Overrides the version text (nullopt restores the default).
    static void setSystemVersion(const std::optional<std::string>& version);
};

}  // namespace qz
