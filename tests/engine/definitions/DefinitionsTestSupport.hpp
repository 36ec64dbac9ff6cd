#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "lib/Descriptions/QZETroubleCodes.hpp"
#include "lib/Facades/QZEData.hpp"
#include "lib/Facades/QZEVehicle.hpp"
#include "lib/Logging/QZELogging.hpp"
#include "lib/Records/QZEModuleData.hpp"
#include "platform/Bundle.hpp"
#include "platform/xml/XMLParser.hpp"
#include "vehicle/VehicleTestSupport.hpp"

namespace qz::definitionstest {

using namespace vehicletest;

// Keeps every engine log line as "<level>:<text>".
class RecordingLogger : public LoggerInterface {
  public:
    void logVerbose(const std::optional<std::string>& t) override { add("V", t); }
    void logDebug(const std::optional<std::string>& t) override { add("D", t); }
    void logInfo(const std::optional<std::string>& t) override { add("I", t); }
    void logWarning(const std::optional<std::string>& t) override { add("W", t); }
    void logError(const std::optional<std::string>& t) override { add("E", t); }

    std::vector<std::string> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    size_t count(const std::string& line) const {
        auto all = lines();
        return static_cast<size_t>(std::count(all.begin(), all.end(), line));
    }
    size_t countStartingWith(const std::string& prefix) const {
        auto all = lines();
        return static_cast<size_t>(std::count_if(
            all.begin(), all.end(), [&](const auto& l) { return l.starts_with(prefix); }));
    }
    bool has(const std::string& line) const { return count(line) > 0; }
    void clear() {
        std::lock_guard lock(mutex_);
        lines_.clear();
    }

  private:
    void add(const char* level, const std::optional<std::string>& t) {
        std::lock_guard lock(mutex_);
        lines_.push_back(std::string(level) + ":" + t.value_or("<null>"));
    }
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

// The stored settings and vehicle state the loader reads.
struct FakeSettings : QZDataAdapter, QZVehicleStateInfo {
    int64_t firmware = 410;
    int64_t year = 2016;
    int64_t protocol = 6;
    OptionalText parentMan;

    void setEnhancedProtocol(const OptionalText&) override {}
    OptionalText EnhancedProtocol() override { return std::nullopt; }
    OptionalText VIN() override { return std::nullopt; }
    void setVehicleParentMan(const OptionalText&) override {}
    OptionalText vehicleParentMan() override { return parentMan; }
    int64_t sensorVersionNumber() override { return firmware; }
    int64_t obd2Protocol() override { return protocol; }
    bool useNewCommandSet() override { return true; }
    OptionalText customVehicleMan() override { return std::nullopt; }
    int64_t modelYear() override { return year; }
    int64_t vehicleDataManufacturer() override { return 0; }
    OptionalText obd2ProtocolString() override { return std::nullopt; }
    OptionalText vin() override { return std::nullopt; }
};

// A resource folder of its own, the settings above and a recording logger; the shared code
// catalogue starts empty.
class DefinitionsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Bundle::setLibraryPath(resources.path());
        QZETroubleCodes::TheCodes().reset();
        QZELogging::shared().registerLoggerInterface(logger);
        QZEData::sharedData().registerQZDataAdapter(settings);
        QZEVehicle::TheVehicle().registerVehicleStateInfoAdapter(settings);
    }
    void TearDown() override {
        QZEData::sharedData().registerQZDataAdapter(nullptr);
        QZEVehicle::TheVehicle().registerVehicleStateInfoAdapter(nullptr);
        QZELogging::shared().registerLoggerInterface(nullptr);
        QZETroubleCodes::TheCodes().reset();
        Bundle::setLibraryPath({});
    }

    // Writes an encrypted resource at the path under the resource folder.
    void writeResource(const std::string& relative, const std::string& plain) {
        const auto path = resources.path() / relative;
        std::filesystem::create_directories(path.parent_path());
        writeDefinitionFile(path, plain);
    }

    TempDir resources{"qz-definitions"};
    std::shared_ptr<RecordingLogger> logger = std::make_shared<RecordingLogger>();
    std::shared_ptr<FakeSettings> settings = std::make_shared<FakeSettings>();
};

// Runs a reader over an XML text.
inline bool parseWith(XMLParserDelegate& reader, const std::string& xml) {
    XMLParser parser(xml);
    parser.setDelegate(&reader);
    return parser.parse();
}

inline std::vector<std::string> acronyms(const std::vector<QZEModuleDataPtr>& modules) {
    std::vector<std::string> out;
    for (const auto& m : modules) out.push_back(m->accronym().value_or("(null)"));
    return out;
}

// The text values of a dictionary extra.
inline std::map<std::string, std::string> textTable(const QZEValue& value) {
    std::map<std::string, std::string> out;
    if (auto dict = value.dictionary())
        for (const auto& [k, v] : *dict) out[k] = v.text().value_or("<not text>");
    return out;
}

}  // namespace qz::definitionstest
