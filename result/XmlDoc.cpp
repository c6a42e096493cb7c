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

// The bytes that pugixml escapes: "&" and "<"; ">" in text content, '"'
// in an attribute value (written between double quotes); characters
// below 0x20, except TAB, LF and CR in text content. kExactCrText escapes
// CR too: a parser turns a raw CR LF into LF (XML 1.0 section 2.11), a
// reference back into CR.
struct CEscapeTable {
  bool abEscaped[3][256] = {};
};
constexpr CEscapeTable MakeEscapeTable() {
  CEscapeTable table;
  for (int nKind = 0; nKind < 3; ++nKind) {
    const auto escape = static_cast<CEscape>(nKind);
    bool* pbEscaped = table.abEscaped[nKind];
    for (int ch = 0; ch < 0x20; ++ch) pbEscaped[ch] = true;
    pbEscaped[static_cast<unsigned char>('&')] = true;
    pbEscaped[static_cast<unsigned char>('<')] = true;
    if (escape == CEscape::kAttribute) {
      pbEscaped[static_cast<unsigned char>('"')] = true;
    } else {
      pbEscaped[static_cast<unsigned char>('>')] = true;
      pbEscaped[static_cast<unsigned char>('\t')] = false;
      pbEscaped[static_cast<unsigned char>('\n')] = false;
      pbEscaped[static_cast<unsigned char>('\r')] = escape == CEscape::kExactCrText;
    }
  }
  return table;
}
constexpr CEscapeTable c_escapeTable = MakeEscapeTable();

// A text as it goes into the file, escaped as pugixml escapes: the
// characters of c_escapeTable as entity references, or as "&#" and two
// decimal digits. Nothing after a NUL is written, as pugixml writes
// nothing after it. The escaped text is made in *pstrBuffer, and text
// itself is returned where nothing needs escaping (most texts: numbers,
// OIDs, Base64, plain words).
std::string_view Escaped(std::string_view text, CEscape escape, std::string* pstrBuffer) {
  text = text.substr(0, text.find('\0'));
  const bool* pbEscaped = c_escapeTable.abEscaped[static_cast<int>(escape)];
  std::string& strOut = *pstrBuffer;
  strOut.clear();
  size_t nPlain = 0;  // where the bytes not copied yet begin
  for (size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (!pbEscaped[byte]) continue;
    if (nPlain == 0) strOut.reserve(text.size() + 16);
    strOut.append(text, nPlain, i - nPlain);
    nPlain = i + 1;
    switch (byte) {
      case '&':
        strOut += "&amp;";
        break;
      case '<':
        strOut += "&lt;";
        break;
      case '>':
        strOut += "&gt;";
        break;
      case '"':
        strOut += "&quot;";
        break;
      default: {
        const char aReference[] = {'&', '#', static_cast<char>('0' + byte / 10),
                                   static_cast<char>('0' + byte % 10), ';'};
        strOut.append(aReference, sizeof aReference);
      }
    }
  }
  if (nPlain == 0) return text;
  strOut.append(text, nPlain);
  return strOut;
}

// Escapes the texts and attribute values of a parsed document in place.
class CTreeEscaper : public pugi::xml_tree_walker {
 public:
  bool for_each(pugi::xml_node& node) override {
    std::string strBuffer;
    for (pugi::xml_attribute attribute : node.attributes()) {
      const std::string_view escaped = Escaped(attribute.value(), CEscape::kAttribute, &strBuffer);
      attribute.set_value(escaped.data(), escaped.size());
    }
    if (node.type() == pugi::node_pcdata) {
      const std::string_view escaped = Escaped(node.value(), CEscape::kText, &strBuffer);
      node.set_value(escaped.data(), escaped.size());
    }
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

namespace {

// Appends the element strName, with its one text child, to parent.
CXmlElement AppendElement(CXmlElement parent, std::string_view strName, std::string_view strText, bool bExactCr) {
  const std::string strElementName = ElementName(strName);
  CXmlElement element = parent.append_child(strElementName.c_str());
  if (!element) throw CXmlError(XML_E_OUTOFMEMORY);
  // Every element gets its text node, an empty text too.
  pugi::xml_node text = element.append_child(pugi::node_pcdata);
  std::string strBuffer;
  const std::string_view escaped = Escaped(strText, bExactCr ? CEscape::kExactCrText : CEscape::kText, &strBuffer);
  if (!text || !text.set_value(escaped.data(), escaped.size()))
    throw CXmlError(XML_E_OUTOFMEMORY);
  return element;
}

// The flags of every save: indented, the declaration written apart, the
// texts escaped already (Escaped).
constexpr unsigned c_uSaveFlags = pugi::format_indent | pugi::format_no_declaration | pugi::format_no_escapes;

}  // namespace

CXmlElement CXmlDoc::AddElement(CXmlElement parent, std::string_view strName,
                                std::string_view strText, bool bExactCr) {
  if (!m_pDoc || !parent) throw CXmlError(XML_E_POINTER);
  return AppendElement(parent, strName, strText, bExactCr);
}

bool CXmlDoc::Save(const std::string& strPath) const {
  if (!m_pDoc) return false;
  CAtomicFile file;
  if (!file.Open(strPath)) return false;
  CFileWriter writer(&file);
  writer.write(c_szDeclaration, sizeof c_szDeclaration - 1);
  m_pDoc->save(writer, "\t", c_uSaveFlags, pugi::encoding_utf8);
  return file.Commit();
}

namespace {

// What the writer gathers before it writes to the file.
constexpr size_t c_nWriteBufferBytes = 64 * 1024;

}  // namespace

void CXmlFileWriter::CBufferedWriter::write(const void* pData, size_t nSize) {
  m_strBuffer.append(static_cast<const char*>(pData), nSize);
  if (m_strBuffer.size() >= c_nWriteBufferBytes) Flush();
}

void CXmlFileWriter::CBufferedWriter::Flush() {
  (void)m_pFile->Write(m_strBuffer.data(), m_strBuffer.size());
  m_strBuffer.clear();
}

bool CXmlFileWriter::Open(const std::string& strPath, std::string_view strRootName) {
  m_bOpen = false;
  m_bRootStarted = false;
  m_strRootName = strRootName;
  m_pDoc = std::make_unique<pugi::xml_document>();
  if (!m_pDoc->append_child(m_strRootName.c_str())) throw CXmlError(XML_E_OUTOFMEMORY);
  if (!m_file.Open(strPath)) return false;
  m_bOpen = true;
  m_writer.write(c_szDeclaration, sizeof c_szDeclaration - 1);
  return true;
}

void CXmlFileWriter::WriteHeldChild() {
  CXmlElement root = m_pDoc->document_element();
  CXmlElement child = root.first_child();
  if (!child) return;
  if (!m_bRootStarted) {
    const std::string strStart = "<" + m_strRootName + ">\n";
    m_writer.write(strStart.data(), strStart.size());
    m_bRootStarted = true;
  }
  child.print(m_writer, "\t", c_uSaveFlags, pugi::encoding_utf8, 1);
  root.remove_child(child);
}

CXmlElement CXmlFileWriter::AddRootElement(std::string_view strName, std::string_view strText, bool bExactCr) {
  if (!m_bOpen) throw CXmlError(XML_E_POINTER);
  WriteHeldChild();
  return AppendElement(m_pDoc->document_element(), strName, strText, bExactCr);
}

CXmlElement CXmlFileWriter::AddElement(CXmlElement parent, std::string_view strName, std::string_view strText,
                                       bool bExactCr) {
  if (!m_bOpen || !parent) throw CXmlError(XML_E_POINTER);
  return AppendElement(parent, strName, strText, bExactCr);
}

bool CXmlFileWriter::Commit() {
  if (!m_bOpen) return false;
  m_bOpen = false;
  WriteHeldChild();
  // As pugixml ends a root element without children, or with them.
  const std::string strEnd = m_bRootStarted ? "</" + m_strRootName + ">\n" : "<" + m_strRootName + " />\n";
  m_writer.write(strEnd.data(), strEnd.size());
  m_writer.Flush();
  m_pDoc.reset();
  return m_file.Commit();
}
