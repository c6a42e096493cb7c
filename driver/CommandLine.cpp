#include "driver/CommandLine.h"

#include <string_view>

#include "settings/Settings.h"
#include "util/MbString.h"

namespace {

// The List form's argument: one target, or the pieces between commas.
void AppendListTargets(std::string_view strArg, std::vector<std::string>* parrTargets) {
  if (MbFind(strArg, ',') == std::string_view::npos) {
    parrTargets->push_back(MbTrim(strArg));  // also an empty argument: one empty target
    return;
  }
  size_t nStart = 0;
  while (nStart <= strArg.size()) {
    size_t nComma = MbFind(strArg, ',', nStart);
    if (nComma == std::string_view::npos) nComma = strArg.size();
    if (nComma > nStart) parrTargets->push_back(MbTrim(strArg.substr(nStart, nComma - nStart)));
    nStart = nComma + 1;
  }
}

}  // namespace

void ParseCommandLine(int argc, const char* const argv[], std::vector<std::string>* parrTargets) {
  // argc can be 0 when a caller execs the program with an empty vector.
  const int nArgs = argc > 0 ? argc - 1 : 0;
  if (nArgs == 1) {
    AppendListTargets(argv[1], parrTargets);
    g_bSystemMib = false;
  } else if (nArgs == 3 && EqualsNoCase(argv[1], "oid")) {
    g_strStartOid = argv[2];
    parrTargets->push_back(MbTrim(argv[3]));
  } else {
    for (int i = 1; i <= nArgs; ++i) parrTargets->push_back(MbTrim(argv[i]));
  }
}
