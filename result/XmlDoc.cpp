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

}  // namespace

CXmlError::CXmlError(int nCode) : std::runtime_error("XML document error"), m_nCode(nCode) {}

bool CXmlDoc::LoadXml(std::string_view strXml) {
  m_pDoc = std::make_unique<pugi::xml_document>();
  // parse_default keeps the predefined and character escapes only; a DTD is
  // skipped, never validated, its entities never expanded.
  if (m_pDoc->load_buffer(strXml.data(), strXml.size(), pugi::parse_default, pugi::encoding_utf8)
          .status == pugi::status_ok)
    return true;
  m_pDoc->reset();  // pugixml keeps what it read before the error; a failed load holds nothing
  return false;
}

CXmlElement CXmlDoc::AddRootElement(std::string_view strName, std::string_view strText) {
  if (!m_pDoc) throw CXmlError(XML_E_POINTER);
  return AddElement(m_pDoc->document_element(), strName, strText);
}

CXmlElement CXmlDoc::AddElement(CXmlElement parent, std::string_view strName, std::string_view strText) {
  const std::string strElementName = ElementName(strName);
  if (!m_pDoc || !parent) throw CXmlError(XML_E_POINTER);
  CXmlElement element = parent.append_child(strElementName.c_str());
  if (!element) throw CXmlError(XML_E_OUTOFMEMORY);
  // Every element gets its text node, an empty text too.
  pugi::xml_node text = element.append_child(pugi::node_pcdata);
  if (!text || !text.set_value(strText.data(), strText.size())) throw CXmlError(XML_E_OUTOFMEMORY);
  return element;
}

bool CXmlDoc::Save(const std::string& strPath) const {
  if (!m_pDoc) return false;
  CAtomicFile file;
  if (!file.Open(strPath)) return false;
  CFileWriter writer(&file);
  writer.write(c_szDeclaration, sizeof c_szDeclaration - 1);
  m_pDoc->save(writer, "\t", pugi::format_indent | pugi::format_no_declaration, pugi::encoding_utf8);
  return file.Commit();
}
