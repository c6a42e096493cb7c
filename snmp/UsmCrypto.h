// The cryptography of SNMPv3's User-based Security Model, over libgcrypt:
// keys from passwords and their localisation (RFC 3414 A.2, RFC 7860),
// the authentication codes HMAC-MD5-96, HMAC-SHA-96 (RFC 3414) and the
// SHA-2 HMACs (RFC 7860), DES-CBC (RFC 3414 8) and AES-128-CFB (RFC 3826).
//
// Thread use: every function may run on any thread at once.
#ifndef MIBSCAN_SNMP_USMCRYPTO_H_
#define MIBSCAN_SNMP_USMCRYPTO_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

enum class EAuthProtocol { None, Md5, Sha1, Sha224, Sha256, Sha384, Sha512 };
enum class EPrivProtocol { None, Des, Aes128 };

// The protocol a setting names ("MD5", "SHA", "SHA-224", ..., "DES",
// "AES"; case ignored; empty: none). False for an unknown name.
[[nodiscard]] bool ParseAuthProtocol(std::string_view strName, EAuthProtocol* pProtocol);
[[nodiscard]] bool ParsePrivProtocol(std::string_view strName, EPrivProtocol* pProtocol);

// Bytes of the protocol's digest, and of the authentication code a message
// carries (the digest truncated: 12 for MD5 and SHA-1, 16, 24, 32, 48 for
// SHA-224 to SHA-512).
[[nodiscard]] size_t AuthDigestLength(EAuthProtocol protocol);
[[nodiscard]] size_t AuthCodeLength(EAuthProtocol protocol);

// Ku: the digest of the password repeated to 1,048,576 bytes. False for an
// empty password or EAuthProtocol::None.
[[nodiscard]] bool PasswordToKey(EAuthProtocol protocol, std::string_view strPassword,
                                 std::string* pstrKey);
// Kul: the digest of Ku, the engine ID and Ku again.
[[nodiscard]] bool LocalizeKey(EAuthProtocol protocol, std::string_view strKey,
                               std::string_view strEngineId, std::string* pstrLocalKey);

// The HMAC of strData under strKey, truncated to AuthCodeLength().
[[nodiscard]] bool AuthCode(EAuthProtocol protocol, std::string_view strKey, std::string_view strData,
                            std::string* pstrCode);

// Privacy. strKey is the localised privacy key (at least 16 bytes). DES:
// the key is its first 8 bytes, the IV the next 8 XOR the 8-byte salt; the
// plain text is padded to a multiple of 8 bytes. AES-128-CFB: the key is its
// first 16 bytes, the IV engine boots, engine time and the 8-byte salt.
[[nodiscard]] bool Encrypt(EPrivProtocol protocol, std::string_view strKey, uint32_t uBoots,
                           uint32_t uTime, std::string_view strSalt, std::string_view strPlain,
                           std::string* pstrCipher);
[[nodiscard]] bool Decrypt(EPrivProtocol protocol, std::string_view strKey, uint32_t uBoots,
                           uint32_t uTime, std::string_view strSalt, std::string_view strCipher,
                           std::string* pstrPlain);

// A SHA-256 digest of data given in pieces (a file's checksum).
class CSha256 {
 public:
  CSha256();
  ~CSha256();
  CSha256(const CSha256&) = delete;
  CSha256& operator=(const CSha256&) = delete;
  void Write(std::string_view data);
  // The digest of everything written, in lower-case hexadecimal; empty
  // when the digest could not be made.
  [[nodiscard]] std::string HexDigest();
  // The same, as 32 bytes; false when it could not be made.
  [[nodiscard]] bool Digest(std::array<uint8_t, 32>* pDigest);

 private:
  void* m_pHandle = nullptr;
};

#endif  // MIBSCAN_SNMP_USMCRYPTO_H_
