#include "tests/TestSupport.h"

#include "tests/Process.h"
#include "tests/UdpEndpoints.h"

#include <clocale>
#include <cstdint>
#include <string_view>
#include <fstream>
#include <sstream>

CTempDir::~CTempDir() {
  std::error_code ec;
  std::filesystem::remove_all(m_path, ec);
}

std::string CTempDir::WriteFile(const std::string& strName, const std::string& strText) const {
  const std::filesystem::path path = m_path / strName;
  std::ofstream out(path, std::ios::binary);
  out << strText;
  return path.string();
}

std::string DecodeBase64(const std::string& strText) {
  constexpr std::string_view c_strAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string strBytes;
  uint32_t uBits = 0;
  int nBits = 0;
  for (char ch : strText) {
    if (ch == '\r' || ch == '\n') continue;
    const size_t nValue = c_strAlphabet.find(ch);
    if (nValue == std::string_view::npos) break;
    uBits = (uBits << 6) | static_cast<uint32_t>(nValue);
    nBits += 6;
    if (nBits >= 8) {
      nBits -= 8;
      strBytes.push_back(static_cast<char>((uBits >> nBits) & 0xFF));
    }
  }
  return strBytes;
}

std::string SnmpsimRecording(const std::string& strName) {
  // gzip -dcf passes a file that is not gzipped as it is.
  return RunProcess("/bin/gzip", {"-dcf", "/usr/share/doc/snmpsim/examples/data/" + strName}, 60).strOutput;
}

bool HasIpv6Loopback() {
  CUdpEndpoints endpoints;
  uint16_t uPort = 0;
  return endpoints.Bind("::1", 0, &uPort) >= 0;
}

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

CScopedLocale::~CScopedLocale() { setlocale(LC_ALL, m_strPrevious.c_str()); }
