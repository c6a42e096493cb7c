// mibscan: reads the SNMP MIB of each target and writes one XML file each.
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "driver/CommandLine.h"
#include "driver/Scan.h"
#include "platform/Descriptors.h"
#include "platform/Interrupt.h"
#include "platform/ModulePath.h"
#include "platform/Runtime.h"

namespace {

// The start-up messages (the source and the program's output are UTF-8).
constexpr char c_szNoModule[] = "致命的なエラー: GetModuleHandle が失敗しました\n";
constexpr char c_szNoFramework[] = "致命的なエラー: MFC の初期化が失敗しました\n";

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
  try {
    std::vector<std::string> arrTargets;
    ParseCommandLine(argc, argv, &arrTargets);
    (void)RunScan(arrTargets);
  } catch (const std::bad_alloc&) {
    // Only before the first worker starts can memory run out this far up
    // (a command line too long to hold): then nothing was scanned.
  }
  // An interrupted scan still wrote every file and the whole log; its exit
  // status tells the caller that it was cut short, as a shell would.
  const int nSignal = InterruptSignal();
  return nSignal != 0 ? 128 + nSignal : 0;
}
