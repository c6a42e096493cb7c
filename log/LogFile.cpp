#include "log/LogFile.h"

#include <utility>

#include "settings/Settings.h"
#include "platform/FileOps.h"
#include "util/MbString.h"

std::string MakeLogFilePath(const std::string& strLogDir, const std::string& strLogFile) {
  return JoinPath(strLogDir, strLogFile);
}

std::string MakeRotatedLogPath(const std::string& strLogDir, const struct tm& tmLocal,
                               const std::string& strLogFile) {
  char szStamp[128] = "";
  if (std::strftime(szStamp, sizeof szStamp, "%Y%m%d_%H%M%S", &tmLocal) == 0) szStamp[0] = '\0';
  return JoinPath(strLogDir, std::string(szStamp) + "_" + strLogFile);
}

int WriteLogLines(const std::vector<std::string>& arrLines) {
  const std::string strPath = MakeLogFilePath(g_strLogDir, g_strLogFile);
  // One write per batch: the batch lands whole in one file, never split
  // by a rotation.
  std::string strBatch;
  for (const std::string& strLine : arrLines) strBatch += strLine;
  uint64_t uLength = 0;
  (void)AppendToFile(strPath, strBatch, &uLength);  // failures lose the batch, by policy
  if (uLength <= c_uRotateBytes) return 0;

  const time_t tmNow = std::time(nullptr);
  struct tm tmLocal {};
  localtime_r(&tmNow, &tmLocal);
  // Never replace an existing rotated file: when the name is taken, the live
  // file keeps growing until a later rotation finds a free name.
  (void)MoveFileNoReplace(strPath, MakeRotatedLogPath(g_strLogDir, tmLocal, g_strLogFile));
  PruneOldLogs();
  return 0;
}

void PruneOldLogs() {
  const std::string strSuffix = "_" + g_strLogFile;
  CSortStringArray arrNames;
  for (std::string& strName : ListFiles(g_strLogDir)) {
    if (strName.size() < strSuffix.size() ||
        strName.compare(strName.size() - strSuffix.size(), strSuffix.size(), strSuffix) != 0)
      continue;
    arrNames.push_back(std::move(strName));
  }
  if (arrNames.size() <= c_nKeptLogs) return;
  const size_t nExcess = arrNames.size() - c_nKeptLogs;
  arrNames.Sort();
  for (size_t i = 0; i < nExcess; ++i) {
    (void)RemoveFile(MakeLogFilePath(g_strLogDir, arrNames[i]));  // counted again next time
  }
}

void CSortStringArray::Sort() {
  if (size() < 2) return;
  bool bSwapped = true;
  while (bSwapped) {
    bSwapped = false;
    for (size_t i = 0; i + 1 < size(); ++i) {
      if (CompareNoCaseMb((*this)[i], (*this)[i + 1]) > 0) {
        std::swap((*this)[i], (*this)[i + 1]);
        bSwapped = true;
      }
    }
  }
}
