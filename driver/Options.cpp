#include "driver/Options.h"

#include <algorithm>
#include <fstream>
#include <string_view>

#include "driver/CommandLine.h"
#include "util/MbString.h"
#include "settings/AddressBlock.h"
#include "settings/Settings.h"
#include "util/ResultFormats.h"

namespace {

// The value of an option that takes one: "--name=VALUE", or the next
// argument. False when there is none.
bool TakeValue(std::string_view strArg, size_t nEquals, int argc, const char* const argv[], int* pnIndex,
               std::string* pstrValue) {
  if (nEquals != std::string_view::npos) {
    *pstrValue = std::string(strArg.substr(nEquals + 1));
    return true;
  }
  if (*pnIndex + 1 >= argc) return false;
  *pstrValue = argv[++*pnIndex];
  return true;
}

// Appends what one target text stands for: the addresses of a block, or
// the text itself. False, with the reason, for a text refused.
bool AppendTarget(const std::string& strText, std::vector<std::string>* parrTargets, std::string* pstrWhy) {
  if (LooksLikeAddressBlock(strText)) {
    CAddressBlock block;
    if (!ParseAddressBlock(strText, &block)) {
      *pstrWhy = "not an address block: " + strText;
      return false;
    }
    if (block.first.bIpv6 && block.nCount > c_nMaxIpv6Block) {
      *pstrWhy = "an IPv6 block of more than " + std::to_string(c_nMaxIpv6Block) + " addresses: " + strText;
      return false;
    }
    if (block.nCount > c_nMaxTargets - std::min(parrTargets->size(), c_nMaxTargets)) {
      *pstrWhy = "more than " + std::to_string(c_nMaxTargets) + " targets";
      return false;
    }
    for (uint64_t i = 0; i < block.nCount; ++i) parrTargets->push_back(FormatIpAddress(AddressInBlock(block, i)));
    return true;
  }
  // Digits and dots are an IPv4 address or nothing: the resolver would
  // read "1.5.0" as 1.5.0.0, and any other such text as a name to look up.
  CIpAddress address;
  if (!strText.empty() && strText.find_first_not_of("0123456789.") == std::string::npos &&
      !ParseIpv4(strText, &address)) {
    *pstrWhy = "not an IPv4 address (four numbers of 0 to 255): " + strText;
    return false;
  }
  if (parrTargets->size() >= c_nMaxTargets) {
    *pstrWhy = "more than " + std::to_string(c_nMaxTargets) + " targets";
    return false;
  }
  parrTargets->push_back(strText);
  return true;
}

}  // namespace

bool ParseOptions(int argc, const char* const argv[], COptions* pOptions, std::vector<std::string>* parrTargets,
                  std::string* pstrWhy) {
  int nIndex = 1;
  for (; nIndex < argc; ++nIndex) {
    const std::string_view strArg = argv[nIndex];
    if (strArg.empty() || strArg[0] != '-') break;
    if (strArg == "--") {
      ++nIndex;
      break;
    }
    const size_t nEquals = strArg.starts_with("--") ? strArg.find('=') : std::string_view::npos;
    const std::string_view strName = strArg.substr(0, nEquals);
    std::string strValue;
    const bool bTakesValue = strName == "-f" || strName == "--targets" || strName == "--oid" ||
                             strName == "--config" || strName == "-o" || strName == "--out-dir" ||
                             strName == "--format";
    if (bTakesValue) {
      if (!TakeValue(strArg, nEquals, argc, argv, &nIndex, &strValue)) {
        *pstrWhy = "option " + std::string(strName) + " needs a value";
        return false;
      }
    } else if (nEquals != std::string_view::npos) {
      *pstrWhy = "option " + std::string(strName) + " takes no value";
      return false;
    }
    if (strName == "-f" || strName == "--targets") {
      pOptions->arrTargetFiles.push_back(strValue);
    } else if (strName == "--oid") {
      pOptions->bOid = true;
      pOptions->strOid = strValue;
    } else if (strName == "--config") {
      pOptions->strConfigPath = strValue;
    } else if (strName == "-o" || strName == "--out-dir") {
      pOptions->strOutDir = strValue;
    } else if (strName == "--format") {
      std::string strBad;
      if (!ParseFormatList(strValue, &pOptions->uFormats, &strBad)) {
        *pstrWhy = "--format " + strValue + ": no format \"" + strBad + "\" (xml, snmprec, walk)";
        return false;
      }
    } else if (strName == "--progress") {
      pOptions->bProgress = true;
    } else if (strName == "--report") {
      pOptions->bReport = true;
    } else if (strName == "--strict") {
      pOptions->bStrict = true;
    } else if (strName == "-h" || strName == "--help") {
      pOptions->bHelp = true;
    } else if (strName == "--version") {
      pOptions->bVersion = true;
    } else {
      *pstrWhy = "unknown option " + std::string(strArg) + " (mibscan --help lists them)";
      return false;
    }
  }
  if (!pOptions->bOid && pOptions->arrTargetFiles.empty()) {
    // The described forms, on the arguments after the options.
    std::vector<const char*> arrArgs{argc > 0 ? argv[0] : "mibscan"};
    for (int i = nIndex; i < argc; ++i) arrArgs.push_back(argv[i]);
    ParseCommandLine(static_cast<int>(arrArgs.size()), arrArgs.data(), parrTargets);
    return true;
  }
  if (pOptions->bOid) g_strStartOid = pOptions->strOid;
  for (int i = nIndex; i < argc; ++i) parrTargets->push_back(MbTrim(argv[i]));
  return true;
}

bool MakeTargetList(const std::vector<std::string>& arrTargetFiles, const std::vector<std::string>& arrCommandLine,
                    std::vector<std::string>* parrTargets, std::string* pstrWhy) {
  for (const std::string& strFile : arrTargetFiles) {
    std::ifstream file(strFile, std::ios::binary);
    if (!file) {
      *pstrWhy = "cannot read the targets file " + strFile;
      return false;
    }
    std::string strLine;
    for (size_t nLine = 1; std::getline(file, strLine); ++nLine) {
      // A NUL would end the name where the resolver reads it: "a<NUL>b"
      // would be looked up as "a".
      if (strLine.find('\0') != std::string::npos) {
        *pstrWhy = strFile + ":" + std::to_string(nLine) + ": a target holds a NUL character";
        return false;
      }
      const std::string strTarget = MbTrim(strLine);
      if (strTarget.empty() || strTarget[0] == '#') continue;
      std::string strWhy;
      if (!AppendTarget(strTarget, parrTargets, &strWhy)) {
        *pstrWhy = strFile + ":" + std::to_string(nLine) + ": " + strWhy;
        return false;
      }
    }
    if (file.bad()) {
      *pstrWhy = "cannot read the targets file " + strFile;
      return false;
    }
  }
  for (const std::string& strTarget : arrCommandLine) {
    if (!AppendTarget(strTarget, parrTargets, pstrWhy)) return false;
  }
  return true;
}

std::string UsageText() {
  return "usage: mibscan [options] <target>\n"
         "       mibscan [options] <target> <target> ...\n"
         "       mibscan [options] oid <OID> <target>\n"
         "\n"
         "Walks the SNMP MIB of each target and writes <target>.xml for each.\n"
         "One target alone walks from the enterprises node; a list of one\n"
         "argument may be split by commas. A target is a host name, an IPv4 or\n"
         "IPv6 address, a CIDR block (192.0.2.0/28, 2001:db8::/120) or an IPv4\n"
         "range in the last octet (192.0.2.10-20).\n"
         "\n"
         "options:\n"
         "  -f FILE, --targets FILE  read targets from FILE, one per line (blank\n"
         "                           lines and lines beginning with # are skipped);\n"
         "                           walks every target from the system group\n"
         "  --oid OID                one GET of OID for every target, into\n"
         "                           <target>_[<OID>].xml\n"
         "  --config FILE            settings from FILE instead of the config.ini\n"
         "                           beside the program\n"
         "  -o DIR, --out-dir DIR    write the result files into DIR (it must exist)\n"
         "  --format LIST            the result files to write, a comma-separated\n"
         "                           list of xml (<target>.xml, the default),\n"
         "                           snmprec (<target>.snmprec, for snmpsim) and\n"
         "                           walk (<target>.walk, as snmpwalk -ObentU\n"
         "                           prints); over the Format key of config.ini\n"
         "  --progress               show progress and a summary on standard error\n"
         "                           (shown anyway when it is a terminal)\n"
         "  --report                 at the end, write the scan's record beside the\n"
         "                           result files: scan.json (every target's\n"
         "                           outcome and figures), failed.txt (the targets\n"
         "                           to try again, for -f) and scan.html\n"
         "  --strict                 exit status 0 when every target answered and\n"
         "                           its file was written, 3 when some failed, 4\n"
         "                           when none answered\n"
         "  -h, --help               show this text\n"
         "  --version                show the program's version\n"
         "  --                       end of the options\n";
}
