#include "lib/Content/DefinitionFile.hpp"

#include <fstream>
#include <iterator>

#include "lib/Utils/DataAES256.hpp"
#include "platform/Bundle.hpp"

namespace qz {

std::optional<std::filesystem::path> DefinitionFile::path(const std::string& name,
                                                          const std::string& type,
                                                          const std::string& directory) {
    return Bundle::library().path(name, type, directory);
}

std::optional<Data> DefinitionFile::read(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    Data bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return bytes;
}

std::optional<Data> DefinitionFile::load(const std::filesystem::path& path) {
    auto bytes = read(path);
    if (!bytes) return std::nullopt;
    return DataAES256::decryptedWithKey(*bytes, DataAES256::definitionFileKey());
}

}  // namespace qz
