// mibscan: reads the SNMP MIB of each target and writes one XML file each.
#include <clocale>
#include <string>
#include <vector>

#include "driver/CommandLine.h"

int main(int argc, char* argv[]) {
  // Narrow text (arguments, config.ini, agent strings) is in the code set
  // of the user's locale; every multibyte-aware search relies on it.
  setlocale(LC_ALL, "");
  std::vector<std::string> arrTargets;
  ParseCommandLine(argc, argv, &arrTargets);
  return 0;
}
