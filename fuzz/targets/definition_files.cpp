// Definition files as the library reads them from its resource folder: the input, encrypted
// with the definition-file key, is written as the rebranded-VIN list and the VIN database and
// read back through the library's loaders; the decryption also gets the raw input.

#include <fstream>

#include "FuzzTarget.hpp"
#include "api/Web/VinDatabase.hpp"
#include "lib/Content/DefinitionFile.hpp"
#include "lib/Utils/DataAES256.hpp"
#include "lib/XMLParsers/QZERebrandedVinChecker.hpp"
#include "platform/FileSystem.hpp"

using namespace qz;

QZ_FUZZ_TARGET(definition_files) {
    const Data input(data, data + size);
    (void)DataAES256::decryptedWithKey(input, DataAES256::definitionFileKey());

    auto encrypted = DataAES256::encryptedWithKey(input, DataAES256::definitionFileKey());
    if (!encrypted) return;
    const auto file = Paths::temporaryDirectory() / "definition-file";
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(encrypted->data()),
                  static_cast<std::streamsize>(encrypted->size()));
    }
    if (auto plain = DefinitionFile::load(file)) {
        if (auto db = VinDatabase::decode(std::string(plain->begin(), plain->end()))) {
            (void)db->find("1HGCM82633A004352");
            (void)db->find("5Z6AD0ETX9C123456");
        }
    }
    QZERebrandedVinChecker checker(file);
    (void)checker.checkVinForMake(std::string("5Z6AD0ETX9C123456"));
    (void)checker.checkVinForMake(std::string("1HGCM82633A004352"));
}
