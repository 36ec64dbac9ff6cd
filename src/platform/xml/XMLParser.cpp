#include "platform/xml/XMLParser.hpp"

#include <expat.h>

#include <algorithm>
#include <memory>

namespace qz {

struct XMLParser::Callbacks {
    static XMLParser& self(void* userData) { return *static_cast<XMLParser*>(userData); }

    static void startElement(void* userData, const XML_Char* name, const XML_Char** atts) {
        XMLParser& p = self(userData);
        if (p.m_aborted || !p.m_delegate) return;
        // The map and its nodes are used again from element to element: their texts keep
        // their room, so a document of many elements costs no allocation per element.
        XMLAttributes& attributes = p.m_attributes;
        while (!attributes.empty())
            p.m_spareAttributes.push_back(attributes.extract(attributes.begin()));
        for (const XML_Char** a = atts; a && a[0]; a += 2) {
            // The first of two same-named attributes would be a well-formedness error; expat
            // rejects it before we get here.
            if (p.m_spareAttributes.empty()) {
                attributes.emplace(a[0], a[1] ? a[1] : "");
                continue;
            }
            auto node = std::move(p.m_spareAttributes.back());
            p.m_spareAttributes.pop_back();
            node.key() = a[0];
            node.mapped() = a[1] ? a[1] : "";
            attributes.insert(std::move(node));
        }
        static const std::string empty;
        p.m_delegate->didStartElement(p, name, empty, empty, attributes);
    }

    static void endElement(void* userData, const XML_Char* name) {
        XMLParser& p = self(userData);
        if (p.m_aborted || !p.m_delegate) return;
        static const std::string empty;
        p.m_delegate->didEndElement(p, name, empty, empty);
    }

    static void characters(void* userData, const XML_Char* s, int len) {
        XMLParser& p = self(userData);
        if (p.m_aborted || !p.m_delegate || len <= 0) return;
        p.m_delegate->foundCharacters(p, std::string(s, static_cast<std::size_t>(len)));
    }
};

XMLParser::XMLParser(std::vector<uint8_t> data) : m_data(std::move(data)) {}

XMLParser::XMLParser(std::string_view text) : m_data(text.begin(), text.end()) {}

void XMLParser::ExpatFree::operator()(void* parser) const {
    XML_ParserFree(static_cast<XML_Parser>(parser));
}

long XMLParser::lineNumber() const {
    settlePosition();
    return m_line;
}

long XMLParser::columnNumber() const {
    settlePosition();
    return m_column;
}

void XMLParser::settlePosition() const {
    if (!m_finished) return;
    auto* x = static_cast<XML_Parser>(m_finished.get());
    m_line = static_cast<long>(XML_GetCurrentLineNumber(x));
    m_column = static_cast<long>(XML_GetCurrentColumnNumber(x));
    m_finished.reset();
}

void XMLParser::abortParsing() {
    if (m_aborted) return;
    m_aborted = true;
    if (m_expat) XML_StopParser(static_cast<XML_Parser>(m_expat), XML_FALSE);
}

bool XMLParser::parse() {
    if (m_result) return *m_result;

    // The document's own encoding declaration (or byte-order mark) decides; UTF-8 without one.
    std::unique_ptr<XML_ParserStruct, decltype(&XML_ParserFree)> expat(XML_ParserCreate(nullptr),
                                                                       &XML_ParserFree);
    if (!expat) {
        m_error = XMLParseError{XML_ERROR_NO_MEMORY, 0, 0, XML_ErrorString(XML_ERROR_NO_MEMORY)};
        if (m_delegate) m_delegate->parseErrorOccurred(*this, *m_error);
        m_result = false;
        return false;
    }
    XML_Parser x = expat.get();
    XML_SetUserData(x, this);
    XML_SetElementHandler(x, &Callbacks::startElement, &Callbacks::endElement);
    XML_SetCharacterDataHandler(x, &Callbacks::characters);
    // Parameter entities and the external DTD subset are never read.
    XML_SetParamEntityParsing(x, XML_PARAM_ENTITY_PARSING_NEVER);
    m_expat = x;

    if (m_delegate && !m_aborted) m_delegate->parserDidStartDocument(*this);

    bool ok = !m_aborted;
    std::size_t offset = 0;
    while (ok) {
        const std::size_t n = std::min(kPieceLimit, m_data.size() - offset);
        const bool last = offset + n == m_data.size();
        const auto* chunk = reinterpret_cast<const char*>(m_data.data() + offset);
        const XML_Status status = XML_Parse(x, chunk, static_cast<int>(n), last ? 1 : 0);
        offset += n;
        if (status != XML_STATUS_OK || m_aborted) {
            ok = false;
            break;
        }
        if (last) break;
    }

    m_expat = nullptr;

    if (ok) {
        m_finished.reset(expat.release());
        if (m_delegate) m_delegate->parserDidEndDocument(*this);
    } else {
        m_line = static_cast<long>(XML_GetCurrentLineNumber(x));
        m_column = static_cast<long>(XML_GetCurrentColumnNumber(x));
        XMLParseError error;
        if (m_aborted) {
            error.code = kAborted;
            error.description = "parsing aborted";
        } else {
            const XML_Error code = XML_GetErrorCode(x);
            error.code = static_cast<int>(code);
            error.description = XML_ErrorString(code) ? XML_ErrorString(code) : "unknown error";
        }
        error.line = m_line;
        error.column = m_column;
        m_error = error;
        if (m_delegate) m_delegate->parseErrorOccurred(*this, error);
    }
    m_result = ok;
    return ok;
}

}  // namespace qz
