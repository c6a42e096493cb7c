#include "snmp/UsmCrypto.h"

#include <gcrypt.h>

#include <algorithm>
#include <cctype>
#include <mutex>

namespace {

void InitialiseGcrypt() {
  static std::once_flag once;
  std::call_once(once, [] {
    (void)gcry_check_version(nullptr);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
  });
}

int MdAlgorithm(EAuthProtocol protocol) {
  switch (protocol) {
    case EAuthProtocol::Md5: return GCRY_MD_MD5;
    case EAuthProtocol::Sha1: return GCRY_MD_SHA1;
    case EAuthProtocol::Sha224: return GCRY_MD_SHA224;
    case EAuthProtocol::Sha256: return GCRY_MD_SHA256;
    case EAuthProtocol::Sha384: return GCRY_MD_SHA384;
    case EAuthProtocol::Sha512: return GCRY_MD_SHA512;
    case EAuthProtocol::None: break;
  }
  return GCRY_MD_NONE;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
         });
}

// A cipher handle that closes itself.
class CCipher {
 public:
  CCipher(int nAlgorithm, int nMode) {
    InitialiseGcrypt();
    if (gcry_cipher_open(&m_handle, nAlgorithm, nMode, 0) != 0) m_handle = nullptr;
  }
  ~CCipher() {
    if (m_handle != nullptr) gcry_cipher_close(m_handle);
  }
  CCipher(const CCipher&) = delete;
  CCipher& operator=(const CCipher&) = delete;
  bool Set(std::string_view strKey, std::string_view strIv) {
    return m_handle != nullptr && gcry_cipher_setkey(m_handle, strKey.data(), strKey.size()) == 0 &&
           gcry_cipher_setiv(m_handle, strIv.data(), strIv.size()) == 0;
  }
  bool Run(bool bEncrypt, std::string* pstrData) {
    return (bEncrypt ? gcry_cipher_encrypt(m_handle, pstrData->data(), pstrData->size(), nullptr, 0)
                     : gcry_cipher_decrypt(m_handle, pstrData->data(), pstrData->size(), nullptr, 0)) == 0;
  }

 private:
  gcry_cipher_hd_t m_handle = nullptr;
};

void AppendBigEndian(std::string* pstrOut, uint32_t uValue) {
  for (int nShift = 24; nShift >= 0; nShift -= 8) pstrOut->push_back(static_cast<char>((uValue >> nShift) & 0xFF));
}

bool Crypt(bool bEncrypt, EPrivProtocol protocol, std::string_view strKey, uint32_t uBoots,
           uint32_t uTime, std::string_view strSalt, std::string_view strIn, std::string* pstrOut) {
  if (strKey.size() < 16 || strSalt.size() != 8) return false;
  std::string strData(strIn);
  if (protocol == EPrivProtocol::Des) {
    // RFC 3414 8.1.1.1: the IV is the pre-IV (bytes 8 to 15 of the key)
    // XOR the salt.
    std::string strIv(strKey.substr(8, 8));
    for (size_t i = 0; i < 8; ++i) strIv[i] = static_cast<char>(strIv[i] ^ strSalt[i]);
    if (bEncrypt) strData.resize((strData.size() + 7) / 8 * 8, '\0');
    else if (strData.size() % 8 != 0) return false;
    CCipher cipher(GCRY_CIPHER_DES, GCRY_CIPHER_MODE_CBC);
    if (!cipher.Set(strKey.substr(0, 8), strIv) || !cipher.Run(bEncrypt, &strData)) return false;
  } else if (protocol == EPrivProtocol::Aes128) {
    // RFC 3826 3.1.2.1: the IV is boots, time and the salt.
    std::string strIv;
    AppendBigEndian(&strIv, uBoots);
    AppendBigEndian(&strIv, uTime);
    strIv.append(strSalt);
    CCipher cipher(GCRY_CIPHER_AES128, GCRY_CIPHER_MODE_CFB);
    if (!cipher.Set(strKey.substr(0, 16), strIv) || !cipher.Run(bEncrypt, &strData)) return false;
  } else {
    return false;
  }
  *pstrOut = std::move(strData);
  return true;
}

}  // namespace

namespace {

// The protocol that names[] gives strName, compared without regard to case.
template <typename TProtocol, size_t N>
bool FindProtocol(const std::pair<std::string_view, TProtocol> (&names)[N], std::string_view strName,
                  TProtocol* pProtocol) {
  for (const auto& [name, protocol] : names) {
    if (EqualsIgnoringCase(strName, name)) {
      *pProtocol = protocol;
      return true;
    }
  }
  return false;
}

}  // namespace

bool ParseAuthProtocol(std::string_view strName, EAuthProtocol* pProtocol) {
  static constexpr std::pair<std::string_view, EAuthProtocol> c_names[] = {
      {"", EAuthProtocol::None},         {"MD5", EAuthProtocol::Md5},
      {"SHA", EAuthProtocol::Sha1},      {"SHA1", EAuthProtocol::Sha1},
      {"SHA-1", EAuthProtocol::Sha1},    {"SHA-224", EAuthProtocol::Sha224},
      {"SHA-256", EAuthProtocol::Sha256}, {"SHA-384", EAuthProtocol::Sha384},
      {"SHA-512", EAuthProtocol::Sha512}};
  return FindProtocol(c_names, strName, pProtocol);
}

bool ParsePrivProtocol(std::string_view strName, EPrivProtocol* pProtocol) {
  static constexpr std::pair<std::string_view, EPrivProtocol> c_names[] = {
      {"", EPrivProtocol::None}, {"DES", EPrivProtocol::Des}, {"AES", EPrivProtocol::Aes128},
      {"AES-128", EPrivProtocol::Aes128}, {"AES128", EPrivProtocol::Aes128}};
  return FindProtocol(c_names, strName, pProtocol);
}

size_t AuthDigestLength(EAuthProtocol protocol) {
  const int nAlgorithm = MdAlgorithm(protocol);
  return nAlgorithm == GCRY_MD_NONE ? 0 : gcry_md_get_algo_dlen(nAlgorithm);
}

size_t AuthCodeLength(EAuthProtocol protocol) {
  switch (protocol) {
    case EAuthProtocol::Md5:
    case EAuthProtocol::Sha1: return 12;   // RFC 3414 6.3.1, 7.3.1
    case EAuthProtocol::Sha224: return 16;  // RFC 7860 4.2.1
    case EAuthProtocol::Sha256: return 24;
    case EAuthProtocol::Sha384: return 32;
    case EAuthProtocol::Sha512: return 48;
    case EAuthProtocol::None: break;
  }
  return 0;
}

bool PasswordToKey(EAuthProtocol protocol, std::string_view strPassword, std::string* pstrKey) {
  const int nAlgorithm = MdAlgorithm(protocol);
  if (nAlgorithm == GCRY_MD_NONE || strPassword.empty()) return false;
  InitialiseGcrypt();
  gcry_md_hd_t md = nullptr;
  if (gcry_md_open(&md, nAlgorithm, 0) != 0) return false;
  // RFC 3414 A.2.1: 1 MiB of the password repeated, in 64-byte pieces.
  constexpr size_t c_nTotal = 1048576;
  char piece[64];
  size_t nIndex = 0;
  for (size_t nDone = 0; nDone < c_nTotal; nDone += sizeof piece) {
    for (char& ch : piece) ch = strPassword[nIndex++ % strPassword.size()];
    gcry_md_write(md, piece, sizeof piece);
  }
  const unsigned char* pDigest = gcry_md_read(md, nAlgorithm);
  pstrKey->assign(reinterpret_cast<const char*>(pDigest), gcry_md_get_algo_dlen(nAlgorithm));
  gcry_md_close(md);
  return true;
}

bool LocalizeKey(EAuthProtocol protocol, std::string_view strKey, std::string_view strEngineId,
                 std::string* pstrLocalKey) {
  const int nAlgorithm = MdAlgorithm(protocol);
  if (nAlgorithm == GCRY_MD_NONE) return false;
  InitialiseGcrypt();
  std::string strInput;
  strInput.append(strKey).append(strEngineId).append(strKey);
  pstrLocalKey->resize(gcry_md_get_algo_dlen(nAlgorithm));
  gcry_md_hash_buffer(nAlgorithm, pstrLocalKey->data(), strInput.data(), strInput.size());
  return true;
}

bool AuthCode(EAuthProtocol protocol, std::string_view strKey, std::string_view strData,
              std::string* pstrCode) {
  const int nAlgorithm = MdAlgorithm(protocol);
  if (nAlgorithm == GCRY_MD_NONE) return false;
  InitialiseGcrypt();
  gcry_md_hd_t md = nullptr;
  if (gcry_md_open(&md, nAlgorithm, GCRY_MD_FLAG_HMAC) != 0) return false;
  const bool bOk = gcry_md_setkey(md, strKey.data(), strKey.size()) == 0;
  if (bOk) {
    gcry_md_write(md, strData.data(), strData.size());
    pstrCode->assign(reinterpret_cast<const char*>(gcry_md_read(md, nAlgorithm)), AuthCodeLength(protocol));
  }
  gcry_md_close(md);
  return bOk;
}

bool Encrypt(EPrivProtocol protocol, std::string_view strKey, uint32_t uBoots, uint32_t uTime,
             std::string_view strSalt, std::string_view strPlain, std::string* pstrCipher) {
  return Crypt(true, protocol, strKey, uBoots, uTime, strSalt, strPlain, pstrCipher);
}

bool Decrypt(EPrivProtocol protocol, std::string_view strKey, uint32_t uBoots, uint32_t uTime,
             std::string_view strSalt, std::string_view strCipher, std::string* pstrPlain) {
  return Crypt(false, protocol, strKey, uBoots, uTime, strSalt, strCipher, pstrPlain);
}

CSha256::CSha256() {
  InitialiseGcrypt();
  gcry_md_hd_t md = nullptr;
  if (gcry_md_open(&md, GCRY_MD_SHA256, 0) == 0) m_pHandle = md;
}

CSha256::~CSha256() {
  if (m_pHandle != nullptr) gcry_md_close(static_cast<gcry_md_hd_t>(m_pHandle));
}

void CSha256::Write(std::string_view data) {
  if (m_pHandle != nullptr) gcry_md_write(static_cast<gcry_md_hd_t>(m_pHandle), data.data(), data.size());
}

std::string CSha256::HexDigest() {
  if (m_pHandle == nullptr) return {};
  const unsigned char* pDigest = gcry_md_read(static_cast<gcry_md_hd_t>(m_pHandle), GCRY_MD_SHA256);
  if (pDigest == nullptr) return {};
  static constexpr char c_szHex[] = "0123456789abcdef";
  std::string strHex;
  for (unsigned i = 0; i < gcry_md_get_algo_dlen(GCRY_MD_SHA256); ++i) {
    strHex += c_szHex[pDigest[i] >> 4];
    strHex += c_szHex[pDigest[i] & 15];
  }
  return strHex;
}

bool CSha256::Digest(std::array<uint8_t, 32>* pDigest) {
  if (m_pHandle == nullptr) return false;
  const unsigned char* pBytes = gcry_md_read(static_cast<gcry_md_hd_t>(m_pHandle), GCRY_MD_SHA256);
  if (pBytes == nullptr) return false;
  std::copy(pBytes, pBytes + pDigest->size(), pDigest->begin());
  return true;
}
