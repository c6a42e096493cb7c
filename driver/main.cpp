// mibscan: reads the SNMP MIB of each target and writes one XML file each.
#include <iconv.h>
#include <langinfo.h>

#include <clocale>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "driver/CommandLine.h"
#include "driver/Scan.h"
#include "platform/Descriptors.h"
#include "platform/Interrupt.h"
#include "platform/ModulePath.h"

namespace {

// The start-up messages (the source and the program's output are UTF-8).
constexpr char c_szNoModule[] = "致命的なエラー: GetModuleHandle が失敗しました\n";
constexpr char c_szNoFramework[] = "致命的なエラー: MFC の初期化が失敗しました\n";

// The runtime set-up the program needs: the user's locale (narrow text is
// in its code set; an unknown locale leaves the plain C locale, which
// works) and a converter from that code set to UTF-8 for the result files.
bool InitialiseRuntime() {
  if (setlocale(LC_ALL, "") == nullptr) setlocale(LC_ALL, "C");
  const iconv_t cd = iconv_open("UTF-8", nl_langinfo(CODESET));
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  iconv_close(cd);
  return true;
}

}  // namespace

int main(int argc, char* argv[]) {
  // Workers print whole lines; line buffering sends each one at once, also
  // into a pipe, so a calling script sees progress as it happens.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  std::string strExePath;
  if (!GetExecutablePath(&strExePath)) {
    std::fputs(c_szNoModule, stdout);
    return 1;
  }
  if (!InitialiseRuntime()) {
    std::fputs(c_szNoFramework, stdout);
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
