#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/xml/XMLParser.hpp"

namespace qz {
namespace {

// Records every event as one text.
class Recorder : public XMLParserDelegate {
  public:
    std::vector<std::string> events;
    std::string abortAt;

    void parserDidStartDocument(XMLParser&) override { events.push_back("start"); }
    void parserDidEndDocument(XMLParser&) override { events.push_back("end"); }
    void didStartElement(XMLParser& parser, const std::string& name, const std::string& ns,
                         const std::string& qname, const XMLAttributes& attributes) override {
        std::string e = "<" + name;
        for (const auto& [k, v] : attributes) e += " " + k + "=" + v;
        events.push_back(e + ">");
        if (name == abortAt) parser.abortParsing();
    }
    void didEndElement(XMLParser&, const std::string& name, const std::string&,
                       const std::string&) override {
        events.push_back("</" + name + ">");
    }
    void foundCharacters(XMLParser&, const std::string& characters) override {
        if (!events.empty() && events.back().rfind("text:", 0) == 0) {
            events.back() += characters;  // pieces of one run
        } else {
            events.push_back("text:" + characters);
        }
    }
    void parseErrorOccurred(XMLParser&, const XMLParseError& error) override {
        events.push_back("error:" + std::to_string(error.code));
    }
};

TEST(XMLParserTest, EventsInDocumentOrder) {
    XMLParser parser(std::string_view(
        R"(<?xml version="1.0" encoding="UTF-8"?><a x="1" b="&amp;2"><b>t&lt;1</b><c/>Citroën</a>)"));
    Recorder r;
    parser.setDelegate(&r);
    EXPECT_TRUE(parser.parse());
    EXPECT_FALSE(parser.parserError());
    EXPECT_EQ(r.events,
              (std::vector<std::string>{"start", "<a b=&2 x=1>", "<b>", "text:t<1", "</b>", "<c>",
                                        "</c>", "text:Citroën", "</a>", "end"}));
}

TEST(XMLParserTest, DocumentEncodingIsHonoured) {
    // Latin-1 bytes as the declaration says; events always carry UTF-8.
    XMLParser latin1(std::string_view(
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a n=\"Citro\xEBn\">\xE9</a>"));
    Recorder r;
    latin1.setDelegate(&r);
    EXPECT_TRUE(latin1.parse());
    EXPECT_EQ(r.events, (std::vector<std::string>{"start", "<a n=Citro\xC3\xABn>", "text:\xC3\xA9",
                                                  "</a>", "end"}));
    // No declaration: UTF-8.
    XMLParser plain(std::string_view("<a>\xC3\xA9</a>"));
    Recorder p;
    plain.setDelegate(&p);
    EXPECT_TRUE(plain.parse());
    EXPECT_EQ(p.events[2], "text:\xC3\xA9");
}

TEST(XMLParserTest, MalformedDocumentStopsWithError) {
    XMLParser parser(std::string_view("<a><b>one</b><b>two</a>"));
    Recorder r;
    parser.setDelegate(&r);
    EXPECT_FALSE(parser.parse());
    ASSERT_TRUE(parser.parserError());
    EXPECT_FALSE(parser.parserError()->description.empty());
    EXPECT_EQ(parser.parserError()->line, 1);
    // Everything before the fault was delivered, nothing after; no end of document.
    ASSERT_GE(r.events.size(), 5u);
    EXPECT_EQ(r.events[4], "</b>");
    EXPECT_EQ(r.events.back().rfind("error:", 0), 0u);
    EXPECT_EQ(std::count(r.events.begin(), r.events.end(), "end"), 0);
}

TEST(XMLParserTest, EmptyAndGarbageInputFail) {
    Recorder r;
    XMLParser empty(std::string_view(""));
    empty.setDelegate(&r);
    EXPECT_FALSE(empty.parse());
    XMLParser garbage(std::vector<uint8_t>{0x8f, 0x01, 0xff, 0x3c, 0x00});
    EXPECT_FALSE(garbage.parse());  // no delegate: still safe
}

TEST(XMLParserTest, AbortFromDelegateEndsTheParse) {
    XMLParser parser(std::string_view("<r><a/><stop/><b/><c/></r>"));
    Recorder r;
    r.abortAt = "stop";
    parser.setDelegate(&r);
    EXPECT_FALSE(parser.parse());
    ASSERT_TRUE(parser.parserError());
    EXPECT_EQ(parser.parserError()->code, XMLParser::kAborted);
    EXPECT_EQ(std::count(r.events.begin(), r.events.end(), "<b>"), 0);
    EXPECT_FALSE(parser.parse());  // runs once
}

TEST(XMLParserTest, PositionIsWhereTheParseStopped) {
    XMLParser whole{std::string_view("<a>\n  <b/>\n</a>")};
    EXPECT_EQ(whole.lineNumber(), 0);
    ASSERT_TRUE(whole.parse());
    EXPECT_EQ(whole.lineNumber(), 3);
    EXPECT_EQ(whole.columnNumber(), 4);

    XMLParser broken{std::string_view("<a>\n  <b>\n</a>")};
    ASSERT_FALSE(broken.parse());
    ASSERT_TRUE(broken.parserError());
    EXPECT_EQ(broken.parserError()->line, 3);
    EXPECT_EQ(broken.lineNumber(), 3);
    EXPECT_EQ(broken.columnNumber(), broken.parserError()->column);
}

TEST(XMLParserTest, DocumentsLargerThanOneChunkStream) {
    std::string doc = "<list>";
    const int n = 20000;
    for (int i = 0; i < n; ++i) doc += "<item id=\"" + std::to_string(i) + "\">value</item>";
    doc += "</list>";
    ASSERT_GT(doc.size(), 3 * XMLParser::kChunkSize);

    struct Counter : XMLParserDelegate {
        int items = 0;
        std::string last;
        void didStartElement(XMLParser&, const std::string& name, const std::string&,
                             const std::string&, const XMLAttributes& a) override {
            if (name == "item") {
                ++items;
                last = a.at("id");
            }
        }
    } counter;
    XMLParser parser{std::string_view(doc)};
    parser.setDelegate(&counter);
    EXPECT_TRUE(parser.parse());
    EXPECT_EQ(counter.items, n);
    EXPECT_EQ(counter.last, std::to_string(n - 1));
}

TEST(XMLParserTest, ExternalEntitiesAreNotFetched) {
    XMLParser parser(std::string_view(
        R"(<?xml version="1.0"?><!DOCTYPE r [<!ENTITY ext SYSTEM "file:///etc/passwd">]><r>&ext;</r>)"));
    Recorder r;
    parser.setDelegate(&r);
    parser.setShouldResolveExternalEntities(true);
    parser.parse();
    for (const auto& e : r.events) EXPECT_EQ(e.find("root:"), std::string::npos) << e;
}

TEST(XMLParserTest, EntityExpansionBombIsRefused) {
    std::string doc = "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY a0 \"xxxxxxxxxx\">";
    for (int i = 1; i < 12; ++i) {
        std::string prev = "&a" + std::to_string(i - 1) + ";";
        std::string ten;
        for (int k = 0; k < 10; ++k) ten += prev;
        doc += "<!ENTITY a" + std::to_string(i) + " \"" + ten + "\">";
    }
    doc += "]><r>&a11;</r>";
    XMLParser parser(std::string_view{doc});
    EXPECT_FALSE(parser.parse());
}

}  // namespace
}  // namespace qz
