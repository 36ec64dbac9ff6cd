#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "api/Communication/PelkSensor.hpp"
#include "api/Communication/PelkSensorState.hpp"
#include "api/Communication/SensorStatus.hpp"

namespace qz {

// Connecting to a sensor, versions, the connection status and the log archive.
//
// Listeners run on the library's main queue (a thread of the library's own, not the app's main
// thread). They may call any operation of the library, but must not block waiting for another
// result of it: the sensor's replies arrive through the main queue.
class PelkSensorDelegate {
  public:
    // Receives every state of the connection that `connect` opened.
    using SensorListener = std::function<void(PelkSensorState)>;
    // Receives the log archive's file, or none when it could not be written.
    using LogsClosure = std::function<void(std::optional<std::filesystem::path>)>;

    virtual ~PelkSensorDelegate() = default;

    // Opens a session to `sensor` (one from connectedDevices() or the connection updates) and
    // initialises the sensor. Returns at once; `listener` then receives, on the main queue:
    // - onSensorConnected(initialized) when the sensor started up and takes commands;
    //   onSensorConnected(initializationFailed) when it did not answer its start-up;
    //   onSensorConnected(recoveryMode) when it is in firmware recovery mode (it needs a
    //   firmware update before anything else works);
    // - onError(general("Could not open stream", 99)) when the link did not open (also for a
    //   null sensor and for a BLE sensor that was never discovered);
    // - onSensorDisconnected whenever the link closes afterwards: after disconnect(), when the
    //   sensor goes away, when it stops answering, or when a BLE connection does not complete
    //   within 30 seconds.
    // A later connect takes over the link and the listener. Statuses that arrive after the
    // gateway was released are dropped.
    virtual void connect(std::shared_ptr<PelkSensor> sensor, SensorListener listener) = 0;
    // Closes the active session, on the caller's thread; the connect listener then receives
    // onSensorDisconnected. Does nothing when no sensor was connected.
    virtual void disconnect() = 0;
    // The library's version, "1.6.194".
    virtual std::string libraryVersion() = 0;
    // The firmware version of the last sensor that started up, as stored by the library (also
    // across runs): 4.05 for a sensor that reports "OSAPI 4.05"; 0 when none ever did, and when
    // the last one's version was not read at its start-up (no whole answer in that form). The
    // firmware check of a scan then goes by the version that sensor told at an earlier start-up,
    // a guess: it sends what that version reaches (nothing that needs a firmware when none was
    // told), and the scan names what it leaves out as not read and is not complete.
    virtual float sensorVersion() = 0;
    // The same value as sensorVersion().
    virtual float lastConnectedFwVersion() = 0;
    // Builds one compressed archive of the log files ("log.gzip" in the temporary folder,
    // replaced by each call) off the caller's thread and hands its file to `closure` on the
    // main queue. The log lines stay encrypted: the archive is for the maker's support.
    virtual void requestZippedLogs(LogsClosure closure) = 0;
    // The last status a session reported (disconnected before any connect). Any thread.
    virtual SensorConnectionStatus status() const = 0;
};

}  // namespace qz
