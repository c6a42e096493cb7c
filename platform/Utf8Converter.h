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
// The conversion itself is the system's: iconv on Linux
// (Utf8Converter_posix.cpp), MultiByteToWideChar and WideCharToMultiByte
// on Windows (Utf8Converter_win32.cpp).
//
// Thread use: one converter per thread (iconv descriptors are not shared).
#ifndef MIBSCAN_PLATFORM_UTF8CONVERTER_H_
#define MIBSCAN_PLATFORM_UTF8CONVERTER_H_

#include <cstdint>
#include <string>
#include <string_view>

class CUtf8Converter {
 public:
  // Text in the code set strCharset: on Linux a name iconv knows, such as
  // "SHIFT_JIS" or "ISO-8859-1"; on Windows a code page number ("932") or
  // a common name of one ("SHIFT_JIS", "ISO-8859-1", "CP1252"). An empty or
  // unknown name means the code set of the LC_CTYPE locale (Windows: the
  // ANSI code page).
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
  // The system's part. Open() sets m_strCharset and m_uConverter;
  // Convert() turns text of the code set into UTF-8, false at the first
  // byte that is not a character when bStrict, each such byte as U+FFFD
  // otherwise; ConvertiblePrefix() is the length of the longest start of
  // text, at most nMaxBytes long, that converts whole.
  void Open(const std::string& strCharset);
  void Close();
  bool Convert(std::string_view text, bool bStrict, std::string* pOut);
  size_t ConvertiblePrefix(std::string_view text, size_t nMaxBytes);

  std::string m_strCharset;
  // The iconv descriptor (Linux) or the code page (Windows); 0 when the
  // code set is UTF-8, which needs checking only.
  uintptr_t m_uConverter = 0;
};

#endif  // MIBSCAN_PLATFORM_UTF8CONVERTER_H_
