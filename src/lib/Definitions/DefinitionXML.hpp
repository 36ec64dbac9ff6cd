#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Result.hpp"
#include "platform/xml/XMLParser.hpp"

namespace qz {

// Small pieces shared by the definition-file readers.
namespace definitionxml {

// The attribute's value, or none when the element does not have it.
inline std::optional<std::string> attribute(const XMLAttributes& attributes,
                                            const std::string& name) {
    auto it = attributes.find(name);
    if (it == attributes.end()) return std::nullopt;
    return it->second;
}

// The items of a comma-separated list, as they stand (no trimming).
std::vector<std::string_view> splitList(std::string_view list);

// Whether the comma-separated list holds `item` exactly.
bool listContains(std::string_view list, std::string_view item);

// Appends one piece of an element's text: the parser may hand one text over in several pieces.
inline void appendText(std::optional<std::string>& text, const std::string& piece) {
    if (text)
        text->append(piece);
    else
        text = piece;
}

// `length` characters of the VIN from `position`, or none when the VIN is too short.
std::optional<std::string> vinPart(const std::optional<std::string>& vin, size_t position,
                                   size_t length);

// Parses a decrypted definition document with the delegate, external entities off. Logs an
// error of the parser at debug level ("XMLParser error: %@"), then "OK" or `failureLine`.
// True when the document was read to its end.
bool parseDocument(Data data, XMLParserDelegate& delegate, std::string_view failureLine);

}  // namespace definitionxml
}  // namespace qz
