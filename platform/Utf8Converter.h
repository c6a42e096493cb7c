// Conversion of narrow text in a code set to UTF-8 that XML accepts.
//
// Every byte sequence that is not a character of the code set, and every
// character that XML 1.0 does not allow in a document (control characters
// other than tab, line feed and carriage return; U+FFFE, U+FFFF; lone
// surrogates), becomes U+FFFD. The result is always valid UTF-8 that any XML
// parser takes, whatever bytes came in.
//
// Thread use: one converter per thread (iconv descriptors are not shared).
#ifndef MIBSCAN_PLATFORM_UTF8CONVERTER_H_
#define MIBSCAN_PLATFORM_UTF8CONVERTER_H_

#include <iconv.h>

#include <string>
#include <string_view>

class CUtf8Converter {
 public:
  // Text in the code set strCharset (a name iconv knows, such as
  // "SHIFT_JIS" or "ISO-8859-1"). An empty or unknown name means the code
  // set of the LC_CTYPE locale.
  explicit CUtf8Converter(const std::string& strCharset = std::string());
  ~CUtf8Converter();
  CUtf8Converter(const CUtf8Converter&) = delete;
  CUtf8Converter& operator=(const CUtf8Converter&) = delete;

  // The code set actually read.
  const std::string& Charset() const { return m_strCharset; }

  // text converted to UTF-8, invalid and forbidden characters as U+FFFD.
  [[nodiscard]] std::string ToUtf8(std::string_view text);

 private:
  std::string m_strCharset;
  iconv_t m_cd = reinterpret_cast<iconv_t>(-1);  // unused when the code set is UTF-8
};

#endif  // MIBSCAN_PLATFORM_UTF8CONVERTER_H_
