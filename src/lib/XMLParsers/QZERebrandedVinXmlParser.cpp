#include "lib/XMLParsers/QZERebrandedVinXmlParser.hpp"

#include <map>
#include <string_view>

#include "lib/Utils/EnhancedProtocolManufacturer.hpp"
#include "platform/Text.hpp"

namespace qz {

namespace {

constexpr std::size_t kSquishSourceLength = 11;

}  // namespace

QZERebrandedVinXmlParser::QZERebrandedVinXmlParser(const std::optional<std::string>& vin)
    : m_squishVin(squishVinFor(vin)) {}

std::optional<std::string> QZERebrandedVinXmlParser::squishVinFor(
    const std::optional<std::string>& vin) {
    if (!vin) return std::nullopt;
    const auto characters = text::split(*vin, 1);
    if (characters.size() < kSquishSourceLength) return std::nullopt;
    std::string squish;
    for (std::size_t i = 0; i < 8; ++i) squish += characters[i];
    squish += characters[9];
    squish += characters[10];
    return squish;
}

std::optional<int64_t> QZERebrandedVinXmlParser::makeCodeForParent(const std::string& parent) {
    using M = EnhancedProtocolManufacturer;
    static const std::map<std::string, M, std::less<>> parents = {
        {"Chrysler", M::Chrysler}, {"Daimler", M::Mercedes},      {"GM", M::GM},
        {"Mazda", M::Mazda},       {"Mitsubishi", M::Mitsubishi}, {"Renault", M::Nissan},
        {"Subaru", M::Subaru},     {"Toyota", M::Toyota},         {"BMW", M::BMW},
        {"VAG", M::VOLKSWAGEN},    {"VOLKSWAGEN", M::VOLKSWAGEN}, {"Suzuki", M::Unknown},
    };
    auto it = parents.find(parent);
    if (it == parents.end()) return std::nullopt;
    return static_cast<int64_t>(it->second);
}

void QZERebrandedVinXmlParser::didStartElement(XMLParser& parser, const std::string& elementName,
                                               const std::string& namespaceURI,
                                               const std::string& qualifiedName,
                                               const XMLAttributes& attributes) {
    if (m_manufacturer != 0 || !m_squishVin) return;
    if (elementName != "brand") return;
    auto vins = attributes.find("squishvins");
    if (vins == attributes.end()) return;

    // Items are compared as they stand, without trimming.
    bool listed = false;
    std::string_view rest = vins->second;
    while (true) {
        const auto comma = rest.find(',');
        if (rest.substr(0, comma) == *m_squishVin) {
            listed = true;
            break;
        }
        if (comma == std::string_view::npos) break;
        rest.remove_prefix(comma + 1);
    }
    if (!listed) return;

    auto parent = attributes.find("parent");
    if (parent == attributes.end()) return;
    if (auto code = makeCodeForParent(parent->second)) {
        m_manufacturer = *code;
        m_matched = true;
    }
}

}  // namespace qz
