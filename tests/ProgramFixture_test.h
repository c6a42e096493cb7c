// A fixture that runs the real mibscan executable: copied into a scratch
// directory (its base directory) with a config.ini of the test's own, so
// its result files and log land there.
#ifndef MIBSCAN_TESTS_PROGRAMFIXTURE_TEST_H_
#define MIBSCAN_TESTS_PROGRAMFIXTURE_TEST_H_

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/Process.h"
#include "tests/TestSupport.h"

class ProgramFixture : public ::testing::Test {
 protected:
  using CRecords = std::vector<std::pair<std::string, std::string>>;

  void SetUp() override {
    // The executable's own name: "mibscan", or "mibscan.exe", without which
    // Windows would not start it.
    m_strExe = (m_dir.Path() / std::filesystem::path(MIBSCAN_EXECUTABLE).filename()).string();
    std::filesystem::copy_file(MIBSCAN_EXECUTABLE, m_strExe);
  }
  void WriteConfig(int nPort, int nTimeout = 1000, int nRetry = 1, int nLog = 0,
                   const std::string& strExtra = "") const {
    m_dir.WriteFile("config.ini", "[Config]\nCommunity=qzvtrk\nPort=" + std::to_string(nPort) +
                                      "\nTimeout=" + std::to_string(nTimeout) + "\nRetry=" +
                                      std::to_string(nRetry) + "\nLog=" + std::to_string(nLog) +
                                      "\n" + strExtra);
  }
  CProcessResult Run(const std::vector<std::string>& arrArgs) const {
    CProcessResult result = RunProcess(m_strExe, arrArgs, 300);
    EXPECT_FALSE(result.bTimedOut);
    EXPECT_EQ(result.nExitCode, 0);
    return result;
  }
  std::string Path(const std::string& strName) const { return (m_dir.Path() / strName).string(); }
  // The records of a result file, in file order; fails the test when the
  // file is missing or not a RESULTS document.
  CRecords ReadXml(const std::string& strName) const {
    CRecords arrRecords;
    pugi::xml_document doc;
    const pugi::xml_parse_result result = doc.load_file(Path(strName).c_str());
    EXPECT_TRUE(result) << strName << ": " << result.description();
    for (pugi::xml_node record : doc.child("RESULTS").children("RESULT"))
      arrRecords.emplace_back(record.child_value("OID"), record.child_value("VALUE"));
    return arrRecords;
  }
  // Every log line: rotated files oldest first, then the live file.
  std::vector<std::string> LogLines() const {
    std::vector<std::string> arrFiles;
    const auto logDir = m_dir.Path() / "log";
    if (!std::filesystem::is_directory(logDir)) return {};
    for (const auto& entry : std::filesystem::directory_iterator(logDir)) {
      const std::string strName = entry.path().filename().string();
      if (strName != "log.txt" && strName.ends_with("_log.txt")) arrFiles.push_back(entry.path().string());
    }
    std::sort(arrFiles.begin(), arrFiles.end());
    arrFiles.push_back((logDir / "log.txt").string());
    std::vector<std::string> arrLines;
    for (const auto& strFile : arrFiles) {
      std::ifstream in(strFile);
      for (std::string strLine; std::getline(in, strLine);) arrLines.push_back(strLine);
    }
    return arrLines;
  }
  // Console lines that begin with strPrefix.
  static std::vector<std::string> Lines(const std::string& strOutput, const std::string& strPrefix) {
    std::vector<std::string> arrLines;
    size_t nPos = 0;
    while (nPos < strOutput.size()) {
      const size_t nEnd = strOutput.find('\n', nPos);
      std::string strLine = strOutput.substr(nPos, nEnd - nPos);
      // The console of Windows ends its lines with CR LF.
      if (!strLine.empty() && strLine.back() == '\r') strLine.pop_back();
      if (strLine.starts_with(strPrefix)) arrLines.push_back(strLine);
      if (nEnd == std::string::npos) break;
      nPos = nEnd + 1;
    }
    return arrLines;
  }

  CTempDir m_dir;
  std::string m_strExe;
};

#endif  // MIBSCAN_TESTS_PROGRAMFIXTURE_TEST_H_
