// One contract for the XML DOM: pugixml natively, MSXML 6 under Wine. The
// expectations are the same for both; a backend that reads other texts or
// accepts other documents fails here.
#include "platform/xml.h"
#include "platform/xml_locate.h"

#include <gtest/gtest.h>

#include <thread>

#include "common/text.h"
#include "temp_folder.h"

namespace volok::platform {
namespace {

class XmlTest : public ::testing::Test {
 protected:
  std::unique_ptr<XmlDocument> NewDocument() {
    std::unique_ptr<XmlDocument> document;
    Status status = XmlParser::Default().CreateDocument(document);
    EXPECT_TRUE(status.ok()) << status.message();
    return document;
  }

  // The text of the first node at `path` below the document element of `xml`.
  std::string TextAt(const std::string& xml, const std::string& path) {
    auto document = NewDocument();
    if (!document) return "<no document>";
    if (!document->LoadXml(xml)) return "<not loaded>";
    auto node = document->DocumentElement()->SelectSingleNode(path);
    return node ? node->Text() : "<none>";
  }

  std::unique_ptr<XmlNode> Append(XmlDocument& document, XmlNode& parent, const std::string& name,
                                  const std::string& text) {
    std::unique_ptr<XmlNode> node;
    Status status = document.CreateElement(name, node);
    EXPECT_TRUE(status.ok()) << status.message();
    if (!node) return nullptr;
    if (!text.empty()) {
      EXPECT_TRUE(node->SetText(text).ok());
    }
    EXPECT_TRUE(parent.AppendChild(*node).ok());
    return node;
  }
};

TEST_F(XmlTest, TextIsTheExactContentOfTextAndCdataDescendants) {
  struct Case {
    const char* element;
    const char* text;
  } cases[] = {
      {"<v>plain</v>", "plain"},
      {"<v>  padded \t</v>", "  padded \t"},
      {"<v>a &amp; b &lt;c&gt; &quot;d&quot; &apos;e&apos;</v>", "a & b <c> \"d\" 'e'"},
      {"<v>&#1046;&#x416;&#65;</v>", "ЖЖA"},
      {"<v><![CDATA[ <raw> & ]]></v>", " <raw> & "},
      {"<v>a<!-- hidden -->b<?pi skipped?>c</v>", "abc"},
      {"<v>x <i>y <b>z</b></i> w</v>", "x y z w"},
      {"<v>a<i> </i>b</v>", "a b"},
      {"<v>\n  <i>deep</i>\n</v>", "\n  deep\n"},
      {"<v>one\r\ntwo\rthree</v>", "one\ntwo\nthree"},
      {"<v>Программа «Ёж»</v>", "Программа «Ёж»"},
      {"<v/>", ""},
      {"<v><i/></v>", ""},
  };
  for (const Case& c : cases) {
    std::string xml = std::string("<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<r>") + c.element + "</r>";
    EXPECT_EQ(TextAt(xml, "v"), c.text) << c.element;
  }
}

TEST_F(XmlTest, DocumentsThatAreNotWellFormedHaveNoDocumentElement) {
  const char* cases[] = {
      "",
      "   ",
      "plain text",
      "<r>",
      "<r></s>",
      "<r/><s/>",
      "<r>R&D</r>",
      "<r>&unknown;</r>",
      "<!DOCTYPE r [<!ENTITY e \"x\">]><r>&e;</r>",
      "<r>a</r>tail",
  };
  for (const char* xml : cases) {
    auto document = NewDocument();
    EXPECT_FALSE(document->LoadXml(xml)) << xml;
    EXPECT_EQ(document->DocumentElement(), nullptr) << xml;
  }
}

// Every reference or character XML 1.0 forbids is a load error on both
// backends (pugixml took them all, and a reference beyond U+10FFFF read back
// as other text than it was written from).
TEST_F(XmlTest, ForbiddenCharactersAndReferencesAreNotWellFormed) {
  const std::string refused[] = {
      "&#0;", "&#1;", "&#8;", "&#x0B;", "&#x1f;", "&#xD800;", "&#xDFFF;", "&#xFFFE;", "&#xFFFF;",
      "&#x110000;", "&#1114112;", "&#12444444444444444444444444444444;", "&#x;", "&#;", "&#x-1;",
      "\x01", "\x08", "\x1F", "\xEF\xBF\xBE", "\xEF\xBF\xBF",
  };
  for (const std::string& text : refused) {
    for (const std::string& xml : {"<r><v>a" + text + "b</v></r>", "<r><v a=\"" + text + "\"/></r>"}) {
      auto document = NewDocument();
      EXPECT_FALSE(document->LoadXml(xml)) << xml;
      EXPECT_EQ(document->DocumentElement(), nullptr) << xml;
    }
  }
  struct Case {
    const char* reference;
    const char* text;
  } allowed[] = {
      {"&#9;", "\t"},
      {"&#x20;", " "},
      {"&#xD7FF;", "\xED\x9F\xBF"},
      {"&#xE000;", "\xEE\x80\x80"},
      {"&#xFFFD;", "\xEF\xBF\xBD"},
      {"&#x10000;", "\xF0\x90\x80\x80"},
      {"&#1114111;", "\xF4\x8F\xBF\xBF"},
      {"&#x0000041;", "A"},
  };
  for (const Case& c : allowed)
    EXPECT_EQ(TextAt(std::string("<r><v>") + c.reference + "</v></r>", "v"), c.text) << c.reference;
}

std::string Nested(int depth) {
  std::string xml;
  for (int i = 0; i < depth; ++i) xml += "<e>";
  for (int i = 0; i < depth; ++i) xml += "</e>";
  return xml;
}

TEST_F(XmlTest, DocumentsNestedDeeperThanTheLimitAreRefusedWithoutExhaustingTheStack) {
  auto document = NewDocument();
  EXPECT_TRUE(document->LoadXml(Nested(kMaxXmlDepth))) << "the deepest allowed nesting";
  for (int depth : {kMaxXmlDepth + 1, 100000}) {
    EXPECT_FALSE(document->LoadXml(Nested(depth))) << depth;
    EXPECT_EQ(document->DocumentElement(), nullptr) << depth;
  }
  // Text and comments do not count as levels.
  std::string xml = Nested(kMaxXmlDepth);
  xml.insert(kMaxXmlDepth * 3, "text<!-- comment --><![CDATA[x]]><e2/>");
  EXPECT_FALSE(document->LoadXml(xml)) << "an element one level below the deepest";
  xml = Nested(kMaxXmlDepth);
  xml.insert(kMaxXmlDepth * 3, "text<!-- comment --><![CDATA[x]]>");
  EXPECT_TRUE(document->LoadXml(xml));
}

// Paths name elements without a namespace; an element in one would be found
// natively and not by MSXML, so such documents do not load anywhere.
TEST_F(XmlTest, ElementsInANamespaceAreRefused) {
  const char* refused[] = {
      "<Installer xmlns=\"urn:volok\"><Name>a</Name></Installer>",
      "<v:Installer xmlns:v=\"urn:volok\"><Name>a</Name></v:Installer>",
      "<Installer><Name xmlns=\"urn:volok\">a</Name></Installer>",
      "<Installer xmlns:v=\"urn:volok\"><v:Name>a</v:Name></Installer>",
  };
  for (const char* xml : refused) {
    auto document = NewDocument();
    EXPECT_FALSE(document->LoadXml(xml)) << xml;
  }
#ifndef _WIN32
  // A prefix without a declaration: MSXML 6 refuses it as not well-formed;
  // Wine's MSXML drops the prefix and reads "Installer", so only natively.
  EXPECT_FALSE(NewDocument()->LoadXml("<v:Installer><Name>a</Name></v:Installer>"));
#endif
  EXPECT_EQ(TextAt("<Installer xmlns=\"\"><Name>a</Name></Installer>", "Name"), "a");
  EXPECT_EQ(TextAt("<Installer xmlns:v=\"urn:volok\"><Name>a</Name></Installer>", "Name"), "a");
}

TEST_F(XmlTest, FailedLoadDropsThePreviousDocument) {
  auto document = NewDocument();
  ASSERT_TRUE(document->LoadXml("<r><v>1</v></r>"));
  EXPECT_FALSE(document->LoadXml("<broken"));
  EXPECT_EQ(document->DocumentElement(), nullptr);
}

TEST_F(XmlTest, PathsSelectChildrenInDocumentOrderAndAbsolutelyFromAnyNode) {
  auto document = NewDocument();
  ASSERT_TRUE(document->LoadXml(
      "<Installer><Install><File><Name>a</Name></File><File><Name>b</Name></File></Install>"
      "<Other><File><Name>x</Name></File></Other>"
      "<Install><File><Name>c</Name></File></Install><install><File/></install></Installer>"));
  auto root = document->DocumentElement();
  ASSERT_NE(root, nullptr);

  std::string names;
  for (auto& file : root->SelectNodes("Install/File")) names += file->SelectSingleNode("Name")->Text();
  EXPECT_EQ(names, "abc");

  auto first = root->SelectSingleNode("Install/File/Name");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->Text(), "a");
  auto absolute = first->SelectSingleNode("/Installer");
  ASSERT_NE(absolute, nullptr);
  EXPECT_EQ(absolute->SelectNodes("Other/File").size(), 1u);

  EXPECT_EQ(root->SelectSingleNode("Missing"), nullptr);
  EXPECT_EQ(root->SelectSingleNode("/Other"), nullptr);
  EXPECT_TRUE(root->SelectNodes("INSTALL/File").empty());
  EXPECT_EQ(root->SelectSingleNode("Install[["), nullptr);
  EXPECT_TRUE(root->SelectNodes("Install[[").empty());
}

TEST_F(XmlTest, BuiltTreeSerialisesAndReadsBackWithTheSameTexts) {
  auto document = NewDocument();
  ASSERT_TRUE(document->LoadXml("<?xml version=\"1.0\" encoding=\"utf-8\"?><Installer/>"));
  auto root = document->DocumentElement();
  ASSERT_NE(root, nullptr);
  Append(*document, *root, "Name", "R&D <Ёж> \"q\" 'a'");
  Append(*document, *root, "Empty", "");
  auto list = Append(*document, *root, "UnInstall", "");
  ASSERT_NE(list, nullptr);
  // Children go into a node after it is already in the tree.
  auto file = Append(*document, *list, "File", "");
  ASSERT_NE(file, nullptr);
  Append(*document, *file, "Destination", "C:\\Program Files\\Ёж");

  std::string xml = document->Xml();
  auto copy = NewDocument();
  ASSERT_TRUE(copy->LoadXml(xml)) << xml;
  auto read = copy->DocumentElement();
  ASSERT_NE(read, nullptr);
  EXPECT_EQ(read->SelectSingleNode("Name")->Text(), "R&D <Ёж> \"q\" 'a'");
  ASSERT_NE(read->SelectSingleNode("Empty"), nullptr);
  EXPECT_EQ(read->SelectSingleNode("Empty")->Text(), "");
  EXPECT_EQ(read->SelectSingleNode("UnInstall/File/Destination")->Text(), "C:\\Program Files\\Ёж");
  EXPECT_EQ(read->SelectNodes("UnInstall/File").size(), 1u);
}

TEST_F(XmlTest, SetTextReplacesEveryChild) {
  auto document = NewDocument();
  ASSERT_TRUE(document->LoadXml("<r><v>a<i>b</i><!--c--></v></r>"));
  auto node = document->DocumentElement()->SelectSingleNode("v");
  ASSERT_TRUE(node->SetText("new").ok());
  EXPECT_EQ(node->Text(), "new");
  EXPECT_EQ(node->SelectSingleNode("i"), nullptr);
  ASSERT_TRUE(node->SetText("").ok());
  EXPECT_EQ(node->Text(), "");
}

TEST_F(XmlTest, ElementNamesThatAreNotXmlNamesAreRefused) {
  auto document = NewDocument();
  for (const char* name : {"", "a b", "1st", "a<b"}) {
    std::unique_ptr<XmlNode> node;
    EXPECT_FALSE(document->CreateElement(name, node).ok()) << name;
    EXPECT_EQ(node, nullptr);
  }
}

TEST_F(XmlTest, EachThreadUsesItsOwnDocument) {
  std::string text;
  std::thread worker([&] { text = TextAt("<r><v>из потока</v></r>", "v"); });
  worker.join();
  EXPECT_EQ(text, "из потока");
  EXPECT_EQ(TextAt("<r><v>main</v></r>", "v"), "main");
}

TEST_F(XmlTest, FilesLoadInTheEncodingTheirMarkOrDeclarationNames) {
  testing::TempFolder folder;
  const std::string body = "<r><v>Ёж — ok</v></r>";
  std::u16string wide = Utf8ToUtf16(body);
  std::string utf16le = "\xFF\xFE";
  for (char16_t c : wide) {
    utf16le += static_cast<char>(c & 0xFF);
    utf16le += static_cast<char>(c >> 8);
  }
  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"plain.xml", body},
      {"bom.xml", "\xEF\xBB\xBF" + body},
      {"utf16.xml", utf16le},
      // "Ёж — ok" in code page 1251: the dash exists there too.
      {"cp1251.xml", "<?xml version=\"1.0\" encoding=\"windows-1251\"?><r><v>\xA8\xE6 \x97 ok</v></r>"},
  };
  for (const Case& c : cases) {
    testing::WriteNative(folder.Native(c.name), c.bytes);
    auto document = NewDocument();
    ASSERT_TRUE(document->Load(folder.File(c.name))) << c.name;
    EXPECT_EQ(document->DocumentElement()->SelectSingleNode("v")->Text(), "Ёж — ok") << c.name;
    // The serialised text is UTF-8 whatever the file was.
    auto copy = NewDocument();
    ASSERT_TRUE(copy->LoadXml(document->Xml())) << c.name;
    EXPECT_EQ(copy->DocumentElement()->SelectSingleNode("v")->Text(), "Ёж — ok") << c.name;
  }
  testing::WriteNative(folder.Native("broken.xml"), "<r><v></r>");
  for (const char* name : {"broken.xml", "absent.xml"}) {
    auto document = NewDocument();
    EXPECT_FALSE(document->Load(folder.File(name))) << name;
    EXPECT_EQ(document->DocumentElement(), nullptr) << name;
  }
}

TEST_F(XmlTest, RemoveChildTakesOnlyAChildOutOfTheTree) {
  auto document = NewDocument();
  ASSERT_TRUE(document->LoadXml("<r><a><x/></a><b>keep</b></r>"));
  auto root = document->DocumentElement();
  auto a = root->SelectSingleNode("a");
  auto x = a->SelectSingleNode("x");
  EXPECT_FALSE(root->RemoveChild(*x).ok());  // a grandchild
  ASSERT_NE(root->SelectSingleNode("a/x"), nullptr);
  ASSERT_TRUE(root->RemoveChild(*a).ok());
  EXPECT_EQ(root->SelectSingleNode("a"), nullptr);
  EXPECT_EQ(root->SelectNodes("*").size(), 1u);
  auto copy = NewDocument();
  ASSERT_TRUE(copy->LoadXml(document->Xml()));
  EXPECT_EQ(copy->DocumentElement()->SelectSingleNode("b")->Text(), "keep");
}

}  // namespace
}  // namespace volok::platform

namespace volok::platform {
namespace {

TEST(XmlLocate, NamesTheLineAndColumnOfABareAmpersandOrAMismatchedEndTag) {
  // The advice names the reference to write, once escaped.
  EXPECT_EQ(LocateXmlProblem("<a>\n  <b>Tom & Jerry</b>\n</a>"),
            "строка 2, столбец 10: символ \"&\" не начинает ссылку (запишите его как &amp;)");
  EXPECT_EQ(LocateXmlProblem("<a>\n<b>x</c>\n</a>").rfind("строка 2, столбец 5: закрывающий тег </c>", 0), 0u);
  // References, comments, CDATA and attributes written right are no problem.
  EXPECT_EQ(LocateXmlProblem("<?xml version=\"1.0\"?><a x=\"&amp;&#x41;\"><!-- & --><![CDATA[&]]>&lt;<b/></a>"), "");
  EXPECT_EQ(LocateXmlProblem("<a x=\"R&D\"/>").rfind("строка 1, столбец 8", 0), 0u);
}

}  // namespace
}  // namespace volok::platform
