// The pull tokenizer: events of malformed and well-formed markup, entity
// unescaping, attribute lookup, and cell references.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "reader/reader.h"
#include "types/address.h"
#include "reader/xml.h"

using namespace morvane;
using namespace morvane::reader;

namespace {

// Events in a compact form: S:name[a=v,...]  E:name  M:name[...] (self-closing)  T:text
std::string dump(std::string_view xml) {
    std::string out;
    XmlIter it(xml);
    while (auto ev = it.next_ev()) {
        if (!out.empty()) out += ' ';
        switch (ev->kind) {
            case Ev::Kind::Start: out += "S:"; break;
            case Ev::Kind::End: out += "E:"; break;
            case Ev::Kind::Empty: out += "M:"; break;
            case Ev::Kind::Text: out += "T:" + ev->text; continue;
        }
        out += ev->name;
        if (ev->kind == Ev::Kind::End) continue;
        out += '[';
        for (size_t i = 0; i < ev->attrs.size(); ++i)
            out += (i ? "," : "") + ev->attrs[i].name + "=" + ev->attrs[i].value;
        out += ']';
    }
    return out;
}

}  // namespace

TEST(XmlTokenizer, Events) {
    struct Case {
        const char* xml;
        const char* want;
    };
    const Case cases[] = {
        {"<a x=\"1>2\"/>", "M:a[x=1>2]"},
        {"<a x='say \"hi\"'/>", "M:a[x=say \"hi\"]"},
        {"<c r = \"A1\" >", "S:c[r=A1]"},
        {"</c >", "E:c"},
        {"<c r=A1 t=\"s\">", "S:c[]"},
        {"<c flag t=\"s\">", "S:c[flag t=s]"},
        {"<?xml version=\"1.0\"?><!-- c --><a/>", "M:a[]"},
        {"<![CDATA[x &amp; <y>]]>", "T:x &amp; <y>"},
        {"<![CDATA[]]>", ""},
        {"<a>\n  </a>", "S:a[] T:\n   E:a"},
        {"<x:sheet name=\"a&amp;b\" r:id=\"rId1\"/>", "M:x:sheet[name=a&b,r:id=rId1]"},
        {"<", "S:[]"},
        {"<>", "S:[]"},
        {"<!-->x", "T:x"},
        {"<a b=\"unterminated", "S:a[b=unterminated]"},
        {"<a b='1' / >", "M:a[b=1]"},
        {"text<!-- never closed", "T:text"},
        {"</unterminated", "E:unterminated"},
        {"<!DOCTYPE x [<!ENTITY e \"v\">]><a/>", "T:]> M:a[]"},
        {"<a\tb=\"1\"\nc='2'>", "S:a[b=1,c=2]"},
    };
    for (const Case& c : cases) EXPECT_EQ(dump(c.xml), c.want) << c.xml;
}

TEST(XmlTokenizer, AttributesPerTagAreBounded) {
    std::string xml = "<a";
    for (int i = 0; i < 5000; ++i) xml += " b" + std::to_string(i) + "=\"\"";
    for (const char* end : {">", " >"}) {  // both the common and the general shape
        std::string text = xml + end;
        XmlIter it(text);
        auto ev = it.next_ev();
        ASSERT_TRUE(ev);
        EXPECT_EQ(ev->kind, Ev::Kind::Start);
        EXPECT_EQ(ev->attrs.size(), 1024u);
        EXPECT_EQ(ev->attrs.back().name, "b1023");
        EXPECT_FALSE(it.next_ev());
    }
}

TEST(XmlTokenizer, EndIsSticky) {
    XmlIter it("<a/>");
    EXPECT_TRUE(it.next_ev());
    EXPECT_FALSE(it.next_ev());
    EXPECT_FALSE(it.next_ev());
}

TEST(XmlTokenizer, Unescape) {
    struct Case {
        const char* in;
        const char* want;
    };
    const Case cases[] = {
        {"a&lt;b&amp;c", "a<b&c"},
        {"&#65;&#x42;&#X43;", "ABC"},
        {"&#+65;&#x+41;", "AA"},
        {"&#xD800;", "&#xD800;"},
        {"&LT;", "&LT;"},
        {"& x", "& x"},
        {"&nbsp;", "&nbsp;"},
        {"&#x000000041;", "A"},
        {"&#x0000000041;", "&#x0000000041;"},
        {"&#4294967296;", "&#4294967296;"},
        {"&#x110000;", "&#x110000;"},
        {"&#-65;&#;&#x;", "&#-65;&#;&#x;"},
        {"&quot;&apos;&gt;", "\"'>"},
        {"&#233;&#x1F600;", "\xC3\xA9\xF0\x9F\x98\x80"},
        {"&&amp;", "&&"},
        // Line ends as XML reads them; a reference keeps its carriage return.
        {"a\r\nb\rc\n\rd&#13;&#xD;\r", "a\nb\nc\n\nd\r\r\n"},
        {"a long text well past the short inline scan\r\n with CR LF",
         "a long text well past the short inline scan\n with CR LF"},
    };
    for (const Case& c : cases) EXPECT_EQ(xml_unescape(c.in), c.want) << c.in;
    EXPECT_EQ(xml_unescape("&#0;"), std::string(1, '\0'));
}

TEST(XmlTokenizer, AttributeLookupAndTruth) {
    XmlIter it("<c r:id=\"7\" table:name=\"T\" a=\"1\" b=\"True\" c=\" 1\" d=\"TRUE\" e=\"\" a=\"0\"/>");
    auto ev = it.next_ev();
    ASSERT_TRUE(ev);
    ASSERT_TRUE(find_attr(ev->attrs, "id"));
    EXPECT_EQ(find_attr(ev->attrs, "id")->value, "7");
    EXPECT_EQ(find_attr(ev->attrs, "name")->value, "T");
    EXPECT_FALSE(find_attr(ev->attrs, "missing"));
    EXPECT_TRUE(attr_is_true(ev->attrs, "a"));  // the first a counts
    EXPECT_FALSE(attr_is_true(ev->attrs, "b"));
    EXPECT_FALSE(attr_is_true(ev->attrs, "c"));
    EXPECT_TRUE(attr_is_true(ev->attrs, "d"));
    EXPECT_FALSE(attr_is_true(ev->attrs, "e"));
    EXPECT_FALSE(attr_is_true(ev->attrs, "missing"));
    EXPECT_EQ(local_name("x:sheet"), "sheet");
    EXPECT_EQ(local_name("sheet"), "sheet");
}

TEST(XmlTokenizer, CellReferences) {
    // Worksheet cells are placed by the shared address reader.
    using Ref = std::optional<CellPos>;
    struct Case {
        const char* text;
        Ref want;
    };
    const Case cases[] = {
        {"b12", Ref({12, 2})}, {" AA0 ", Ref({0, 27})},        {"XFD1048576", Ref({1048576, 16384})},
        {"A1B", std::nullopt}, {"12", std::nullopt},           {"A", std::nullopt},
        {"$A$1", Ref({1, 1})}, {"A99999999999", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(morvane_types::parse_cell_addr(c.text), c.want) << c.text;
}
