#include "core/xml_reader.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <utility>

namespace {

// Reads the sample-rate setting the way the dialog does: the last "property"
// of "converwavset" whose first attribute is "name", read like atoi; -1 when
// none counts.
int ReadSetting(const char* text) {
  CXmlReader reader;
  if (!reader.ParseText(text) || !reader.HasRootElement()) return -1;
  int result = -1;
  if (reader.FindNextElement("converwavset") && reader.EnterElement()) {
    while (reader.FindNextElement("property")) {
      if (reader.AttributeNameAt(0) == "name") {
        result = std::atoi(reader.GetElementText().c_str());
      }
    }
  }
  return result;
}

std::string ParseError(const std::string& text) {
  CXmlReader reader;
  EXPECT_FALSE(reader.ParseText(text.c_str())) << text;
  EXPECT_FALSE(reader.HasRootElement()) << text;
  return reader.ErrorText();
}

// Text of the root element of text.
std::string RootText(const std::string& text) {
  CXmlReader reader;
  EXPECT_TRUE(reader.ParseText(text.c_str())) << text << ": " << reader.ErrorText();
  EXPECT_TRUE(reader.FindNextElement(nullptr));
  return reader.GetElementText();
}

std::string Nested(int depth) {
  std::string text;
  for (int i = 0; i < depth; ++i) text += "<a>";
  for (int i = 0; i < depth; ++i) text += "</a>";
  return text;
}

TEST(XmlReaderTest, ReadsTheSettingsFileInItsRealShapes) {
  EXPECT_EQ(ReadSetting("<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<converwavset>\r\n"
                        "  <property name=\"samplerate\">16000</property>\r\n</converwavset>\r\n"),
            16000);
  EXPECT_EQ(ReadSetting("<converwavset><property name=\"a\">16000</property>"
                        "<property name=\"b\">8000</property></converwavset>"),
            8000);
  // The first attribute must be "name"; its value is not looked at.
  EXPECT_EQ(ReadSetting("<converwavset><property id=\"1\" name=\"a\">16000</property>"
                        "</converwavset>"),
            -1);
  EXPECT_EQ(ReadSetting("<converwavset><property name=''>22050</property></converwavset>"), 22050);
  EXPECT_EQ(ReadSetting("<converwavset><property name=\"r\"> 16000abc</property></converwavset>"),
            16000);
  EXPECT_EQ(ReadSetting("<converwavset><property name=\"r\">abc</property></converwavset>"), 0);
  EXPECT_EQ(ReadSetting(
                "<converwavset><property name=\"r\"> <![CDATA[11025]]> </property></converwavset>"),
            11025);
  // A UTF-8 byte-order mark is text before the root and is skipped.
  EXPECT_EQ(ReadSetting("\xEF\xBB\xBF<converwavset><property name=\"r\">44100</property>"
                        "</converwavset>"),
            44100);
  EXPECT_EQ(ReadSetting("<settings><property name=\"r\">16000</property></settings>"), -1);
  EXPECT_EQ(ReadSetting("<converwavset/>"), -1);
  // Elements of other names between the properties are passed over.
  EXPECT_EQ(ReadSetting("<converwavset><other name=\"r\">1</other><property name=\"r\">2</property>"
                        "<other name=\"r\">3</other></converwavset>"),
            2);
}

TEST(XmlReaderTest, StepsOverDeclarationsCommentsAndInstructions) {
  CXmlReader reader;
  ASSERT_TRUE(reader.ParseText(
      "<?xml version=\"1.0\"?>\n<!-- a comment with <tags> & -->\n"
      "<!DOCTYPE root [ <!ELEMENT root EMPTY> <!ATTLIST root a CDATA \"x>y\"> ]>\n<root/>"))
      << reader.ErrorText();
  EXPECT_TRUE(reader.HasRootElement());
  ASSERT_TRUE(reader.FindNextElement("root"));
  EXPECT_EQ(reader.GetElementText(), "");
  EXPECT_EQ(reader.AttributeNameAt(0), "");

  // Comments, instructions and CDATA inside content are not elements.
  ASSERT_TRUE(reader.ParseText("<r><!-- <x/> --><?pi <y/> ?><![CDATA[<z/>]]><c/></r>"));
  ASSERT_TRUE(reader.FindNextElement("r"));
  ASSERT_TRUE(reader.EnterElement());
  ASSERT_TRUE(reader.FindNextElement(""));
  EXPECT_FALSE(reader.FindNextElement(""));

  // Text after the root's end tag is never looked at, even when malformed.
  EXPECT_TRUE(reader.ParseText("<r>x</r><unclosed <<<\"'"));
  EXPECT_TRUE(reader.ParseText("<r>x</r></r>"));
}

TEST(XmlReaderTest, WalksElementsByNameAndLevel) {
  CXmlReader reader;
  EXPECT_FALSE(reader.FindNextElement(nullptr));  // nothing parsed yet
  EXPECT_FALSE(reader.EnterElement());
  ASSERT_TRUE(reader.ParseText("<root><item>1</item><Item>x</Item><item>2</item></root>"));
  EXPECT_FALSE(reader.EnterElement());  // no current element yet
  EXPECT_FALSE(reader.FindNextElement("item"));
  ASSERT_TRUE(reader.FindNextElement("root"));
  ASSERT_TRUE(reader.EnterElement());
  ASSERT_TRUE(reader.FindNextElement("item"));
  EXPECT_EQ(reader.GetElementText(), "1");
  ASSERT_TRUE(reader.FindNextElement("item"));
  EXPECT_EQ(reader.GetElementText(), "2");
  EXPECT_FALSE(reader.FindNextElement("item"));
  EXPECT_EQ(reader.GetElementText(), "2");  // the position stays

  // Names are compared case-sensitively and as whole names.
  ASSERT_TRUE(reader.ParseText("<root><item/><Item/><items/></root>"));
  ASSERT_TRUE(reader.FindNextElement("root"));
  ASSERT_TRUE(reader.EnterElement());
  EXPECT_FALSE(reader.FindNextElement("ITEM"));
  EXPECT_FALSE(reader.FindNextElement("ite"));
  EXPECT_FALSE(reader.FindNextElement("itemss"));
  ASSERT_TRUE(reader.FindNextElement("Item"));
  ASSERT_TRUE(reader.FindNextElement(nullptr));  // any name: the next sibling
  EXPECT_FALSE(reader.FindNextElement(nullptr));

  // Entering an element without children leaves nothing to find.
  ASSERT_TRUE(reader.ParseText("<root><a><b/></a></root>"));
  ASSERT_TRUE(reader.FindNextElement("root"));
  ASSERT_TRUE(reader.EnterElement());
  ASSERT_TRUE(reader.FindNextElement("a"));
  ASSERT_TRUE(reader.EnterElement());
  ASSERT_TRUE(reader.FindNextElement("b"));
  ASSERT_TRUE(reader.EnterElement());
  EXPECT_FALSE(reader.FindNextElement(nullptr));
  EXPECT_FALSE(reader.EnterElement());
}

TEST(XmlReaderTest, ReadsAttributeNames) {
  CXmlReader reader;
  ASSERT_TRUE(
      reader.ParseText("<r><p name=\"a/b\" id='2' flag = \"\" /><q one=\"1\"></q><e/></r>"));
  ASSERT_TRUE(reader.FindNextElement("r"));
  EXPECT_EQ(reader.AttributeNameAt(0), "");
  ASSERT_TRUE(reader.EnterElement());
  EXPECT_EQ(reader.AttributeNameAt(0), "");  // no current element
  ASSERT_TRUE(reader.FindNextElement("p"));
  EXPECT_EQ(reader.AttributeNameAt(0), "name");
  EXPECT_EQ(reader.AttributeNameAt(1), "id");
  EXPECT_EQ(reader.AttributeNameAt(2), "flag");
  EXPECT_EQ(reader.AttributeNameAt(3), "");
  EXPECT_EQ(reader.AttributeNameAt(-1), "");
  EXPECT_EQ(reader.AttributeNameAt(2147483647), "");
  ASSERT_TRUE(reader.FindNextElement("q"));
  EXPECT_EQ(reader.AttributeNameAt(0), "one");
  EXPECT_EQ(reader.AttributeNameAt(1), "");
  ASSERT_TRUE(reader.FindNextElement("e"));
  EXPECT_EQ(reader.AttributeNameAt(0), "");
}

TEST(XmlReaderTest, ReadsElementTextWithCdataAndReferences) {
  EXPECT_EQ(RootText("<r>  spaced \t</r>"), "  spaced \t");
  EXPECT_EQ(RootText("<r>\n <![CDATA[a<b & c]]>\n</r>"), "a<b & c");
  EXPECT_EQ(RootText("<r><![CDATA[]]></r>"), "");
  EXPECT_EQ(RootText("<r>&lt;&amp;&gt;&apos;&quot;</r>"), "<&>'\"");
  EXPECT_EQ(RootText("<r>&#65;&#x42;&#233;</r>"), "AB\xC3\xA9");
  EXPECT_EQ(RootText("<r>&#x20AC;&#x1F600;&#x10FFFF;</r>"),
            "\xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF");
  // References that are no character are kept as written.
  EXPECT_EQ(RootText("<r>&#xD800;&#x110000;&#-65;&#0;&#;</r>"), "&#xD800;&#x110000;&#-65;&#0;&#;");
  EXPECT_EQ(RootText("<r>&#12345678;</r>"), "&#12345678;");  // eight digits
  EXPECT_EQ(RootText("<r>&#65</r>"), "&#65");                // ';' missing
  EXPECT_EQ(RootText("<r>&#6</r>;"), "&#6");                 // its ';' lies past the content
  EXPECT_EQ(RootText("<r>&nbsp;&amp</r>"), "&nbsp;&amp");
  EXPECT_EQ(RootText("<r>&</r>"), "&");
  EXPECT_EQ(RootText("<r>a&#x41;&lt;b</r>"), "aA<b");

  // Elements with children, empty elements and the document give no text.
  EXPECT_EQ(RootText("<r>text<c/>more</r>"), "");
  EXPECT_EQ(RootText("<r/>"), "");
  EXPECT_EQ(RootText("<r></r>"), "");
  CXmlReader reader;
  ASSERT_TRUE(reader.ParseText("<r>x</r>"));
  EXPECT_EQ(reader.GetElementText(), "");
  EXPECT_FALSE(reader.ParseText("<r>x"));
  EXPECT_EQ(reader.GetElementText(), "");
}

TEST(XmlReaderTest, ReportsEachParseError) {
  // Each document and the message its parse fails with.
  const std::pair<const char*, const char*> kFailures[] = {
      {"just text", "Element tag not found"},
      {"<root>", "Element tag not found"},
      {"<root>  ", "Element tag not found"},
      {"<   ", "Abrupt end within tag"},
      {"<r><   ", "Abrupt end within tag"},
      {"<\"root\">", "Tag starts with quote"},
      {"<?xml version=\"1.0\" <r/>", "Invalid node"},
      {"<!-- never closed <r/>", "Invalid node"},
      {"<![CDATA[ never closed <r/>", "Invalid node"},
      {"<!DOCTYPE r [ <!ELEMENT r EMPTY> <r/>", "Invalid node"},
      {"<!", "Invalid node"},
      {"<r>x<?", "Invalid node"},
      {"<root attr=\"1\"", "End of tag not found"},
      {"<root><inner></root>", "End tag does not correspond to inner"},
      {"<root></roots>", "End tag does not correspond to root"},
      {"<roots></root>", "End tag does not correspond to roots"},
      {"<root></root", "End tag not completed for element root"},
      {"<root></", "End tag not completed for element root"},
  };
  for (const auto& [xml, message] : kFailures) EXPECT_EQ(ParseError(xml), message) << xml;

  // A blank between '<' and '?' or '!' is no node: the parse fails instead of
  // standing still on it.
  EXPECT_EQ(ParseError("< ?xml?><r/>"), "Invalid node");
  EXPECT_EQ(ParseError("<r>< !-- x --></r>"), "Invalid node");

  // An end tag first fails without a message; messages survive later parses.
  CXmlReader reader;
  EXPECT_FALSE(reader.ParseText("</r>"));
  EXPECT_EQ(reader.ErrorText(), "");
  EXPECT_FALSE(reader.ParseText("<a></b>"));
  EXPECT_TRUE(reader.ParseText("<a></a>"));
  EXPECT_EQ(reader.ErrorText(), "End tag does not correspond to a");
  EXPECT_FALSE(reader.ParseText(nullptr));
  EXPECT_FALSE(reader.ParseText(""));
  EXPECT_FALSE(reader.HasRootElement());

  // A long name is cut so that the message fits its 300-byte area.
  const std::string name(5000, 'n');
  const std::string message = ParseError("<" + name + "></x>");
  EXPECT_EQ(message.size(), 299u);
  EXPECT_EQ(message.rfind("End tag does not correspond to nnn", 0), 0u);
}

TEST(XmlReaderTest, LimitsNestingInsteadOfOverflowingTheStack) {
  CXmlReader reader;
  EXPECT_TRUE(reader.ParseText(Nested(CXmlReader::kMaxNestingDepth).c_str())) << reader.ErrorText();
  EXPECT_FALSE(reader.ParseText(Nested(CXmlReader::kMaxNestingDepth + 1).c_str()));
  EXPECT_EQ(reader.ErrorText(), "Element nesting too deep");
  EXPECT_FALSE(reader.ParseText(Nested(100000).c_str()));
  EXPECT_EQ(reader.ErrorText(), "Element nesting too deep");
  std::string open_only;
  for (int i = 0; i < 100000; ++i) open_only += "<a>";
  EXPECT_FALSE(reader.ParseText(open_only.c_str()));
  EXPECT_FALSE(reader.HasRootElement());

  // Many siblings are no nesting: the table grows past its first size.
  std::string wide = "<r>";
  for (int i = 0; i < 20000; ++i) wide += "<c/>";
  wide += "</r>";
  ASSERT_TRUE(reader.ParseText(wide.c_str()));
  ASSERT_TRUE(reader.FindNextElement("r"));
  ASSERT_TRUE(reader.EnterElement());
  int count = 0;
  while (reader.FindNextElement("c")) ++count;
  EXPECT_EQ(count, 20000);
}

TEST(XmlReaderTest, SurvivesHostileInput) {
  // Every prefix of a document that uses every construct ends, without a
  // read past the text.
  const std::string full =
      "<?xml version=\"1.0\"?><!-- c --><!DOCTYPE r [<!ENTITY e \"v\">]>"
      "<r a=\"1\" b='2'><![CDATA[x]]><p name=\"n\">&#65;&lt;</p><q/></r   >";
  CXmlReader reader;
  ASSERT_TRUE(reader.ParseText(full.c_str())) << reader.ErrorText();
  for (std::size_t n = 0; n < full.size(); ++n) {
    const std::string prefix = full.substr(0, n);
    EXPECT_FALSE(reader.ParseText(prefix.c_str())) << prefix;
    reader.FindNextElement(nullptr);
    reader.EnterElement();
    reader.FindNextElement("p");
    reader.AttributeNameAt(0);
    reader.GetElementText();
  }

  // Random bytes and random mixtures of markup characters.
  std::mt19937 random(20261208);
  const std::string alphabet = "<>/?!=\"'[]-&#;x \tab\n";
  for (int round = 0; round < 4000; ++round) {
    std::string text(random() % 200, '\0');
    for (char& c : text) {
      c = (round % 2 == 0) ? static_cast<char>(random() % 255 + 1)
                           : alphabet[random() % alphabet.size()];
    }
    if (reader.ParseText(text.c_str())) {
      while (reader.FindNextElement(nullptr)) {
        reader.AttributeNameAt(static_cast<int>(random() % 4));
        reader.GetElementText();
        if (!reader.EnterElement()) break;
      }
    }
  }
}

class XmlReaderFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = std::filesystem::path(::testing::TempDir()) /
            ("xml_reader_test_" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(m_dir);
  }
  void TearDown() override { std::filesystem::remove_all(m_dir); }

  std::string Write(const std::string& name, const std::string& bytes) {
    const std::filesystem::path path = m_dir / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
  }

  std::filesystem::path m_dir;
};

TEST_F(XmlReaderFileTest, LoadsFilesAndFailsCleanly) {
  CXmlReader reader;
  const std::string good =
      Write("set.xml", "<converwavset><property name=\"r\">16000</property></converwavset>");
  ASSERT_TRUE(reader.LoadFile(good.c_str()));
  ASSERT_TRUE(reader.FindNextElement("converwavset"));
  ASSERT_TRUE(reader.EnterElement());
  ASSERT_TRUE(reader.FindNextElement("property"));
  EXPECT_EQ(reader.GetElementText(), "16000");

  // A NUL byte ends the document: what follows it is not seen.
  EXPECT_TRUE(reader.LoadFile(Write("nul.xml", std::string("<r>a</r>\0<", 10)).c_str()));
  EXPECT_FALSE(reader.LoadFile(Write("nul2.xml", std::string("<r>a\0</r>", 9)).c_str()));
  EXPECT_EQ(reader.ErrorText(), "Element tag not found");

  // Each failure leaves the reader empty.
  for (const std::string& path :
       {Write("empty.xml", ""), Write("bad.xml", "<r>"), (m_dir / "missing.xml").string(),
        m_dir.string(), std::string()}) {
    ASSERT_TRUE(reader.LoadFile(good.c_str()));
    EXPECT_FALSE(reader.LoadFile(path.c_str())) << path;
    EXPECT_FALSE(reader.HasRootElement());
    EXPECT_FALSE(reader.FindNextElement(nullptr));
    EXPECT_EQ(reader.GetElementText(), "");
  }
  EXPECT_FALSE(reader.LoadFile(nullptr));

  // The settings file that ships with the plug-in gives a sample rate.
  ASSERT_TRUE(reader.LoadFile(WAVREL_RESOURCES_DIR "/WavrelPluginSet.xml")) << reader.ErrorText();
  ASSERT_TRUE(reader.FindNextElement("converwavset"));
  ASSERT_TRUE(reader.EnterElement());
  ASSERT_TRUE(reader.FindNextElement("property"));
  EXPECT_EQ(reader.AttributeNameAt(0), "name");
  EXPECT_GT(std::atoi(reader.GetElementText().c_str()), 0);
}

}  // namespace
