#include "update/xmldoc.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/text.h"

namespace zelk {
namespace {

std::string u8(const std::u16string& s) { return utf16ToUtf8(s); }

// ---------------------------------------------------------------------------
// Loading: well-formedness and the exact problem list.

struct LoadCase {
  const char* label;
  std::u16string text;
  bool wellFormed;
  std::u16string result;
};

class LoadTest : public testing::TestWithParam<LoadCase> {};

TEST_P(LoadTest, ResultMatches) {
  const LoadCase& c = GetParam();
  XmlDoc doc;
  EXPECT_EQ(doc.LoadText(c.text), c.wellFormed);
  EXPECT_EQ(u8(doc.result()), u8(c.result));
}

INSTANTIATE_TEST_SUITE_P(
    Xml, LoadTest,
    testing::Values(
        LoadCase{"update_document", u"<ROOT><version>1.17</version></ROOT>", true, u""},
        LoadCase{"prolog_and_trailer",
                 u"\uFEFF<?xml version=\"1.0\"?>\r\n<!-- c -->\n<!DOCTYPE r SYSTEM \"r>.dtd\" [ "
                 u"<!ENTITY e \"x>\"> "
                 u"<!-- > --> <?p > ?> ]>\n<r/>\n trailing text",
                 true, u""},
        LoadCase{"quoted_gt_in_attributes", u"<a x=\"1>2\" y = '>'>t</a>", true, u""},
        LoadCase{"unended_child", u"<a><b></a>", false,
                 u"<unended_start_tag tagname=\"b\" offset=\"3\" offset2=\"7\"/>"},
        LoadCase{"unended_innermost_first", u"<a><b><c></a>", false,
                 u"<unended_start_tag tagname=\"c\" offset=\"6\" offset2=\"10\"/>"
                 u"<unended_start_tag tagname=\"b\" offset=\"3\" offset2=\"10\"/>"},
        LoadCase{"unended_at_end_of_text", u"<a>x", false,
                 u"<unended_start_tag tagname=\"a\" offset=\"0\" offset2=\"4\"/>"},
        LoadCase{"lone_end_tag", u"<a></b></a>", false,
                 u"<lone_end_tag tagname=\"b\" offset=\"3\"/>"},
        LoadCase{"escaped_attribute", u"<r></x&\"'<></r>", false,
                 u"<lone_end_tag tagname=\"x&amp;&quot;&apos;&lt;\" offset=\"3\"/>"},
        LoadCase{"root_has_sibling", u"<a/><b/>", false, u"<root_has_sibling/>"},
        LoadCase{"empty_text", u"", false, u""},
        LoadCase{"only_comment", u"<!-- c -->", false, u"<no_root_element/>"},
        LoadCase{"only_blanks", u" \r\n", false, u"<no_root_element/>"},
        LoadCase{"first_tag_syntax", u"<1a/>", false,
                 u"<first_tag_syntax offset=\"0\"/><no_root_element/>"},
        LoadCase{"blank_after_lt", u"<r>< b></r>", false, u"<first_tag_syntax offset=\"3\"/>"},
        LoadCase{"exclamation_tag_syntax", u"<a><!x></a>", false,
                 u"<exclamation_tag_syntax offset=\"3\"/>"},
        LoadCase{"comment_tag_syntax", u"<a><!-x--></a>", false,
                 u"<comment_tag_syntax offset=\"3\"/>"},
        LoadCase{"cdata_section_syntax", u"<a><![x]]></a>", false,
                 u"<cdata_section_syntax offset=\"3\"/>"},
        LoadCase{"doctype_tag_syntax", u"<!DOCTYPE a [<!X>]><a/>", false,
                 u"<doctype_tag_syntax offset=\"13\"/>"},
        LoadCase{"unterminated_comment", u"<a><!-- x", false,
                 u"<unterminated_tag_syntax type=\"comment\" offset=\"3\"/>"
                 u"<unended_start_tag tagname=\"a\" offset=\"0\" offset2=\"9\"/>"},
        LoadCase{"unterminated_cdata", u"<a/><![CDATA[x", false,
                 u"<unterminated_tag_syntax type=\"cdata_section\" offset=\"4\"/>"},
        LoadCase{"unterminated_pi", u"<a/><?pi", false,
                 u"<unterminated_tag_syntax type=\"processing_instruction\" offset=\"4\"/>"},
        LoadCase{"unterminated_end_tag", u"<a></a", false,
                 u"<unterminated_tag_syntax type=\"end_tag\" offset=\"3\"/>"
                 u"<unended_start_tag tagname=\"a\" offset=\"0\" offset2=\"6\"/>"},
        LoadCase{"unterminated_start_tag", u"<a x=\"1>", false,
                 u"<unterminated_tag_syntax type=\"start_tag\" offset=\"0\"/><no_root_element/>"},
        LoadCase{"unterminated_doctype", u"<a/><!DOCTYPE a [ <!ENTITY x \"y\">", false,
                 u"<unterminated_tag_syntax type=\"document_type\" offset=\"4\"/>"},
        LoadCase{"unterminated_tag", u"<a/><", false,
                 u"<unterminated_tag_syntax type=\"tag\" offset=\"4\"/>"},
        LoadCase{"case_sensitive_names", u"<A></a>", false,
                 u"<lone_end_tag tagname=\"a\" offset=\"3\"/>"
                 u"<unended_start_tag tagname=\"A\" offset=\"0\" offset2=\"7\"/>"}),
    [](const testing::TestParamInfo<LoadCase>& info) { return std::string(info.param.label); });

TEST(XmlDoc, IgnoreCaseOptionMatchesNamesAcrossCase) {
  XmlDoc doc;
  doc.flags = XmlDoc::IGNORE_CASE;
  ASSERT_TRUE(doc.LoadText(u"<Root><Item>x</ITEM></rOOT>"));
  EXPECT_TRUE(doc.FindElement(u"ROOT"));
  doc.EnterElement();
  EXPECT_TRUE(doc.FindElement(u"item"));
  EXPECT_EQ(u8(doc.ElementData()), "x");
}

TEST(XmlDoc, ResultStopsGrowingPastItsLimit) {
  std::u16string text = u"<r>";
  for (int i = 0; i < 200; ++i) text += u"</x>";
  text += u"</r>";
  XmlDoc doc;
  EXPECT_FALSE(doc.LoadText(text));
  const std::u16string& result = doc.result();
  const std::u16string entry = u"<lone_end_tag tagname=\"x\" offset=\"100\"/>";
  EXPECT_GT(result.size(), XmlDoc::RESULT_LIMIT);
  EXPECT_LE(result.size(), XmlDoc::RESULT_LIMIT + entry.size());
  EXPECT_EQ(result.substr(result.size() - 2), u"/>");
  // A later load starts a fresh list.
  EXPECT_TRUE(doc.LoadText(u"<r/>"));
  EXPECT_TRUE(doc.result().empty());
}

// ---------------------------------------------------------------------------
// The index.

TEST(XmlDoc, SiblingLinksKeepTheLastChildBehindTheFirst) {
  XmlDoc doc;
  ASSERT_TRUE(doc.LoadText(u"<r><a/><b>t</b><c/></r>"));
  ASSERT_EQ(doc.recordCount(), 5u);
  const ElementRecord& r = doc.record(1);
  EXPECT_EQ(doc.record(0).firstChild, 1u);
  EXPECT_EQ(r.firstChild, 2u);
  EXPECT_EQ(doc.record(2).prev, 4u);  // first child's prev: the last child
  EXPECT_EQ(doc.record(2).next, 3u);
  EXPECT_EQ(doc.record(3).prev, 2u);
  EXPECT_EQ(doc.record(4).prev, 3u);
  EXPECT_EQ(doc.record(4).next, 0u);
  EXPECT_TRUE(doc.record(1).flags & ELEMENT_FIRST);
  EXPECT_TRUE(doc.record(2).flags & ELEMENT_FIRST);
  EXPECT_FALSE(doc.record(3).flags & ELEMENT_FIRST);
  EXPECT_EQ(doc.record(1).flags & ELEMENT_LEVEL_MASK, 0u);
  EXPECT_EQ(doc.record(3).flags & ELEMENT_LEVEL_MASK, 1u);
  // <b>t</b>: start 7, start tag 3, end tag 4.
  EXPECT_EQ(doc.record(3).start, 7);
  EXPECT_EQ(doc.record(3).length, 8);
  EXPECT_EQ(doc.startTagLength(3), 3u);
  EXPECT_EQ(doc.endTagLength(3), 4u);
  EXPECT_EQ(doc.record(3).tagLengths, 3u | (4u << 22));
  EXPECT_EQ(doc.endTagLength(2), 0u);  // empty element
  EXPECT_EQ(doc.record(1).length, 23);
}

TEST(XmlDoc, UnendedElementKeepsOnlyItsStartTag) {
  XmlDoc doc;
  EXPECT_FALSE(doc.LoadText(u"<a><b></a>"));
  EXPECT_TRUE(doc.record(0).flags & ELEMENT_ILLFORMED);
  const ElementRecord& b = doc.record(2);
  EXPECT_EQ(b.parent, 1u);
  EXPECT_TRUE(b.flags & ELEMENT_UNENDED);
  EXPECT_EQ(b.length, 3);
  EXPECT_EQ(doc.endTagLength(2), 0u);
  EXPECT_FALSE(doc.record(1).flags & ELEMENT_UNENDED);
  EXPECT_EQ(doc.record(1).length, 10);
}

TEST(XmlDoc, ChildrenOfAnUnendedElementFollowItAsSiblings) {
  XmlDoc doc;
  EXPECT_FALSE(doc.LoadText(u"<r><a><b/><c><d/></c></r>"));
  // r=1 a=2 b=3 c=4 d=5
  EXPECT_EQ(doc.record(1).firstChild, 2u);
  EXPECT_EQ(doc.record(2).firstChild, 0u);
  EXPECT_EQ(doc.record(2).next, 3u);
  EXPECT_EQ(doc.record(3).next, 4u);
  EXPECT_EQ(doc.record(4).next, 0u);
  EXPECT_EQ(doc.record(2).prev, 4u);
  EXPECT_EQ(doc.record(3).prev, 2u);
  EXPECT_EQ(doc.record(3).parent, 1u);
  EXPECT_EQ(doc.record(4).parent, 1u);
  EXPECT_FALSE(doc.record(3).flags & ELEMENT_FIRST);
  EXPECT_EQ(doc.record(3).flags & ELEMENT_LEVEL_MASK, 1u);
  EXPECT_EQ(doc.record(5).parent, 4u);
  EXPECT_EQ(doc.record(5).flags & ELEMENT_LEVEL_MASK, 2u);  // moved with its parent
  // Navigation sees the repaired tree.
  ASSERT_TRUE(doc.FindElement(u"r"));
  doc.EnterElement();
  EXPECT_TRUE(doc.FindElement(u"c"));
  doc.EnterElement();
  EXPECT_TRUE(doc.FindElement(u"d"));
}

TEST(XmlDoc, OpenElementsAtTheEndBecomeTopLevelSiblings) {
  XmlDoc doc;
  EXPECT_FALSE(doc.LoadText(u"<a><b><c>"));
  EXPECT_EQ(u8(doc.result()),
            "<unended_start_tag tagname=\"c\" offset=\"6\" offset2=\"9\"/>"
            "<unended_start_tag tagname=\"b\" offset=\"3\" offset2=\"9\"/>"
            "<unended_start_tag tagname=\"a\" offset=\"0\" offset2=\"9\"/>"
            "<root_has_sibling/>");
  for (uint32_t i = 1; i <= 3; ++i) {
    EXPECT_EQ(doc.record(i).parent, 0u) << i;
    EXPECT_EQ(doc.record(i).flags & ELEMENT_LEVEL_MASK, 0u) << i;
  }
}

TEST(XmlDoc, IndexGrowsAcrossSegments) {
  const int n = 150000;
  std::u16string text = u"<r>";
  for (int i = 0; i < n; ++i) text += u"<e/>";
  text += u"<last>x</last></r>";
  XmlDoc doc;
  ASSERT_TRUE(doc.LoadText(text));
  EXPECT_EQ(doc.recordCount(), static_cast<uint32_t>(n + 3));
  ASSERT_TRUE(doc.FindElement(u"r"));
  doc.EnterElement();
  ASSERT_TRUE(doc.FindElement(u"last"));
  EXPECT_EQ(u8(doc.ElementData()), "x");
  EXPECT_EQ(doc.currentElement(), static_cast<uint32_t>(n + 2));
  int count = 0;
  doc.LeaveElement();
  doc.EnterElement();
  while (doc.FindElement()) ++count;
  EXPECT_EQ(count, n + 1);
}

TEST(XmlDoc, LevelSaturatesInDeepNesting) {
  const int depth = 70000;
  std::u16string text;
  for (int i = 0; i < depth; ++i) text += u"<a>";
  text += u"x";
  for (int i = 0; i < depth; ++i) text += u"</a>";
  XmlDoc doc;
  ASSERT_TRUE(doc.LoadText(text));
  const ElementRecord& deepest = doc.record(depth);
  EXPECT_EQ(deepest.flags & ELEMENT_LEVEL_MASK, ELEMENT_LEVEL_MASK);
  EXPECT_FALSE(deepest.flags & ELEMENT_UNENDED);  // the level does not spill into the flags
  EXPECT_EQ(deepest.flags & ~ELEMENT_LEVEL_MASK, ELEMENT_FIRST);
}

TEST(XmlDoc, LongChainOfUnendedElementsLoadsInLinearTime) {
  std::u16string text;
  for (int i = 0; i < 40000; ++i) text += u"<a><b/>";
  XmlDoc doc;
  EXPECT_FALSE(doc.LoadText(text));
  EXPECT_EQ(doc.recordCount(), 80001u);
  int top = 0;
  while (doc.FindElement()) ++top;
  EXPECT_EQ(top, 80000);
}

TEST(XmlDoc, TagsTooLongForThePackedLengthsKeepTheirData) {
  std::u16string big = u"<a x=\"" + std::u16string(0x400000, u'y') + u"\">t</a>";
  XmlDoc doc;
  ASSERT_TRUE(doc.LoadText(big));
  ASSERT_TRUE(doc.FindElement(u"a"));
  EXPECT_EQ(u8(doc.ElementData()), "t");
  EXPECT_EQ(doc.startTagLength(1), 0x400000u + 8);

  std::u16string longEnd = u"<a>t</a" + std::u16string(2000, u' ') + u">";
  ASSERT_TRUE(doc.LoadText(longEnd));
  ASSERT_TRUE(doc.FindElement(u"a"));
  EXPECT_EQ(u8(doc.ElementData()), "t");
  EXPECT_EQ(doc.endTagLength(1), 2004u);
}

// ---------------------------------------------------------------------------
// Element data.

struct DataCase {
  const char* label;
  std::u16string text;
  std::u16string data;  // of the first top-level element
};

class DataTest : public testing::TestWithParam<DataCase> {};

TEST_P(DataTest, DataMatches) {
  const DataCase& c = GetParam();
  XmlDoc doc;
  doc.LoadText(c.text);
  ASSERT_TRUE(doc.FindElement());
  EXPECT_EQ(doc.ElementData(), c.data) << u8(doc.ElementData());
}

INSTANTIATE_TEST_SUITE_P(
    Xml, DataTest,
    testing::Values(
        DataCase{"references", u"<a>x &amp; &#65;&#x42; &AMP; &bogus; &oslash;</a>",
                 u"x & AB & &bogus; \u00D8"},
        DataCase{"cdata_between_text", u"<a>1<![CDATA[<&>]]>2</a>", u"1<&>2"},
        DataCase{"blank_between_cdata_dropped", u"<a><![CDATA[x]]> <![CDATA[y]]></a>", u"xy"},
        DataCase{"cdata_with_amp_verbatim", u"<a><![CDATA[&amp;]]></a>", u"&amp;"},
        DataCase{"child_element", u"<a><b/>t</a>", u""}, DataCase{"empty_element", u"<a/>", u""},
        DataCase{"no_content", u"<a></a>", u""},
        DataCase{"blanks_only_without_markup", u"<a>  </a>", u"  "},
        DataCase{"comments_and_pi_dropped", u"<a> <!--c--> x <?p?>y</a>", u" x y"},
        DataCase{"lone_end_tag_dropped", u"<a>x</b>y</a>", u"xy"},
        DataCase{"unended", u"<a>text", u""},
        DataCase{"capital_first",
                 u"<a>&Oslash;&OSLASH;&yuml;&Yuml;&dagger;&harr;&hArr;&prime;&eth;&aelig;</a>",
                 u"\u00D8\u00D8\u0178\u0178\u2021\u21D4\u21D4\u2033\u00D0\u00C6"},
        DataCase{"own_code_points",
                 u"<a>&lt;&gt;&quot;&apos;&nbsp;&euro;&hellip;&sigmaf;&thetasym;&there4;&frac34;&"
                 u"szlig;&fnof;"
                 u"&alefsym;&diams;</a>",
                 u"<>\"'\u00A0\u20AC\u2026\u03C2\u03D1\u2234\u00BE\u00DF\u0192\u2135\u2666"},
        DataCase{"astral_numeric", u"<a>&#x1F600;&#1114111;</a>", u"\U0001F600\U0010FFFF"},
        DataCase{"numeric_extremes",
                 u"<a>&#X41;&#x0000041;&#x00000041;&#0;&#x110000;&#1114112;</a>",
                 u"AA&#x00000041;&#0;&#x110000;&#1114112;"},
        DataCase{"not_references",
                 u"<a>&; &#; &#x; &#12a; &#x4g; &abcdefghij; &amp\u4E2D; &&amp; & amp;</a>",
                 u"&; &#; &#x; &#12a; &#x4g; &abcdefghij; &amp\u4E2D; && & amp;"},
        DataCase{"malformed_cdata_tail", u"<a><![CDx]]>z</a>", u"z"}),
    [](const testing::TestParamInfo<DataCase>& info) { return std::string(info.param.label); });

TEST(XmlDoc, EntityTableHas253Entries) {
  EXPECT_EQ(entityCount(), 253);
  EXPECT_EQ(entityCodePoint(u"amp"), 38u);
  EXPECT_EQ(entityCodePoint(u"Oslash"), 216u);
  EXPECT_EQ(entityCodePoint(u"oslash"), 216u);
  EXPECT_EQ(entityCodePoint(u"rarr"), 8658u);
  EXPECT_EQ(entityCodePoint(u"crarr"), 8629u);
  EXPECT_EQ(entityCodePoint(u"nosuch"), 0u);
  EXPECT_EQ(entityCodePoint(u""), 0u);
}

// ---------------------------------------------------------------------------
// Navigation.

TEST(XmlDoc, SearchRunsForwardOnly) {
  XmlDoc doc;
  ASSERT_TRUE(doc.LoadText(u"<r><a/><c/><b/></r>"));
  ASSERT_TRUE(doc.FindElement(u"r"));
  doc.EnterElement();
  EXPECT_TRUE(doc.FindElement(u"c"));
  EXPECT_FALSE(doc.FindElement(u"a"));
  EXPECT_EQ(u8(doc.ElementName()), "c");  // a failed search leaves the position
  EXPECT_TRUE(doc.FindElement(u"b"));
  EXPECT_FALSE(doc.FindElement(u"b"));
}

TEST(XmlDoc, SearchNeverDescends) {
  XmlDoc doc;
  ASSERT_TRUE(doc.LoadText(u"<r><a><x/></a></r>"));
  EXPECT_FALSE(doc.FindElement(u"a"));
  ASSERT_TRUE(doc.FindElement(u"r"));
  doc.EnterElement();
  EXPECT_FALSE(doc.FindElement(u"x"));
  EXPECT_FALSE(doc.FindElement(u"R"));
}

TEST(XmlDoc, EnterAndLeave) {
  XmlDoc doc;
  ASSERT_TRUE(doc.LoadText(u"<r><a><x>1</x></a><b>2</b></r>"));
  doc.EnterElement();  // no current element: nothing happens
  EXPECT_EQ(doc.currentParent(), 0u);
  doc.LeaveElement();  // no parent: nothing happens
  EXPECT_EQ(doc.currentElement(), 0u);
  ASSERT_TRUE(doc.FindElement(u"r"));
  doc.EnterElement();
  EXPECT_EQ(doc.currentParent(), 1u);
  EXPECT_EQ(doc.currentElement(), 0u);
  ASSERT_TRUE(doc.FindElement(u"a"));
  doc.EnterElement();
  ASSERT_TRUE(doc.FindElement(u"x"));
  EXPECT_EQ(u8(doc.ElementData()), "1");
  doc.LeaveElement();
  EXPECT_EQ(u8(doc.ElementName()), "a");
  EXPECT_EQ(doc.currentParent(), 1u);
  EXPECT_EQ(doc.currentChild(), 3u);
  EXPECT_TRUE(doc.FindElement(u"b"));  // continues after a
  EXPECT_EQ(u8(doc.ElementData()), "2");
  doc.LeaveElement();
  EXPECT_EQ(u8(doc.ElementName()), "r");
  EXPECT_EQ(doc.currentParent(), 0u);
}

TEST(XmlDoc, SearchFailsOnEmptyIndexAndLoadResetsPosition) {
  XmlDoc doc;
  EXPECT_FALSE(doc.FindElement(u"a"));
  EXPECT_FALSE(doc.FindElement());
  EXPECT_TRUE(doc.ElementData().empty());
  ASSERT_TRUE(doc.LoadText(u"<a><b/></a>"));
  ASSERT_TRUE(doc.FindElement(u"a"));
  doc.EnterElement();
  ASSERT_TRUE(doc.LoadText(u"<c/>"));
  EXPECT_EQ(doc.currentParent(), 0u);
  EXPECT_TRUE(doc.FindElement(u"c"));
  EXPECT_FALSE(doc.LoadText(u"text only"));
  EXPECT_FALSE(doc.FindElement());
}

}  // namespace
}  // namespace zelk
