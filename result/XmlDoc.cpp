#include "result/XmlDoc.h"

#include "platform/AtomicFile.h"

namespace {

constexpr char c_szDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

// pugixml's output sink on the file being written.
class CFileWriter : public pugi::xml_writer {
 public:
  explicit CFileWriter(CAtomicFile* pFile) : m_pFile(pFile) {}
  void write(const void* pData, size_t nSize) override { (void)m_pFile->Write(pData, nSize); }

 private:
  CAtomicFile* m_pFile;
};

std::string ElementName(std::string_view strName) {
  std::string strOut(strName);
  for (char& ch : strOut) {
    if (ch == '&') ch = '-';
  }
  return strOut;
}

// What a text is escaped for (Escaped).
enum class CEscape { kText, kExactCrText, kAttribute };

// A text as it goes into the file, escaped as pugixml escapes: "&" and
// "<" as entity references, and ">" in text content, '"' in an attribute
// value (written between double quotes); characters below 0x20 as "&#"
// and two decimal digits, except TAB, LF and CR in text content. With
// kExactCrText a CR becomes "&#13;" too: a parser turns a raw CR LF into
// LF (XML 1.0 section 2.11), a reference back into CR. Nothing after a
// NUL is written, as pugixml writes nothing after it.
std::string Escaped(std::string_view text, CEscape escape) {
  text = text.substr(0, text.find('\0'));
  const bool bAttribute = escape == CEscape::kAttribute;
  std::string strOut;
  strOut.reserve(text.size());
  for (char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    if (ch == '&') {
      strOut += "&amp;";
    } else if (ch == '<') {
      strOut += "&lt;";
    } else if (ch == '>' && !bAttribute) {
      strOut += "&gt;";
    } else if (ch == '"' && bAttribute) {
      strOut += "&quot;";
    } else if (byte < 0x20 && (bAttribute || (ch != '\t' && ch != '\n' &&
                                              (ch != '\r' || escape == CEscape::kExactCrText)))) {
      strOut += "&#";
      strOut += static_cast<char>('0' + byte / 10);
      strOut += static_cast<char>('0' + byte % 10);
      strOut += ';';
    } else {
      strOut += ch;
    }
  }
  return strOut;
}

// Escapes the texts and attribute values of a parsed document in place.
class CTreeEscaper : public pugi::xml_tree_walker {
 public:
  bool for_each(pugi::xml_node& node) override {
    for (pugi::xml_attribute attribute : node.attributes())
      attribute.set_value(Escaped(attribute.value(), CEscape::kAttribute).c_str());
    if (node.type() == pugi::node_pcdata) node.set_value(Escaped(node.value(), CEscape::kText).c_str());
    return true;
  }
};

}  // namespace

CXmlError::CXmlError(int nCode) : std::runtime_error("XML document error"), m_nCode(nCode) {}

bool CXmlDoc::LoadXml(std::string_view strXml) {
  m_pDoc = std::make_unique<pugi::xml_document>();
  // parse_default keeps the predefined and character escapes only; a DTD is
  // skipped, never validated, its entities never expanded.
  if (m_pDoc->load_buffer(strXml.data(), strXml.size(), pugi::parse_default, pugi::encoding_utf8)
          .status == pugi::status_ok) {
    CTreeEscaper escaper;
    m_pDoc->traverse(escaper);
    return true;
  }
  m_pDoc->reset();  // pugixml keeps what it read before the error; a failed load holds nothing
  return false;
}

CXmlElement CXmlDoc::AddRootElement(std::string_view strName, std::string_view strText,
                                    bool bExactCr) {
  if (!m_pDoc) throw CXmlError(XML_E_POINTER);
  return AddElement(m_pDoc->document_element(), strName, strText, bExactCr);
}

CXmlElement CXmlDoc::AddElement(CXmlElement parent, std::string_view strName,
                                std::string_view strText, bool bExactCr) {
  const std::string strElementName = ElementName(strName);
  if (!m_pDoc || !parent) throw CXmlError(XML_E_POINTER);
  CXmlElement element = parent.append_child(strElementName.c_str());
  if (!element) throw CXmlError(XML_E_OUTOFMEMORY);
  // Every element gets its text node, an empty text too.
  pugi::xml_node text = element.append_child(pugi::node_pcdata);
  const std::string strEscaped = Escaped(strText, bExactCr ? CEscape::kExactCrText : CEscape::kText);
  if (!text || !text.set_value(strEscaped.data(), strEscaped.size()))
    throw CXmlError(XML_E_OUTOFMEMORY);
  return element;
}

bool CXmlDoc::Save(const std::string& strPath) const {
  if (!m_pDoc) return false;
  CAtomicFile file;
  if (!file.Open(strPath)) return false;
  CFileWriter writer(&file);
  writer.write(c_szDeclaration, sizeof c_szDeclaration - 1);
  // The texts are escaped already (Escaped).
  m_pDoc->save(writer, "\t",
               pugi::format_indent | pugi::format_no_declaration | pugi::format_no_escapes,
               pugi::encoding_utf8);
  return file.Commit();
}
