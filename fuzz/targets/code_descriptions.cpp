// The readers of the trouble-code description files over the input as an XML document: one
// table of the code-description file, the Volkswagen-group global codes and the BMW codes of
// one chassis. Every code read is looked up again.

#include <unordered_map>

#include "FuzzTarget.hpp"
#include "lib/Definitions/QZEBMWTroubleCodeParser.hpp"
#include "lib/Descriptions/CustomTroubleCodeParser.hpp"
#include "lib/Descriptions/QZEVagTroubleCodeStore.hpp"
#include "lib/Descriptions/VagTroubleCodeParser.hpp"

using namespace qz;

QZ_FUZZ_TARGET(code_descriptions) {
    fuzz::QuietEngineLog quiet;
    const Data xml(data, data + size);

    QZECodeTable table;
    CustomTroubleCodeParser custom("GM", table);
    (void)custom.parseDocumentWithFile(xml);

    QZEVagTroubleCodeStore store;
    VagTroubleCodeParser vag(store);
    (void)vag.parseDocumentWithFile(xml);
    for (const auto& [code, text] : table) {
        (void)store.getDfccForJ2012(code);
        (void)store.getDefinitionForJ20120(code);
    }
    (void)store.getJ2012ForDfcc(std::string("16"));
    (void)store.getDefinitionForDfcc(std::string("16"));

    std::unordered_map<std::string, QZECodeTable> tables;
    QZEBMWTroubleCodeParser bmw("3A5C", tables);
    (void)bmw.parseDocumentWithFile(xml);
    for (const auto& [name, codes] : tables)
        fuzz::require(name.starts_with("BMW3A5C"), "BMW tables are named by the chassis");
}
