#include "lib/Content/DefinitionFile.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "lib/Utils/DataAES256.hpp"
#include "platform/Bundle.hpp"

namespace qz {

std::optional<std::filesystem::path> DefinitionFile::path(const std::string& name,
                                                          const std::string& type,
                                                          const std::string& directory) {
    return Bundle::library().path(name, type, directory);
}

std::optional<Data> DefinitionFile::read(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    // The whole file in one read (more only if the system hands it over in parts); one byte
    // more than its size shows whether it grew meanwhile.
    Data bytes(static_cast<size_t>(st.st_size) + 1);
    size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
        if (got == bytes.size()) bytes.resize(bytes.size() * 2);
    }
    ::close(fd);
    bytes.resize(got);
    return bytes;
}

std::optional<Data> DefinitionFile::load(const std::filesystem::path& path) {
    auto bytes = read(path);
    if (!bytes) return std::nullopt;
    return DataAES256::decryptedWithKey(*bytes, DataAES256::definitionFileKey());
}

}  // namespace qz
