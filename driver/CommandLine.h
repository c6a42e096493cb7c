// The command line: which targets to scan and how.
#ifndef MIBSCAN_DRIVER_COMMANDLINE_H_
#define MIBSCAN_DRIVER_COMMANDLINE_H_

#include <string>
#include <vector>

// Appends to *parrTargets (empty on entry) the targets of the argument
// vector, in order, each without leading and trailing white space; entries
// may be empty. argv[0] (the program path) is ignored. The forms:
//
//   one argument         List: the argument split at "," (commas at either
//                        end or in a row make no piece); g_bSystemMib=false.
//   oid <OID> <target>   Single OID ("oid" in any case, as a whole word):
//                        g_strStartOid = <OID> byte for byte, not trimmed.
//   any other count      Plain: every argument is a target, no splitting.
//
// No other setting is touched, and no target is checked. Cannot fail.
void ParseCommandLine(int argc, const char* const argv[], std::vector<std::string>* parrTargets);

#endif  // MIBSCAN_DRIVER_COMMANDLINE_H_
