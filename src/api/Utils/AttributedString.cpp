#include "api/Utils/AttributedString.hpp"

#include <libxml/HTMLparser.h>
#include <libxml/tree.h>

#include <climits>
#include <cstring>
#include <string>

namespace qz {

namespace {

bool nameIs(const xmlNode* node, const char* name) {
    return node->name && std::strcmp(reinterpret_cast<const char*>(node->name), name) == 0;
}

bool isBlock(const xmlNode* node) {
    static const char* kBlocks[] = {"p",     "div",        "li",  "ul",     "ol", "h1",
                                    "h2",    "h3",         "h4",  "h5",     "h6", "tr",
                                    "table", "blockquote", "pre", "section"};
    for (const char* b : kBlocks)
        if (nameIs(node, b)) return true;
    return false;
}

struct Builder {
    AttributedString out;
    bool pendingSpace = false;

    void append(const std::string& text, const TextAttributes& attrs) {
        if (text.empty()) return;
        size_t start = out.string.size();
        out.string += text;
        if (!out.runs.empty() && out.runs.back().attributes == attrs &&
            out.runs.back().location + out.runs.back().length == start) {
            out.runs.back().length += text.size();
        } else {
            out.runs.push_back({start, text.size(), attrs});
        }
    }

    void text(const char* content, const TextAttributes& attrs) {
        std::string collapsed;
        for (const char* p = content; *p; ++p) {
            char c = *p;
            if (c == ' ' || c == '\n' || c == '\t' || c == '\r' || c == '\f') {
                pendingSpace = true;
                continue;
            }
            if (pendingSpace) {
                char last = !collapsed.empty() ? collapsed.back()
                                               : (out.string.empty() ? '\n' : out.string.back());
                if (last != '\n') {
                    // A blank between two elements keeps the styles of the text before it.
                    if (!collapsed.empty())
                        collapsed += ' ';
                    else
                        append(" ", out.runs.empty() ? attrs : out.runs.back().attributes);
                }
                pendingSpace = false;
            }
            collapsed += c;
        }
        append(collapsed, attrs);
    }

    void lineEnd(const TextAttributes& attrs) {
        pendingSpace = false;
        if (!out.string.empty() && out.string.back() != '\n') append("\n", attrs);
    }

    void walk(const xmlNode* node, TextAttributes attrs) {
        for (; node; node = node->next) {
            if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
                if (node->content) text(reinterpret_cast<const char*>(node->content), attrs);
                continue;
            }
            if (node->type != XML_ELEMENT_NODE) continue;
            if (nameIs(node, "script") || nameIs(node, "style") || nameIs(node, "head")) continue;
            if (nameIs(node, "br")) {
                pendingSpace = false;
                append("\n", attrs);
                continue;
            }
            TextAttributes inner = attrs;
            if (nameIs(node, "b") || nameIs(node, "strong")) inner.bold = true;
            if (nameIs(node, "i") || nameIs(node, "em")) inner.italic = true;
            if (nameIs(node, "u")) inner.underline = true;
            if (nameIs(node, "a")) {
                if (xmlChar* href = xmlGetProp(node, reinterpret_cast<const xmlChar*>("href"))) {
                    inner.link = reinterpret_cast<const char*>(href);
                    xmlFree(href);
                }
            }
            bool block = isBlock(node);
            if (block) lineEnd(attrs);
            walk(node->children, inner);
            if (block) lineEnd(attrs);
        }
    }
};

}  // namespace

std::optional<AttributedString> html2AttributedString(std::string_view html) {
    // The reader makes no document of empty input; empty HTML is empty text.
    if (html.empty()) return AttributedString{};
    if (html.size() > static_cast<size_t>(INT_MAX)) return std::nullopt;
    htmlDocPtr doc = htmlReadMemory(html.data(), static_cast<int>(html.size()), nullptr, "UTF-8",
                                    HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET);
    if (!doc) return std::nullopt;
    Builder builder;
    builder.walk(xmlDocGetRootElement(doc), TextAttributes{});
    xmlFreeDoc(doc);
    return std::move(builder.out);
}

}  // namespace qz
