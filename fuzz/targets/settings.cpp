// Settings as the library finds them on disk: the input as the settings suite's file, opened,
// read through every typed getter and written back as the sensor initialisation writes it;
// and the input as the host's configuration document.

#include <fstream>

#include "FuzzTarget.hpp"
#include "api/Data/PelkData.hpp"
#include "api/config/ConfigManager.hpp"
#include "platform/FileSystem.hpp"
#include "platform/UserDefaults.hpp"

using namespace qz;

QZ_FUZZ_TARGET(settings) {
    const auto folder = Paths::preferencesDirectory();
    Paths::createDirectories(folder);
    {
        std::ofstream out(folder / (std::string(PelkData::kSuiteName) + ".json"),
                          std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    {
        PelkData settings;
        auto suite = settings.prefs();
        if (!suite) return;
        const auto values = suite->dictionaryRepresentation();
        for (const auto& [key, value] : values.items()) {
            (void)suite->string(key);
            (void)suite->integer(key);
            (void)suite->boolean(key);
            (void)suite->doubleValue(key);
        }
        (void)settings.sensorVersionNumber();
        (void)settings.obd2Protocol();
        (void)settings.VIN();
        (void)settings.vehicleParentMan();
        settings.setActiveSensorVersion(405);
        settings.setActiveBusProtocol(BusProtocol::can11500);
    }

    (void)ConfigManager::initialize(Data(data, data + size));
    (void)ConfigManager::credentials();
    ConfigManager::reset();
}
