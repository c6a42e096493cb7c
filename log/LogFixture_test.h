// A fixture for the log service's tests: a scratch log directory, logging
// on in queued mode, an empty queue before and after every test.
#ifndef MIBSCAN_LOG_LOGFIXTURE_TEST_H_
#define MIBSCAN_LOG_LOGFIXTURE_TEST_H_

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "settings/Settings.h"
#include "log/LogQueue.h"
#include "tests/TestSupport.h"

class LogFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    g_strLogDir = m_dir.Path().string();
    g_strLogFile = "log.txt";
    g_bLog = true;
    g_bLogDirect = false;
    ClearQueue();
  }
  void TearDown() override {
    g_bLog = false;
    g_bLogDirect = false;
    ClearQueue();
  }
  static void ClearQueue() {
    while (!g_LogQueue.IsEmpty()) (void)g_LogQueue.PopFront();
  }
  std::string LivePath() const { return (m_dir.Path() / "log.txt").string(); }
  // The lines of a file, without their "\n".
  static std::vector<std::string> ReadLines(const std::string& strPath) {
    std::vector<std::string> arrLines;
    std::ifstream in(strPath, std::ios::binary);
    for (std::string strLine; std::getline(in, strLine);) arrLines.push_back(strLine);
    return arrLines;
  }
  // Every line logged so far: the rotated files, oldest first, then the
  // live file.
  std::vector<std::string> AllLogLines() const {
    std::vector<std::string> arrFiles;
    for (const auto& entry : std::filesystem::directory_iterator(m_dir.Path())) {
      const std::string strName = entry.path().filename().string();
      if (strName != "log.txt" && strName.ends_with("_log.txt")) arrFiles.push_back(entry.path().string());
    }
    std::sort(arrFiles.begin(), arrFiles.end());
    arrFiles.push_back(LivePath());
    std::vector<std::string> arrLines;
    for (const auto& strFile : arrFiles) {
      for (auto& strLine : ReadLines(strFile)) arrLines.push_back(std::move(strLine));
    }
    return arrLines;
  }
  // The text after the "<time>|-|" of a log line.
  static std::string TextOf(const std::string& strLine) {
    const size_t nBar = strLine.find("|-|");
    return nBar == std::string::npos ? "" : strLine.substr(nBar + 3);
  }
  CTempDir m_dir;
};

#endif  // MIBSCAN_LOG_LOGFIXTURE_TEST_H_
