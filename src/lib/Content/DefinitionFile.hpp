#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "platform/Result.hpp"

namespace qz {

// Where the encrypted definition files live and how they are read.
struct DefinitionFile {
    // Folder of the module lists and the rebranded-VIN list in the library's resources.
    static constexpr const char* kEnhancedDiagDirectory = "enhanceddiag";

    // Path of a resource of the library's bundle, or nullopt when it is missing.
    static std::optional<std::filesystem::path> path(
        const std::string& name, const std::string& type,
        const std::string& directory = kEnhancedDiagDirectory);

    // Whole file contents, or nullopt when it cannot be read.
    static std::optional<Data> read(const std::filesystem::path& path);

    // Reads and decrypts a definition file with the definition-file key; nullopt when the file
    // cannot be read or does not decrypt.
    static std::optional<Data> load(const std::filesystem::path& path);
};

}  // namespace qz
