// The result file as it was first written: the whole document built in
// memory from the map, then saved. The tests keep it as the reference that
// the file written one record at a time must equal byte for byte.
#ifndef MIBSCAN_RESULT_WHOLEDOCUMENT_TEST_H_
#define MIBSCAN_RESULT_WHOLEDOCUMENT_TEST_H_

#include <string>
#include <unordered_set>

#include "util/MapStringToString.h"
#include "platform/Utf8Converter.h"
#include "result/ResultFile.h"
#include "result/XmlDoc.h"

inline bool WriteWholeDocument(const std::string& strPath, const CMapStringToString& mapResults,
                               const std::unordered_set<std::string>& setCrTextKeys = {},
                               const std::string& strCharset = "") {
  CXmlDoc doc;
  (void)doc.LoadXml(c_szResultTemplate);
  CUtf8Converter converter(strCharset);
  mapResults.ForEach([&](const std::string& strKey, const std::string& strValue) {
    CXmlElement result = doc.AddRootElement("RESULT", "");
    doc.AddElement(result, "OID", converter.ToUtf8(strKey));
    doc.AddElement(result, "VALUE", converter.ToUtf8(strValue), setCrTextKeys.contains(strKey));
  });
  return doc.Save(strPath);
}

#endif  // MIBSCAN_RESULT_WHOLEDOCUMENT_TEST_H_
