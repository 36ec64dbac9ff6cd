// Build helper: encrypts one plain resource file into the library's resource folder with the
// library's own definition-file operation.
//   qz_encrypt_resource <plain file> <encrypted file>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "lib/Utils/DataAES256.hpp"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <plain file> <encrypted file>\n", argv[0]);
        return 2;
    }
    const fs::path input = argv[1];
    const fs::path output = argv[2];

    std::ifstream in(input, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", input.c_str());
        return 1;
    }
    const qz::Data plain((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

    const auto encrypted =
        qz::DataAES256::encryptedWithKey(plain, qz::DataAES256::definitionFileKey());
    if (!encrypted) return 1;

    std::error_code ec;
    fs::create_directories(output.parent_path(), ec);
    const fs::path temporary = output.string() + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(encrypted->data()),
                  static_cast<std::streamsize>(encrypted->size()));
        if (!out.flush()) {
            std::fprintf(stderr, "cannot write %s\n", temporary.c_str());
            return 1;
        }
    }
    fs::rename(temporary, output, ec);
    if (ec) {
        std::fprintf(stderr, "cannot write %s: %s\n", output.c_str(), ec.message().c_str());
        return 1;
    }
    return 0;
}
