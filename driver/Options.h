// The options that come before the described arguments, and the targets
// they and the arguments stand for.
//
//   -f FILE, --targets FILE   targets, one per line (repeatable)
//   --oid OID                 one GET of OID for every target
//   --config FILE             this config.ini instead of the one beside the program
//   -o DIR, --out-dir DIR     result files into DIR
//   --format LIST             the result files' formats (xml, snmprec, walk)
//   --progress                progress and a summary on standard error
//   --report                  the scan's record: scan.json, failed.txt, scan.html
//   --strict                  an exit status that tells the outcome
//   -h, --help                usage
//   --version                 the program's version
//   --                        ends the options
//
// Options begin with "-"; no host name or address does. Without options
// the arguments keep their described forms (ParseCommandLine), and so do
// they after --config and --out-dir alone. After -f or --oid every
// argument is a target of its own.
#ifndef MIBSCAN_DRIVER_OPTIONS_H_
#define MIBSCAN_DRIVER_OPTIONS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Most targets one run takes, after address blocks are written out.
constexpr size_t c_nMaxTargets = 1000000;
// Most addresses an IPv6 block may stand for.
constexpr size_t c_nMaxIpv6Block = 65536;

struct COptions {
  std::vector<std::string> arrTargetFiles;  // -f, in the order given
  bool bOid = false;                        // --oid given
  std::string strOid;
  std::string strConfigPath;  // --config; empty: beside the executable
  std::string strOutDir;      // --out-dir; empty: beside the executable
  uint32_t uFormats = 0;      // --format (ResultFormats.h); 0: as config.ini says
  bool bProgress = false;     // --progress
  bool bReport = false;       // --report
  bool bStrict = false;       // --strict
  bool bHelp = false;
  bool bVersion = false;
};

// Reads the options, then the arguments after them, into *pOptions and
// *parrTargets (the command line's targets, as ParseCommandLine gives
// them; after -f or --oid each argument trimmed). Sets g_strStartOid for
// --oid. False, with the reason in *pstrWhy, for an unknown option or an
// option without its value.
[[nodiscard]] bool ParseOptions(int argc, const char* const argv[], COptions* pOptions,
                                std::vector<std::string>* parrTargets, std::string* pstrWhy);

// Makes the run's target list: the targets files' lines first (trimmed;
// blank lines and lines beginning with "#" skipped), in file order, then
// arrCommandLine; each address block written out into its addresses.
// False, with the reason in *pstrWhy (naming the file and line where there
// is one), for a file that cannot be read, a malformed block, an IPv6
// block of more than c_nMaxIpv6Block addresses, a target of digits and
// dots that is not four numbers of 0 to 255, or more than c_nMaxTargets
// targets in all.
[[nodiscard]] bool MakeTargetList(const std::vector<std::string>& arrTargetFiles,
                                  const std::vector<std::string>& arrCommandLine,
                                  std::vector<std::string>* parrTargets, std::string* pstrWhy);

// The usage text of -h.
[[nodiscard]] std::string UsageText();

#endif  // MIBSCAN_DRIVER_OPTIONS_H_
