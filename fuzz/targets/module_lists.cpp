// The module-list readers of the definition files: the first byte picks the make, the second
// the bus, the quick-scan flag and the VIN; the rest is the list as an XML document. The
// general reader and the Volkswagen-group reader both read it; every module read is copied and
// its Volkswagen-group code store asked for codes.

#include "FuzzTarget.hpp"
#include "lib/Definitions/QZEBasicXMLParserDelegate.hpp"
#include "lib/Definitions/QZEVagXMLParserDelegate.hpp"
#include "lib/Descriptions/QZEVagTroubleCodeStore.hpp"
#include "platform/xml/XMLParser.hpp"

using namespace qz;

namespace {

void read(XMLParserDelegate& reader, std::string_view xml) {
    XMLParser parser(xml);
    parser.setDelegate(&reader);
    (void)parser.parse();
}

void touch(const std::vector<QZEModuleDataPtr>& modules) {
    for (const auto& module : modules) {
        fuzz::require(module != nullptr, "a module read is a record");
        auto copy = module->copy();
        fuzz::require(copy->accronym() == module->accronym(), "a copy keeps the acronym");
        (void)module->requestResponseKey();
        if (auto store = module->extra("VAG_CODE_STORE").object<QZEVagTroubleCodeStore>()) {
            (void)store->getJ2012ForDfcc(std::string("16"));
            (void)store->getDefinitionForJ20120(std::string("P0300"));
            (void)store->count();
        }
    }
}

}  // namespace

QZ_FUZZ_TARGET(module_lists) {
    fuzz::QuietEngineLog quiet;
    if (size < 2) return;
    // Every make but the Volkswagen group (8) and Mercedes (9), which have readers of their own.
    static constexpr int64_t kMakes[] = {1, 2, 3, 4, 5, 6, 7, 10, 11, 12, 13};
    static constexpr int64_t kBuses[] = {1, 2, 3, 4, 5, 6, 7, 9, 10, 11, 58, 96, 98};
    const std::optional<std::string> kVins[] = {std::nullopt, "WBA3A5C50DF123456",
                                                "WVWZZZ1KZ6W000001", "SHORTVIN"};
    const int64_t make = kMakes[data[0] % std::size(kMakes)];
    const int64_t bus = kBuses[data[1] % std::size(kBuses)];
    const bool quickScan = data[1] & 0x80;
    const auto& vin = kVins[(data[1] >> 5) & 3];
    const std::string_view xml = fuzz::textOf(data + 2, size - 2);

    std::vector<QZEModuleDataPtr> modules;
    {
        QZEBasicXMLParserDelegate reader(make, bus, quickScan, vin, modules);
        read(reader, xml);
    }
    {
        QZEVagXMLParserDelegate reader(vin, quickScan, bus, modules);
        read(reader, xml);
    }
    touch(modules);
}
