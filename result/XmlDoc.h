// A small XML document: made from a text, given elements that each carry a
// text, and saved to a file as indented UTF-8. And a document of the same
// form written to its file as it is made (CXmlFileWriter), for documents
// too large to hold.
//
// Errors: a document operation that fails (no document, no parent, no
// memory) throws CXmlError with a code. LoadXml and Save never throw; they
// answer false.
//
// Thread use: a document belongs to one thread.
#ifndef MIBSCAN_RESULT_XMLDOC_H_
#define MIBSCAN_RESULT_XMLDOC_H_

#include <pugixml.hpp>

#include "platform/AtomicFile.h"

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

// Codes of CXmlError.
constexpr int XML_E_POINTER = 1;      // no document, root element or parent
constexpr int XML_E_OUTOFMEMORY = 2;  // a node could not be made

class CXmlError : public std::runtime_error {
 public:
  explicit CXmlError(int nCode);
  int Code() const { return m_nCode; }

 private:
  int m_nCode;
};

using CXmlElement = pugi::xml_node;

// The document holds every text as it goes into the file, escaped (a
// CXmlElement's text reads "a&lt;b" for "a<b").
class CXmlDoc {
 public:
  CXmlDoc() = default;
  CXmlDoc(const CXmlDoc&) = delete;
  CXmlDoc& operator=(const CXmlDoc&) = delete;

  // Replaces the document by one parsed from strXml (UTF-8; a document
  // type declaration is allowed; nothing is validated and no entity of a
  // DTD is expanded). False when the text does not parse: a document is
  // then still held, without a root element.
  [[nodiscard]] bool LoadXml(std::string_view strXml);

  // A new element strName (every "&" of it made "-") with the one text
  // child strText (UTF-8, possibly empty), appended as the last child of
  // the root element. A carriage return of the text is written as it is,
  // so a parser reads "\r\n" back as "\n" (XML 1.0 section 2.11), which
  // suits the line ends of a form such as Base64; with bExactCr it is
  // written as the reference "&#13;", which a parser reads back as a
  // carriage return. Throws CXmlError.
  CXmlElement AddRootElement(std::string_view strName, std::string_view strText, bool bExactCr = false);
  // The same, appended as the last child of parent. Throws CXmlError.
  CXmlElement AddElement(CXmlElement parent, std::string_view strName, std::string_view strText,
                         bool bExactCr = false);

  // Writes the document to strPath: a declaration of version "1.0" and
  // encoding "UTF-8", then the document indented by tabs, as UTF-8, with
  // "<", "&" and ">" of texts escaped, and control characters other than
  // TAB, LF and CR as references. The file is replaced whole or not at all
  // (AtomicFile.h): a second writer of the same file, while the first is
  // writing it, fails and leaves the first's alone. False when the file
  // was not written (no document, no such directory, the file locked, a
  // failed write); the file then keeps its previous content.
  [[nodiscard]] bool Save(const std::string& strPath) const;

 private:
  std::unique_ptr<pugi::xml_document> m_pDoc;
};

// A document of one root element without attributes, written to its
// file as it is made: the declaration and the root's start tag when the
// first child of the root is made, each child of the root, with everything
// under it, as soon as the next one is made, and the rest by Commit(). The
// file's bytes are those CXmlDoc::Save writes for the same document (each
// child is printed by pugixml at its depth, with the same escaping and
// indentation), and it is replaced whole or not at all in the same way.
// Only one child of the root is held in memory at a time.
class CXmlFileWriter {
 public:
  CXmlFileWriter() = default;
  CXmlFileWriter(const CXmlFileWriter&) = delete;
  CXmlFileWriter& operator=(const CXmlFileWriter&) = delete;

  // Opens strPath for a document whose root element is strRootName (the
  // name as it is written). False when the file cannot be opened (no such
  // directory, the file locked by another writer).
  [[nodiscard]] bool Open(const std::string& strPath, std::string_view strRootName);
  // As CXmlDoc::AddRootElement; the root's child made before is written
  // out first and can no longer be used. Throws CXmlError.
  CXmlElement AddRootElement(std::string_view strName, std::string_view strText, bool bExactCr = false);
  // As CXmlDoc::AddElement, under the root's child made last or one of
  // its descendants. Throws CXmlError.
  CXmlElement AddElement(CXmlElement parent, std::string_view strName, std::string_view strText,
                         bool bExactCr = false);
  // Writes the rest of the document and replaces the file with it. False
  // when the file was not written (a failed write at any point); the file
  // then keeps its previous content.
  [[nodiscard]] bool Commit();

 private:
  class CBufferedWriter : public pugi::xml_writer {
   public:
    explicit CBufferedWriter(CAtomicFile* pFile) : m_pFile(pFile) {}
    void write(const void* pData, size_t nSize) override;
    void Flush();

   private:
    CAtomicFile* m_pFile;
    std::string m_strBuffer;
  };
  // Writes the root's child held, and frees it.
  void WriteHeldChild();

  CAtomicFile m_file;
  CBufferedWriter m_writer{&m_file};
  std::unique_ptr<pugi::xml_document> m_pDoc;  // the root, and the child being made
  std::string m_strRootName;
  bool m_bOpen = false;
  bool m_bRootStarted = false;
};

#endif  // MIBSCAN_RESULT_XMLDOC_H_
