#include "result/ResultFile.h"

#include <cstdio>
#include <algorithm>
#include <filesystem>
#include <fstream>
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

std::vector<std::string> SampleEarlierOids(const CResultPlace& place, const std::string& strTarget, size_t nSample,
                                           size_t nMaxBytes, size_t* pnSeen) {
  if (pnSeen != nullptr) *pnSeen = 0;
  std::vector<std::string> arrSample;
  std::string strPath;
  if (nSample == 0 || !MakeResultPath(place.strDir, strTarget, place.strStartOid, &strPath)) return arrSample;
  std::ifstream stream(strPath, std::ios::binary);
  if (!stream) return arrSample;
  constexpr std::string_view c_open = "<OID>";
  constexpr std::string_view c_close = "</OID>";
  // OIDs are short: a longer text is none of ours.
  constexpr size_t c_nLongestText = 1400;
  // A reservoir sample (each text kept with the same chance), read a block
  // at a time: memory stays small whatever the file's size.
  uint64_t uSeen = 0;
  uint64_t uRandom = 0x9E3779B97F4A7C15ULL;  // fixed: the same file gives the same sample
  const auto offer = [&](std::string_view text) {
    if (arrSample.size() < nSample) {
      arrSample.emplace_back(text);
    } else {
      uRandom = uRandom * 6364136223846793005ULL + 1442695040888963407ULL;
      const uint64_t uPlace = (uRandom >> 16) % (uSeen + 1);
      if (uPlace < nSample) arrSample[static_cast<size_t>(uPlace)].assign(text);
    }
    ++uSeen;
  };
  std::string strBuffer;
  std::vector<char> block(65536);
  size_t nRead = 0;
  while (nRead < nMaxBytes && stream) {
    stream.read(block.data(), static_cast<std::streamsize>(std::min(block.size(), nMaxBytes - nRead)));
    const auto nGot = static_cast<size_t>(stream.gcount());
    if (nGot == 0) break;
    nRead += nGot;
    strBuffer.append(block.data(), nGot);
    size_t nPos = 0;
    while (true) {
      const size_t nOpen = strBuffer.find(c_open, nPos);
      if (nOpen == std::string::npos) {
        // A tag may begin in the last bytes.
        nPos = std::max(nPos, strBuffer.size() - std::min(strBuffer.size(), c_open.size() - 1));
        break;
      }
      const size_t nText = nOpen + c_open.size();
      const size_t nClose = strBuffer.find(c_close, nText);
      if (nClose == std::string::npos) {
        // The text goes on in the next block, unless it is too long to be one.
        nPos = strBuffer.size() - nText > c_nLongestText ? nText : nOpen;
        break;
      }
      if (nClose - nText <= c_nLongestText) offer(std::string_view(strBuffer).substr(nText, nClose - nText));
      nPos = nClose + c_close.size();
    }
    strBuffer.erase(0, nPos);
  }
  if (pnSeen != nullptr) *pnSeen = static_cast<size_t>(uSeen);
  return arrSample;
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
