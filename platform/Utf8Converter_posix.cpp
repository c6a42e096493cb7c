#include "platform/Utf8Converter.h"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>

namespace {

constexpr char c_szReplacement[] = "\xEF\xBF\xBD";  // U+FFFD
const iconv_t c_invalidCd = reinterpret_cast<iconv_t>(-1);

bool IsUtf8Name(std::string_view strName) {
  return strName == "UTF-8" || strName == "utf-8" || strName == "UTF8" || strName == "utf8";
}

// The names glibc gives the code set of the C and POSIX locales.
bool IsAsciiName(std::string_view strName) {
  return strName == "ANSI_X3.4-1968" || strName == "ASCII" || strName == "US-ASCII";
}

iconv_t Cd(uintptr_t uConverter) { return reinterpret_cast<iconv_t>(uConverter); }

}  // namespace

void CUtf8Converter::Open(const std::string& strCharset) {
  iconv_t cd = c_invalidCd;
  if (!strCharset.empty()) {
    cd = iconv_open("UTF-8", strCharset.c_str());
    if (cd != c_invalidCd) m_strCharset = strCharset;
  }
  if (m_strCharset.empty()) {
    m_strCharset = nl_langinfo(CODESET);
    if (IsAsciiName(m_strCharset)) m_strCharset = "UTF-8";
    if (!IsUtf8Name(m_strCharset)) cd = iconv_open("UTF-8", m_strCharset.c_str());
  }
  // Text that is UTF-8 already only needs checking, not iconv. A code set
  // iconv does not know is read as UTF-8 as well.
  if (IsUtf8Name(m_strCharset) && cd != c_invalidCd) {
    iconv_close(cd);
    cd = c_invalidCd;
  }
  m_uConverter = cd == c_invalidCd ? 0 : reinterpret_cast<uintptr_t>(cd);
}

void CUtf8Converter::Close() {
  if (m_uConverter != 0) iconv_close(Cd(m_uConverter));
  m_uConverter = 0;
}

bool CUtf8Converter::Convert(std::string_view text, bool bStrict, std::string* pOut) {
  const iconv_t cd = Cd(m_uConverter);
  std::string& strOut = *pOut;
  strOut.assign(text.size() * 4 + 16, '\0');
  char* pIn = const_cast<char*>(text.data());
  size_t nInLeft = text.size();
  size_t nDone = 0;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);  // initial shift state
  while (nInLeft > 0) {
    char* pOutPos = strOut.data() + nDone;
    size_t nOutLeft = strOut.size() - nDone;
    const size_t nResult = iconv(cd, &pIn, &nInLeft, &pOutPos, &nOutLeft);
    nDone = strOut.size() - nOutLeft;
    if (nResult != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) {
      strOut.resize(strOut.size() * 2);
      continue;
    }
    // EILSEQ (not a character) or EINVAL (cut off at the end).
    if (bStrict) return false;
    // One byte becomes U+FFFD and the conversion goes on after it.
    if (strOut.size() - nDone < sizeof c_szReplacement) strOut.resize(strOut.size() * 2);
    strOut.replace(nDone, sizeof c_szReplacement - 1, c_szReplacement);
    nDone += sizeof c_szReplacement - 1;
    ++pIn;
    --nInLeft;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  // Close a stateful code set's shift sequence.
  while (true) {
    char* pOutPos = strOut.data() + nDone;
    size_t nOutLeft = strOut.size() - nDone;
    if (iconv(cd, nullptr, nullptr, &pOutPos, &nOutLeft) != static_cast<size_t>(-1) || errno != E2BIG) {
      nDone = strOut.size() - nOutLeft;
      break;
    }
    strOut.resize(strOut.size() * 2);
  }
  strOut.resize(nDone);
  return true;
}

size_t CUtf8Converter::ConvertiblePrefix(std::string_view text, size_t nMaxBytes) {
  // iconv stops before a character that the cut left incomplete.
  const iconv_t cd = Cd(m_uConverter);
  std::string strOut(nMaxBytes * 4 + 16, '\0');
  char* pIn = const_cast<char*>(text.data());
  size_t nInLeft = nMaxBytes;
  char* pOut = strOut.data();
  size_t nOutLeft = strOut.size();
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  (void)iconv(cd, &pIn, &nInLeft, &pOut, &nOutLeft);
  return static_cast<size_t>(pIn - text.data());
}
