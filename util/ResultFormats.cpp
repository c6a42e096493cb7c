#include "util/ResultFormats.h"

#include "util/MbString.h"

const char* FormatName(uint32_t uFormat) {
  switch (uFormat) {
    case c_uFormatSnmprec:
      return "snmprec";
    case c_uFormatWalk:
      return "walk";
    default:
      return "xml";
  }
}

bool ParseFormatList(std::string_view text, uint32_t* puFormats, std::string* pstrBad) {
  uint32_t uFormats = 0;
  while (true) {
    const size_t nComma = text.find(',');
    const std::string strWord = MbTrim(text.substr(0, nComma));
    bool bKnown = false;
    for (const uint32_t uFormat : c_arrFormats) {
      if (!EqualsNoCase(strWord, FormatName(uFormat))) continue;
      uFormats |= uFormat;
      bKnown = true;
    }
    if (!bKnown) {
      *pstrBad = strWord;
      return false;
    }
    if (nComma == std::string_view::npos) break;
    text.remove_prefix(nComma + 1);
  }
  *puFormats = uFormats;
  return true;
}
