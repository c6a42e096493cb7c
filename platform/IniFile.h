// Read-only access to an INI file, with the outcomes of the Windows profile
// functions the program was written against. On Windows it is those
// functions (GetPrivateProfileIntA, GetPrivateProfileStringA:
// IniFile_win32.cpp); on Linux a SimpleIni parser that behaves like them
// (IniFile_posix.cpp).
//
// Section and key names compare without regard to case. A missing file,
// section or key gives the caller's default. When a key appears twice in a
// section the first one counts. Values have their surrounding blanks removed
// and, when they are wrapped in a matching pair of double or single quotes,
// the quotes too. Lines have no length limit. Nothing is ever written back.
#ifndef MIBSCAN_PLATFORM_INIFILE_H_
#define MIBSCAN_PLATFORM_INIFILE_H_

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The parser behind the class; only the system's IniFile_*.cpp sees it.
struct SIniParser;

class CIniFile {
 public:
  CIniFile();
  ~CIniFile();
  CIniFile(const CIniFile&) = delete;
  CIniFile& operator=(const CIniFile&) = delete;

  // Reads the file at strPath. False when it cannot be read or parsed; the
  // object then answers every lookup with the default.
  [[nodiscard]] bool Load(const std::string& strPath);

  // The integer value of the key, read as ParseProfileInt does; nDefault
  // when the key is missing or its value is empty.
  [[nodiscard]] int GetInt(const char* szSection, const char* szKey, int nDefault) const;

  // The text of the key, or strDefault when the key is missing. A present
  // but empty key gives the empty string. The result is cut to at most
  // nMaxBytes bytes, on a character boundary.
  [[nodiscard]] std::string GetString(const char* szSection, const char* szKey,
                                      const std::string& strDefault, size_t nMaxBytes) const;

  // True when the section sets the key, also to an empty value.
  [[nodiscard]] bool HasKey(const char* szSection, const char* szKey) const;

  // The names of the file's sections, in file order, each once.
  [[nodiscard]] std::vector<std::string> SectionNames() const;

  // The names of the keys a section sets, in file order, each once.
  [[nodiscard]] std::vector<std::string> KeyNames(const char* szSection) const;

 private:
  // The value as stored (first occurrence), or nullptr when missing.
  const char* Find(const char* szSection, const char* szKey) const;

  std::unique_ptr<SIniParser> m_pParser;
};

// An integer read the way GetPrivateProfileIntA reads one: after optional
// leading blanks, an optional sign and the digits that follow, decimal or,
// after "0x", "0o" or "0b" (lower case), hexadecimal, octal or binary;
// reading stops at the first other character, so "12abc" is 12, "abc" is 0
// and "0x10" is 16. Digits past the range of 32 bits wrap around, as on
// Windows. An empty text gives nDefault.
[[nodiscard]] int ParseProfileInt(std::string_view strValue, int nDefault);

#endif  // MIBSCAN_PLATFORM_INIFILE_H_
