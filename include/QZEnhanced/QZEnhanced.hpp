#pragma once

// QZEnhanced: the app-facing API in one include.
//
//   #include <QZEnhanced/QZEnhanced.hpp>
//
// The app creates one qz::Gateway and talks to it; the types below are what it passes in and
// what its listeners receive. docs/guide.md walks through them.

// The facade and its protocols.
#include "Version.hpp"
#include "api/Gateway/Gateway.hpp"

// Sensors, connection states and errors.
#include "api/Communication/BusProtocol.hpp"
#include "api/Communication/CommError.hpp"
#include "api/Communication/GatewayLogger.hpp"
#include "api/Communication/PelkError.hpp"
#include "api/Communication/PelkSensor.hpp"
#include "api/Communication/PelkSensorState.hpp"
#include "api/Communication/SensorStatus.hpp"
#include "api/Communication/SensorType.hpp"
#include "api/Communication/WebError.hpp"
#include "api/Communication/YMME.hpp"
#include "api/Delegates/GatewayLoggerDelegate.hpp"

// Trouble-code scans and clears.
#include "api/Scan/PelkModule.hpp"
#include "api/Scan/PelkScanProgress.hpp"
#include "api/Scan/PelkScanType.hpp"

// Live data: the parameter model, its value kinds and enumerations, the VIN.
#include "api/PIDs/BinaryIndexedPID.hpp"
#include "api/PIDs/BinaryPID.hpp"
#include "api/PIDs/BinarySumPID.hpp"
#include "api/PIDs/DirectDataPID.hpp"
#include "api/PIDs/Enums/PIDCategory.hpp"
#include "api/PIDs/Enums/ValueEnumerations.hpp"
#include "api/PIDs/Mode.hpp"
#include "api/PIDs/NumericPID.hpp"
#include "api/PIDs/PID.hpp"
#include "api/PIDs/PID0902.hpp"
#include "api/PIDs/PIDInfo.hpp"
#include "api/PIDs/PartialByteNumericPID.hpp"
#include "api/PIDs/SignedNumericPID.hpp"
#include "api/PIDs/SupportStatus.hpp"
#include "api/PIDs/Units.hpp"
#include "api/VIN/VIN.hpp"

// The emissions-readiness (smog) check.
#include "api/Live/SmogInfoError.hpp"
#include "api/Live/SmogInfoReport.hpp"
#include "api/Live/SmogReportStatus.hpp"
#include "api/milstatus/PID0101_MonitorStatus.hpp"

// Firmware, backend, Wi-Fi.
#include "api/Firmware/FirmwareDownloadState.hpp"
#include "api/Firmware/FirmwareError.hpp"
#include "api/Firmware/FirmwareUpdateError.hpp"
#include "api/Firmware/FirmwareUpdateState.hpp"
#include "api/Web/QZVehicleXmlType.hpp"
#include "api/Web/RepairAsset.hpp"
#include "api/Web/VinError.hpp"
#include "api/WiFi/WiFiConfiguration.hpp"
#include "api/WiFi/WiFiConfigurationError.hpp"
#include "api/WiFi/WiFiSecurityType.hpp"

// Host settings: folders, resources, Bluetooth adapter, driver console, the value-or-error type,
// and the seam where an accessory transport attaches sensors.
#include "platform/Bundle.hpp"
#include "platform/Console.hpp"
#include "platform/FileSystem.hpp"
#include "platform/Result.hpp"
#include "platform/accessory/Accessory.hpp"
#include "platform/accessory/AccessoryManager.hpp"
#include "platform/ble/BleCentral.hpp"
#include "platform/ble/BlueZCentral.hpp"
