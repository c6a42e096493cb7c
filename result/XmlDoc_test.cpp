#include "result/XmlDoc.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/TestSupport.h"

namespace {

TEST(CXmlDocTest, ElementsGetTheirNameAndOneTextChild) {
  CXmlDoc doc;
  ASSERT_TRUE(doc.LoadXml("<ROOT/>"));
  CXmlElement parent = doc.AddRootElement("A&B&C", "");
  EXPECT_STREQ(parent.name(), "A-B-C");
  ASSERT_EQ(std::distance(parent.children().begin(), parent.children().end()), 1);
  EXPECT_EQ(parent.first_child().type(), pugi::node_pcdata);
  EXPECT_STREQ(parent.first_child().value(), "");
  CXmlElement child = doc.AddElement(parent, "OID", "1.3.6");
  EXPECT_EQ(child.parent(), parent);
  EXPECT_STREQ(child.child_value(), "1.3.6");
  EXPECT_EQ(parent.last_child(), child);
}

TEST(CXmlDocTest, OperationsWithoutADocumentThrow) {
  CXmlDoc doc;
  try {
    doc.AddRootElement("RESULT", "");
    FAIL() << "no exception";
  } catch (const CXmlError& error) {
    EXPECT_EQ(error.Code(), XML_E_POINTER);
  }
  EXPECT_THROW(doc.AddElement(CXmlElement(), "OID", "x"), CXmlError);
  EXPECT_FALSE(doc.LoadXml("<unclosed"));
  EXPECT_THROW(doc.AddRootElement("RESULT", ""), CXmlError) << "held, but without a root";
  ASSERT_TRUE(doc.LoadXml("<R/>"));
  EXPECT_THROW(doc.AddElement(CXmlElement(), "OID", "x"), CXmlError) << "no parent";
}

TEST(CXmlDocTest, LoadsADocumentTypeWithoutExpandingIt) {
  CXmlDoc doc;
  EXPECT_TRUE(doc.LoadXml("<!DOCTYPE R [<!ENTITY big \"expanded\">]><R>&big;</R>"));
  CTempDir dir;
  const auto path = dir.Path() / "d.xml";
  ASSERT_TRUE(doc.Save(path.string()));
  EXPECT_EQ(ReadAll(path).find("expanded</R>"), std::string::npos);
}

TEST(CXmlDocTest, SavesDeclarationIndentedUtf8AndEscapes) {
  CXmlDoc doc;
  ASSERT_TRUE(doc.LoadXml("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<RESULTS/>"));
  doc.AddElement(doc.AddRootElement("RESULT", ""), "VALUE", "a<b&c>d \xC3\xA9");
  CTempDir dir;
  const auto path = dir.Path() / "r.xml";
  ASSERT_TRUE(doc.Save(path.string()));
  const std::string strText = ReadAll(path);
  EXPECT_EQ(strText.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<RESULTS>\n\t<RESULT>", 0), 0u)
      << strText;
  EXPECT_NE(strText.find("a&lt;b&amp;c&gt;d \xC3\xA9"), std::string::npos);
  pugi::xml_document back;
  ASSERT_TRUE(back.load_file(path.c_str()));
  EXPECT_STREQ(back.child("RESULTS").child("RESULT").child_value("VALUE"), "a<b&c>d \xC3\xA9");
}

// The document escapes its texts itself (so that a CR can be written as a
// reference where asked); everywhere else its file is what pugixml's own
// escaping writes, byte for byte.
TEST(CXmlDocTest, WritesTextsAsPugixmlEscapesThem) {
  std::string strAllBytes;
  for (int i = 1; i < 256; ++i) strAllBytes += static_cast<char>(i);
  const std::string arrTexts[] = {strAllBytes, "line\r\nnext\r", "QUJD\r\nREVG\r\n", "",
                                  "a<b&c>d\"e'f", std::string("cut\0here", 8)};
  const char c_szDocument[] =
      "<!DOCTYPE R><R a=\"&amp;&lt;&quot;&#9;&#13;'>\">in &lt;loaded&gt;\ttext</R>";
  CXmlDoc doc;
  ASSERT_TRUE(doc.LoadXml(c_szDocument));
  pugi::xml_document expected;
  ASSERT_TRUE(expected.load_string(c_szDocument));
  for (const std::string& strText : arrTexts) {
    doc.AddElement(doc.AddRootElement("RESULT", ""), "VALUE", strText);
    pugi::xml_node result = expected.document_element().append_child("RESULT");
    result.append_child(pugi::node_pcdata);
    result.append_child("VALUE")
        .append_child(pugi::node_pcdata)
        .set_value(strText.data(), strText.size());
  }
  CTempDir dir;
  const auto path = dir.Path() / "r.xml";
  ASSERT_TRUE(doc.Save(path.string()));
  std::ostringstream pugixmlText;
  expected.save(pugixmlText, "\t", pugi::format_indent | pugi::format_no_declaration,
                pugi::encoding_utf8);
  EXPECT_EQ(ReadAll(path), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + pugixmlText.str());
}

// A text whose CRs are data reads back byte for byte through a parser;
// other texts keep raw CR LF line ends, which a parser reads as LF.
TEST(CXmlDocTest, ExactCrTextsReadBackByteForByte) {
  CXmlDoc doc;
  ASSERT_TRUE(doc.LoadXml("<RESULTS/>"));
  const std::string strText = "Cisco IOS\r\nTechnical Support\r\n\rlone CR\n\tend\r";
  doc.AddElement(doc.AddRootElement("RESULT", ""), "VALUE", strText, true);
  doc.AddElement(doc.AddRootElement("RESULT", ""), "VALUE", "QUJD\r\nREVG\r\n");
  CTempDir dir;
  const auto path = dir.Path() / "r.xml";
  ASSERT_TRUE(doc.Save(path.string()));
  const std::string strFile = ReadAll(path);
  EXPECT_NE(
      strFile.find("Cisco IOS&#13;\nTechnical Support&#13;\n&#13;lone CR\n\tend&#13;</VALUE>"),
      std::string::npos)
      << strFile;
  EXPECT_NE(strFile.find("<VALUE>QUJD\r\nREVG\r\n</VALUE>"), std::string::npos)
      << "Base64 lines as they were";
  pugi::xml_document back;
  ASSERT_TRUE(back.load_file(path.c_str()));
  pugi::xml_node result = back.child("RESULTS").child("RESULT");
  EXPECT_EQ(std::string(result.child_value("VALUE")), strText);
  EXPECT_EQ(std::string(result.next_sibling("RESULT").child_value("VALUE")), "QUJD\nREVG\n");
}

TEST(CXmlDocTest, SaveReplacesAnExistingFile) {
  CTempDir dir;
  const std::string strPath = dir.WriteFile("r.xml", std::string(10000, 'x'));
  CXmlDoc doc;
  ASSERT_TRUE(doc.LoadXml("<R/>"));
  ASSERT_TRUE(doc.Save(strPath));
  EXPECT_EQ(ReadAll(strPath), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<R />\n");
}

TEST(CXmlDocTest, SecondWriterIsRefusedAndDamagesNothing) {
  CTempDir dir;
  const std::string strPath = dir.WriteFile("r.xml", "first writer's text");
  CXmlDoc doc;
  ASSERT_TRUE(doc.LoadXml("<R/>"));
  {
    const CForeignWriterLock lock(strPath);
    ASSERT_TRUE(lock.IsHeld());
    EXPECT_FALSE(doc.Save(strPath));
    EXPECT_EQ(ReadAll(strPath), "first writer's text");
  }
  EXPECT_TRUE(doc.Save(strPath));
}

TEST(CXmlDocTest, SaveIntoAMissingDirectoryCreatesNothing) {
  CTempDir dir;
  CXmlDoc doc;
  ASSERT_TRUE(doc.LoadXml("<R/>"));
  EXPECT_FALSE(doc.Save((dir.Path() / "absent" / "r.xml").string()));
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "absent"));
  CXmlDoc empty;
  EXPECT_FALSE(empty.Save((dir.Path() / "r.xml").string())) << "no document";
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "r.xml"));
}

}  // namespace
