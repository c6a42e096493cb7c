#include "settings/Secrets.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "settings/Settings.h"

namespace {

constexpr std::string_view c_env = "env:";
constexpr std::string_view c_file = "file:";

bool IsNameChar(char ch) {
  return (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9') || ch == '_';
}

// The environment variable strName; false when it is not set.
bool ReadVariable(const std::string& strName, std::string* pstrValue) {
  const char* szValue = strName.empty() ? nullptr : std::getenv(strName.c_str());
  if (szValue == nullptr) return false;
  pstrValue->assign(szValue);
  return true;
}

// strPath with $NAME and ${NAME} replaced by the variables' values.
bool ExpandVariables(std::string_view strPath, std::string* pstrOut, std::string* pstrWhy) {
  pstrOut->clear();
  for (size_t i = 0; i < strPath.size(); ++i) {
    if (strPath[i] != '$') {
      *pstrOut += strPath[i];
      continue;
    }
    size_t nStart = i + 1;
    size_t nEnd = nStart;
    bool bBraced = nStart < strPath.size() && strPath[nStart] == '{';
    if (bBraced) {
      nEnd = strPath.find('}', ++nStart);
      if (nEnd == std::string_view::npos) {
        *pstrWhy = "no \"}\" after \"${\"";
        return false;
      }
    } else {
      while (nEnd < strPath.size() && IsNameChar(strPath[nEnd])) ++nEnd;
    }
    const std::string strName(strPath.substr(nStart, nEnd - nStart));
    std::string strValue;
    if (!ReadVariable(strName, &strValue)) {
      *pstrWhy = "the environment variable " + (strName.empty() ? std::string("after \"$\"") : strName) + " is not set";
      return false;
    }
    *pstrOut += strValue;
    i = bBraced ? nEnd : nEnd - 1;
  }
  return true;
}

}  // namespace

bool IsSecretReference(std::string_view strValue) {
  return strValue.substr(0, c_env.size()) == c_env || strValue.substr(0, c_file.size()) == c_file;
}

bool ResolveSecret(std::string_view strValue, const std::string& strIniPath, CSecretSource* pSource,
                   std::string* pstrWhy) {
  pSource->strFile.clear();
  if (strValue.substr(0, c_env.size()) == c_env) {
    const std::string strName(strValue.substr(c_env.size()));
    if (ReadVariable(strName, &pSource->strSecret)) return true;
    *pstrWhy = "the environment variable " + strName + " is not set";
    return false;
  }
  if (strValue.substr(0, c_file.size()) != c_file) {
    pSource->strSecret.assign(strValue);
    return true;
  }
  std::string strPath;
  if (!ExpandVariables(strValue.substr(c_file.size()), &strPath, pstrWhy)) return false;
  if (strPath.empty()) {
    *pstrWhy = "no file named after \"file:\"";
    return false;
  }
  std::filesystem::path path(strPath);
  if (path.is_relative()) path = std::filesystem::path(strIniPath).parent_path() / path;
  pSource->strFile = path.string();
  std::error_code error;
  std::ifstream file;
  if (!std::filesystem::is_directory(path, error)) file.open(path, std::ios::binary);
  if (!file.is_open() || !file) {
    *pstrWhy = "cannot read the file " + pSource->strFile;
    return false;
  }
  // Room for the longest secret, its line break, and one byte more that
  // tells a file that is too long.
  std::string strText(c_nMaxCommunity + 3, '\0');
  file.read(strText.data(), static_cast<std::streamsize>(strText.size()));
  if (file.bad()) {
    *pstrWhy = "cannot read the file " + pSource->strFile;
    return false;
  }
  const size_t nRead = static_cast<size_t>(file.gcount());
  strText.resize(nRead);
  if (!strText.empty() && strText.back() == '\n') strText.pop_back();
  if (!strText.empty() && strText.back() == '\r') strText.pop_back();
  if (nRead == c_nMaxCommunity + 3 || strText.size() > c_nMaxCommunity) {
    *pstrWhy = "the file " + pSource->strFile + " holds more than " + std::to_string(c_nMaxCommunity) + " bytes";
    return false;
  }
  pSource->strSecret = std::move(strText);
  return true;
}
