// mibscan: reads the SNMP MIB of each target and writes one XML file each.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>
#include <vector>

#include "driver/Options.h"
#include "driver/Progress.h"
#include "driver/Scan.h"
#include "platform/Descriptors.h"
#include "platform/Interrupt.h"
#include "platform/ModulePath.h"
#include "platform/Runtime.h"

namespace {

// The start-up messages (the source and the program's output are UTF-8).
constexpr char c_szNoModule[] = "致命的なエラー: GetModuleHandle が失敗しました\n";
constexpr char c_szNoFramework[] = "致命的なエラー: MFC の初期化が失敗しました\n";

// A command line that cannot be run: why, on standard error; nothing is
// sent or written.
int Refuse(const std::string& strWhy) {
  std::fprintf(stderr, "mibscan: %s\n", strWhy.c_str());
  return 2;
}

}  // namespace

int main(int argc, char* argv[]) {
  // Workers print whole lines; each one goes out at once, also into a
  // pipe, so a calling script sees progress as it happens.
  InitialiseConsole();
  std::string strExePath;
  if (!GetExecutablePath(&strExePath)) {
    PrintFatal(c_szNoModule);
    return 1;
  }
  // The user's locale, and a converter from its code set to UTF-8 for the
  // result files.
  if (!InitialiseLocale()) {
    PrintFatal(c_szNoFramework);
    return 1;
  }
  // One socket per running target: allow as many descriptors as the
  // system lets this process have.
  RaiseDescriptorLimit();
  InstallInterruptHandlers();
  bool bStrict = false;
  try {
    COptions options;
    std::vector<std::string> arrArguments;
    std::vector<std::string> arrTargets;
    std::string strWhy;
    if (!ParseOptions(argc, argv, &options, &arrArguments, &strWhy)) return Refuse(strWhy);
    if (options.bHelp) {
      std::fputs(UsageText().c_str(), stdout);
      return 0;
    }
    if (options.bVersion) {
      std::printf("mibscan %s\n", MIBSCAN_VERSION);
      return 0;
    }
    if (!MakeTargetList(options.arrTargetFiles, arrArguments, &arrTargets, &strWhy)) return Refuse(strWhy);
    arrArguments.clear();
    arrArguments.shrink_to_fit();
    CScanOptions scan;
    scan.strExePath = strExePath;
    if (!options.strConfigPath.empty()) {
      // The profile functions look for a relative name in the Windows
      // folder: the path is made whole against the working directory.
      std::error_code error;
      const std::filesystem::path config = std::filesystem::absolute(options.strConfigPath, error);
      if (error || !std::ifstream(config, std::ios::binary) || std::filesystem::is_directory(config, error))
        return Refuse("cannot read the settings file " + options.strConfigPath);
      scan.strConfigPath = config.string();
    }
    if (!options.strOutDir.empty()) {
      std::error_code error;
      if (!std::filesystem::is_directory(options.strOutDir, error))
        return Refuse("the output directory " + options.strOutDir + " does not exist");
      scan.strResultDir = options.strOutDir;
    }
    scan.bProgress = options.bProgress;
    scan.uFormats = options.uFormats;
    scan.bReport = options.bReport;
    // The command line names nothing secret: communities and passwords
    // live in config.ini, or where its "env:" and "file:" values say.
    scan.arrArguments.assign(argv + std::min(argc, 1), argv + argc);
    bool bRefused = false;
    scan.pbRefused = &bRefused;
    (void)RunScan(arrTargets, scan);
    if (bRefused) return 2;
    bStrict = options.bStrict;
  } catch (const std::bad_alloc&) {
    // Only before the first worker starts can memory run out this far up
    // (a command line too long to hold): then nothing was scanned.
  }
  // An interrupted scan still wrote every file and the whole log; its exit
  // status tells the caller that it was cut short, as a shell would.
  const int nSignal = InterruptSignal();
  if (nSignal != 0) return 128 + nSignal;
  return bStrict ? ScanTally().StrictStatus() : 0;
}
