// Helpers shared by the tests: a scratch directory and a scoped locale.
#ifndef MIBSCAN_TESTS_TESTSUPPORT_H_
#define MIBSCAN_TESTS_TESTSUPPORT_H_

#include <cstdint>
#include <filesystem>
#include <string>

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
class CTempDir {
 public:
  CTempDir();
  ~CTempDir();
  CTempDir(const CTempDir&) = delete;
  CTempDir& operator=(const CTempDir&) = delete;

  const std::filesystem::path& Path() const { return m_path; }
  // Writes strText to the file strName inside the directory; returns its path.
  std::string WriteFile(const std::string& strName, const std::string& strText) const;

 private:
  std::filesystem::path m_path;
};

// A tmpfs of nBytes mounted on a fresh directory, for tests of a full
// disk; unmounted when the object goes. Mounting needs root: IsMounted()
// tells whether it worked (tests skip themselves otherwise).
class CSmallTmpfs {
 public:
  explicit CSmallTmpfs(size_t nBytes);
  ~CSmallTmpfs();
  CSmallTmpfs(const CSmallTmpfs&) = delete;
  CSmallTmpfs& operator=(const CSmallTmpfs&) = delete;

  bool IsMounted() const { return m_bMounted; }
  const std::filesystem::path& Path() const { return m_dir.Path(); }

 private:
  CTempDir m_dir;
  bool m_bMounted = false;
};

// Holds the lock that a writer of result files in another process holds on
// strPath while it writes (flock on Linux, LockFileEx on Windows), until
// the object goes. IsHeld() tells whether it was taken.
class CForeignWriterLock {
 public:
  explicit CForeignWriterLock(const std::string& strPath);
  ~CForeignWriterLock();
  CForeignWriterLock(const CForeignWriterLock&) = delete;
  CForeignWriterLock& operator=(const CForeignWriterLock&) = delete;

  bool IsHeld() const { return m_bHeld; }

 private:
  intptr_t m_hFile = -1;
  bool m_bHeld = false;
};

// Sets the environment variable szName to szValue, or removes it when
// szValue is nullptr.
void SetEnvironment(const char* szName, const char* szValue);

// True in the Windows build (the tests then run under wine).
extern const bool c_bWindows;

// True in a build with AddressSanitizer or ThreadSanitizer, whose runtime
// needs room (shadow memory, threads of its own) and time of its own.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool c_bSanitizer = true;
#else
inline constexpr bool c_bSanitizer = false;
#endif

// True when the tests run as the super-user (root; never on Windows).
[[nodiscard]] bool IsSuperUser();

// True when a UDP socket can be bound to ::1 (a machine with IPv6
// switched off has no IPv6 loopback).
[[nodiscard]] bool HasIpv6Loopback();

// The bytes of Base64 text (line breaks ignored; decoding stops at "=" or
// any other character outside the alphabet).
std::string DecodeBase64(const std::string& strText);

// The records (.snmprec) of one of the devices that Debian's snmpsim
// package ships as examples, strName relative to its data folder
// ("recorded/linux-full-walk.snmprec.gz"; gzipped or not); empty without
// snmpsim.
std::string SnmpsimRecording(const std::string& strName);
// The Linux host's full walk (about 1,000 objects).
inline std::string RecordedLinuxWalk() { return SnmpsimRecording("recorded/linux-full-walk.snmprec.gz"); }
// A 16-port switch (51,008 objects).
inline std::string RecordedSwitch() { return SnmpsimRecording("cisco_16_switch.snmprec.gz"); }

// The whole content of a file; empty when it cannot be read.
std::string ReadAll(const std::filesystem::path& path);

// Switches LC_ALL to a locale for the life of the object and restores the
// previous one after. Tests built with the project find the Shift_JIS test
// locale "ja_JP.SJIS" in the build tree; IsActive() tells whether it loaded.
class CScopedLocale {
 public:
  explicit CScopedLocale(const char* szName);
  ~CScopedLocale();
  CScopedLocale(const CScopedLocale&) = delete;
  CScopedLocale& operator=(const CScopedLocale&) = delete;

  bool IsActive() const { return m_bActive; }

 private:
  std::string m_strPrevious;
  bool m_bActive = false;
};

#endif  // MIBSCAN_TESTS_TESTSUPPORT_H_
