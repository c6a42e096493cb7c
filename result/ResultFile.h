// The result file of one target: every entry of its result map as a
// RESULT element (an empty text, then OID and VALUE) under the RESULTS
// root, in the map's own iteration order, saved as indented UTF-8 to
// "<folder>/<target><suffix>.xml", where the suffix is "_[<start OID>]"
// when a start OID was given and empty otherwise (CResultPlace).
#ifndef MIBSCAN_RESULT_RESULTFILE_H_
#define MIBSCAN_RESULT_RESULTFILE_H_

#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "util/MapStringToString.h"
#include "util/ResultFormats.h"
#include "util/TypedEntries.h"

// Where the result files of a scan go: the same for every target.
struct CResultPlace {
  std::string strDir;       // the folder
  std::string strStartOid;  // the oid form's start OID, which names the files; empty otherwise
};

// Every result document starts from this text: its root element alone.
constexpr char c_szResultTemplate[] = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<RESULTS/>";
constexpr char c_szResultRoot[] = "RESULTS";

// True when text can stand in a file name: it holds none of the
// characters \ / : * ? " < > | and no control character (multibyte-aware:
// a trail byte never counts). Such a character would put the file outside
// the base directory or make a name the operator did not ask for.
[[nodiscard]] bool IsFileNamePart(std::string_view text);

// The part of a result file's name that stands for strTarget: the target
// as typed, except that an IPv6 address has each ":" written as "-" and
// each "%" as "s" ("::1" gives "--1", "fe80::1%2" gives "fe80--1s2"), as
// Windows writes IPv6 addresses in UNC names.
[[nodiscard]] std::string FileNameOfTarget(const std::string& strTarget);

// The result file's path in *pstrPath; false, with *pstrPath unchanged,
// when the target's file name part (FileNameOfTarget) or the start OID
// cannot stand in a file name.
// szExtension names the file's format: "xml", "snmprec" or "walk".
[[nodiscard]] bool MakeResultPath(const std::string& strBaseDir, const std::string& strTarget,
                                  const std::string& strStartOid, std::string* pstrPath,
                                  const char* szExtension = "xml");

// Writes the result file of strTarget from mapResults into place, with
// keys and values read in the code set strCharset (the locale's when
// empty), and
// prints "output: <path>\n" or, when no file was written (a name that
// cannot be a file, a document that could not be built, a failed save),
// "output error\n". True when the file was written.
//
// The values of the keys in setCrTextKeys are texts whose carriage
// returns are data: they are written as "&#13;", so a parser reads back
// every byte. Other values keep their CR LF line ends as they are (the
// Base64 form).
// For a target whose walk was cut short by an interruption (szWhy
// "interrupted"), or whose walks failed before they stored anything ("no
// answer"): when its result file exists from an earlier scan, keeps it as
// it is and prints "output kept: <path> (<szWhy>)\n". False, with nothing
// printed, when there is no such file (the new one is then written as
// usual).
// szExtension: the file of that format (MakeResultPath).
bool KeepResultFile(const CResultPlace& place, const std::string& strTarget, const char* szWhy = "interrupted",
                    const char* szExtension = "xml");

// Up to nSample OIDs of the XML result file an earlier scan left for
// strTarget in place, taken evenly through it, as the texts of its OID
// elements (unchecked); empty when there is no such file. The file is in
// the map's order, which is no order of the OIDs, so the sample is spread
// over the device's MIB. At most nMaxBytes of the file are read; a file
// that is truncated, not XML or hostile gives whatever such texts it holds.
// *pnSeen (when given): how many such texts were read, sampled or not.
[[nodiscard]] std::vector<std::string> SampleEarlierOids(const CResultPlace& place, const std::string& strTarget,
                                                         size_t nSample, size_t nMaxBytes, size_t* pnSeen = nullptr);

bool WriteResultFile(const CResultPlace& place, const std::string& strTarget, const CMapStringToString& mapResults,
                     const std::unordered_set<std::string>& setCrTextKeys = {},
                     const std::string& strCharset = "");

// Writes the target's typed result files (TypedFiles.h) of uFormats
// (c_uFormatSnmprec, c_uFormatWalk; other bits are ignored) from typed
// (sorted), in one pass, and prints for each, .snmprec first, "output:
// <path>\n", or "output error\n" when it was not written. The formats
// written, as bits.
uint32_t WriteTypedResultFiles(const CResultPlace& place, const std::string& strTarget, const CTypedEntries& typed,
                               uint32_t uFormats);

#endif  // MIBSCAN_RESULT_RESULTFILE_H_
