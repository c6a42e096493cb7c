#include "platform/FileOps.h"

std::string JoinPath(const std::string& strDir, std::string_view strName) {
  std::string strPath;
  strPath.reserve(strDir.size() + 1 + strName.size());
  strPath.append(strDir).push_back(PathSeparator());
  strPath.append(strName);
  return strPath;
}
