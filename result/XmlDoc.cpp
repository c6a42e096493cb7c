#include "result/XmlDoc.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace {

constexpr char c_szDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

// pugixml's output sink on a file descriptor; remembers a failed write.
class CFdWriter : public pugi::xml_writer {
 public:
  explicit CFdWriter(int nFd) : m_nFd(nFd) {}
  void write(const void* pData, size_t nSize) override {
    const char* pBytes = static_cast<const char*>(pData);
    while (nSize > 0 && !m_bFailed) {
      const ssize_t nWritten = ::write(m_nFd, pBytes, nSize);
      if (nWritten < 0 && errno == EINTR) continue;
      if (nWritten <= 0) {
        m_bFailed = true;
        break;
      }
      pBytes += nWritten;
      nSize -= static_cast<size_t>(nWritten);
    }
  }
  bool Failed() const { return m_bFailed; }

 private:
  int m_nFd;
  bool m_bFailed = false;
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
  const int nFd = open(strPath.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (nFd < 0) return false;
  // Lock before truncating: a second writer must not empty the file that
  // the first is writing.
  if (flock(nFd, LOCK_EX | LOCK_NB) != 0 || ftruncate(nFd, 0) != 0) {
    close(nFd);
    return false;
  }
  CFdWriter writer(nFd);
  writer.write(c_szDeclaration, sizeof c_szDeclaration - 1);
  m_pDoc->save(writer, "\t", pugi::format_indent | pugi::format_no_declaration, pugi::encoding_utf8);
  const bool bClosed = close(nFd) == 0;
  return bClosed && !writer.Failed();
}
