// Conversion of narrow text in a code set to UTF-8 that XML accepts.
//
// IsValidText() tells whether text converts whole: every byte sequence is
// a character of the code set, and every character is one that XML 1.0
// allows in a document (not a control character other than tab, line feed
// and carriage return; not U+FFFE, U+FFFF or a lone surrogate). Values
// that fail it are kept as Base64 by the walk, so ToUtf8() normally meets
// valid text only; whatever else reaches it still becomes U+FFFD, so the
// result is always valid UTF-8 that any XML parser takes.
//
// The plain ASCII code set of the C/POSIX locale is read as UTF-8: agents
// send UTF-8 far more often than they send ASCII alone.
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

  // True when text is characters of the code set only, each one allowed
  // in an XML document.
  [[nodiscard]] bool IsValidText(std::string_view text);

  // The length of the longest start of text, at most nMaxBytes long, that
  // ends between two characters (text is taken to be valid).
  [[nodiscard]] size_t CharBoundary(std::string_view text, size_t nMaxBytes);

 private:
  std::string m_strCharset;
  iconv_t m_cd = reinterpret_cast<iconv_t>(-1);  // unused when the code set is UTF-8
};

#endif  // MIBSCAN_PLATFORM_UTF8CONVERTER_H_
