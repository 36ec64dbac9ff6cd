#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "lib/Logging/LoggerInterface.hpp"
#include "lib/Utils/DataAES256.hpp"
#include "support/TestSupport.hpp"

namespace qz::vehicletest {

using namespace testsupport;

// Writes `plain` encrypted as a definition file.
inline void writeDefinitionFile(const std::filesystem::path& path, const std::string& plain) {
    auto encrypted = DataAES256::encryptedWithKey(Data(plain.begin(), plain.end()),
                                                  DataAES256::definitionFileKey());
    writeFileBytes(path, encrypted.value());
}

// Writes `plain` encrypted as the definition file at `relative` under the resource folder.
inline void writeResource(const std::filesystem::path& resources, const std::string& relative,
                          const std::string& plain) {
    const auto path = resources / relative;
    std::filesystem::create_directories(path.parent_path());
    writeDefinitionFile(path, plain);
}

// The module-list files of the buses under "enhanceddiag/", by name (BMW's and VAG's lists,
// written in forms of their own, are not among them).
inline constexpr const char* kBusModuleLists[] = {"GM_CAN",
                                                  "GM_GMLAN",
                                                  "GM_VPW",
                                                  "Chrysler_CAN",
                                                  "Chrysler_29CAN",
                                                  "Chrysler_29CAN_CH_IHS",
                                                  "Chrysler_VPW",
                                                  "Ford_CAN",
                                                  "Ford_KLINE",
                                                  "Toyota_CAN",
                                                  "Toyota_KLINE",
                                                  "Nissan_CAN",
                                                  "Nissan_CAN_ON_KLINE",
                                                  "Nissan_KWP",
                                                  "Honda_CAN",
                                                  "Honda_KLINE",
                                                  "Mercedes_MBISO",
                                                  "Hyundai_CAN",
                                                  "Hyundai_MUT",
                                                  "Hyundai_KLine",
                                                  "Mitsubishi_CAN",
                                                  "Mitsubishi_KLINE",
                                                  "Subaru_CAN",
                                                  "Subaru_KLINE"};

// A logger interface that keeps the error lines and drops the rest.
struct ErrorLines : LoggerInterface {
    std::vector<std::string> errors;
    void logVerbose(const std::optional<std::string>&) override {}
    void logDebug(const std::optional<std::string>&) override {}
    void logInfo(const std::optional<std::string>&) override {}
    void logWarning(const std::optional<std::string>&) override {}
    void logError(const std::optional<std::string>& line) override {
        errors.push_back(line.value_or(""));
    }
};

}  // namespace qz::vehicletest
