#pragma once

#include <filesystem>
#include <string>

#include "lib/Utils/DataAES256.hpp"
#include "support/TestSupport.hpp"

namespace qz::vehicletest {

using namespace testsupport;

// Writes `plain` encrypted as a definition file.
inline void writeDefinitionFile(const std::filesystem::path& path, const std::string& plain) {
    auto encrypted = DataAES256::encryptedWithKey(Data(plain.begin(), plain.end()),
                                                  DataAES256::definitionFileKey());
    writeFileBytes(path, *encrypted);
}

}  // namespace qz::vehicletest
