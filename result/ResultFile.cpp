#include "result/ResultFile.h"

#include <cstdio>
#include <filesystem>
#include <new>

#include "platform/Console.h"
#include "platform/FileOps.h"
#include "util/MbString.h"
#include "platform/UdpSocket.h"
#include "platform/Utf8Converter.h"
#include "result/TypedFiles.h"
#include "result/XmlDoc.h"

bool IsFileNamePart(std::string_view text) {
  constexpr std::string_view c_strForbidden = "\\/:*?\"<>|";
  for (size_t nPos = 0; nPos < text.size();) {
    const size_t nLen = MbCharLen(text, nPos);
    const auto byte = static_cast<unsigned char>(text[nPos]);
    if (nLen == 1 && (byte < 0x20 || byte == 0x7F || c_strForbidden.find(text[nPos]) != std::string_view::npos))
      return false;
    nPos += nLen;
  }
  return true;
}

std::string FileNameOfTarget(const std::string& strTarget) {
  if (!IsIpv6Literal(strTarget)) return strTarget;
  std::string strName = strTarget;
  for (char& ch : strName) {
    if (ch == ':') ch = '-';
    if (ch == '%') ch = 's';
  }
  return strName;
}

bool MakeResultPath(const std::string& strBaseDir, const std::string& strTarget,
                    const std::string& strStartOid, std::string* pstrPath, const char* szExtension) {
  const std::string strName = FileNameOfTarget(strTarget);
  if (!IsFileNamePart(strName) || !IsFileNamePart(strStartOid)) return false;
  const std::string strSuffix = strStartOid.empty() ? std::string() : "_[" + strStartOid + "]";
  *pstrPath = JoinPath(strBaseDir, strName + strSuffix + "." + szExtension);
  return true;
}

bool KeepResultFile(const CResultPlace& place, const std::string& strTarget, const char* szWhy,
                    const char* szExtension) {
  std::string strPath;
  std::error_code error;
  if (!MakeResultPath(place.strDir, strTarget, place.strStartOid, &strPath, szExtension) ||
      !std::filesystem::is_regular_file(strPath, error))
    return false;
  PrintLine("output kept: %s (%s)\n", strPath.c_str(), szWhy);
  return true;
}

bool WriteResultFile(const CResultPlace& place, const std::string& strTarget, const CMapStringToString& mapResults,
                     const std::unordered_set<std::string>& setCrTextKeys, const std::string& strCharset) {
  std::string strPath;
  if (!MakeResultPath(place.strDir, strTarget, place.strStartOid, &strPath)) {
    PrintLine("output error\n");
    return false;
  }
  try {
    // Written as it is made: a large map never has a whole document
    // beside it.
    CXmlFileWriter writer;
    if (writer.Open(strPath, c_szResultRoot)) {
      CUtf8Converter converter(strCharset);
      mapResults.ForEach([&](const std::string& strKey, const std::string& strValue) {
        CXmlElement result = writer.AddRootElement("RESULT", "");
        writer.AddElement(result, "OID", converter.ToUtf8(strKey));
        const bool bExactCr = !setCrTextKeys.empty() && setCrTextKeys.contains(strKey);
        writer.AddElement(result, "VALUE", converter.ToUtf8(strValue), bExactCr);
      });
      if (writer.Commit()) {
        PrintLine("output: %s\n", strPath.c_str());
        return true;
      }
    }
  } catch (const CXmlError&) {
    // A document that cannot be built is reported like a failed save.
  } catch (const std::bad_alloc&) {
  }
  PrintLine("output error\n");
  return false;
}

uint32_t WriteTypedResultFiles(const CResultPlace& place, const std::string& strTarget, const CTypedEntries& typed,
                               uint32_t uFormats) {
  std::string arrPaths[2];
  const uint32_t arrFormats[2] = {c_uFormatSnmprec, c_uFormatWalk};
  bool arrWritten[2] = {false, false};
  bool bNamed = true;
  for (int i = 0; i < 2; ++i) {
    if ((uFormats & arrFormats[i]) != 0)
      bNamed = MakeResultPath(place.strDir, strTarget, place.strStartOid, &arrPaths[i], FormatName(arrFormats[i])) &&
               bNamed;
  }
  try {
    if (bNamed) WriteTypedFiles(arrPaths[0], arrPaths[1], typed, &arrWritten[0], &arrWritten[1]);
  } catch (const std::bad_alloc&) {
    arrWritten[0] = arrWritten[1] = false;
  }
  uint32_t uWritten = 0;
  for (int i = 0; i < 2; ++i) {
    if ((uFormats & arrFormats[i]) == 0) continue;
    if (arrWritten[i]) {
      PrintLine("output: %s\n", arrPaths[i].c_str());
      uWritten |= arrFormats[i];
    } else {
      PrintLine("output error\n");
    }
  }
  return uWritten;
}
