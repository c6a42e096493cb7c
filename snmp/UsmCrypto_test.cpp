#include "snmp/UsmCrypto.h"

#include <gtest/gtest.h>

namespace {

std::string Hex(std::string_view strHex) {
  std::string strBytes;
  for (size_t i = 0; i + 1 < strHex.size(); i += 2)
    strBytes.push_back(static_cast<char>(std::stoi(std::string(strHex.substr(i, 2)), nullptr, 16)));
  return strBytes;
}

// RFC 3414 A.3.1 and A.3.2 (MD5, SHA-1); the SHA-2 keys by the same
// algorithm (RFC 7860 4.2.2), as computed independently.
TEST(UsmCryptoTest, KeysFromPasswordsAndTheirLocalisation) {
  const std::string strEngineId = Hex("000000000000000000000002");
  struct {
    EAuthProtocol protocol;
    const char* szKu;
    const char* szKul;
  } const rows[] = {
      {EAuthProtocol::Md5, "9faf3283884e92834ebc9847d8edd963", "526f5eed9fcce26f8964c2930787d82b"},
      {EAuthProtocol::Sha1, "9fb5cc0381497b3793528939ff788d5d79145211",
       "6695febc9288e36282235fc7151f128497b38f3f"},
      {EAuthProtocol::Sha224, "282a5867ee9aac639ad59df9572c7d3ac0fbc13a905b6df07dbbf00b",
       "0bd8827c6e29f8065e08e09237f177e410f69b90e1782be682075674"},
      {EAuthProtocol::Sha256, "ab51014d1e077f6017df2b12bee5f5aa72993177e9bb569c4dff5a4ca0b4afac",
       "8982e0e549e866db361a6b625d84cccc11162d453ee8ce3a6445c2d6776f0f8b"},
      {EAuthProtocol::Sha512,
       "7e4396de5aadc77be853819b98c9406265b3a9c37cc3176569847a4e4f6fba63dd3a73d04924d31a63f95a601f9385af6be4ed1b37f87d040f7c6ed6f8d38a91",
       "22a5a36cedfcc085807a128d7bc6c2382167ad6c0dbc5fdff856740f3d84c099ad1ea87a8db096714d9788bd544047c9021e4229ce27e4c0a69250adfcffbb0b"},
  };
  for (const auto& row : rows) {
    std::string strKu;
    std::string strKul;
    ASSERT_TRUE(PasswordToKey(row.protocol, "maplesyrup", &strKu));
    EXPECT_EQ(strKu, Hex(row.szKu)) << row.szKu;
    ASSERT_TRUE(LocalizeKey(row.protocol, strKu, strEngineId, &strKul));
    EXPECT_EQ(strKul, Hex(row.szKul)) << row.szKul;
  }
  std::string strKey;
  EXPECT_FALSE(PasswordToKey(EAuthProtocol::Md5, "", &strKey));
  EXPECT_FALSE(PasswordToKey(EAuthProtocol::None, "maplesyrup", &strKey));
}

// RFC 2104, RFC 2202 and RFC 4231 test case 1, truncated as USM truncates.
TEST(UsmCryptoTest, AuthenticationCodesAreTruncatedHmacs) {
  struct {
    EAuthProtocol protocol;
    size_t nKeyBytes;
    const char* szHmac;
    size_t nCodeBytes;
  } const rows[] = {
      {EAuthProtocol::Md5, 16, "9294727a3638bb1c13f48ef8158bfc9d", 12},
      {EAuthProtocol::Sha1, 20, "b617318655057264e28bc0b6fb378c8ef146be00", 12},
      {EAuthProtocol::Sha224, 20, "896fb1128abbdf196832107cd49df33f47b4b1169912ba4f53684b22", 16},
      {EAuthProtocol::Sha256, 20, "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7", 24},
      {EAuthProtocol::Sha384, 20,
       "afd03944d84895626b0825f4ab46907f15f9dadbe4101ec682aa034c7cebc59cfaea9ea9076ede7f4af152e8b2fa9cb6", 32},
      {EAuthProtocol::Sha512, 20,
       "87aa7cdea5ef619d4ff0b4241a1d6cb02379f4e2ce4ec2787ad0b30545e17cdedaa833b7d6b8a702038b274eaea3f4e4be9d914eeb61f1702e696c203a126854",
       48},
  };
  for (const auto& row : rows) {
    std::string strCode;
    ASSERT_TRUE(AuthCode(row.protocol, std::string(row.nKeyBytes, '\x0b'), "Hi There", &strCode));
    EXPECT_EQ(AuthCodeLength(row.protocol), row.nCodeBytes);
    EXPECT_EQ(strCode, Hex(row.szHmac).substr(0, row.nCodeBytes)) << row.szHmac;
  }
}

// DES-CBC: FIPS 81's example; AES-128-CFB: NIST SP 800-38A F.3.13. The IVs
// are built as USM builds them.
TEST(UsmCryptoTest, CiphersMatchTheirStandardVectors) {
  // DES: key bytes 0-7, pre-IV bytes 8-15; a zero salt leaves the pre-IV.
  const std::string strDesKey = Hex("0123456789abcdef1234567890abcdef");
  std::string strCipher;
  ASSERT_TRUE(Encrypt(EPrivProtocol::Des, strDesKey, 0, 0, std::string(8, '\0'), "Now is the time for all ",
                      &strCipher));
  EXPECT_EQ(strCipher, Hex("e5c7cdde872bf27c43e934008c389c0f683788499a7c05f6"));
  std::string strPlain;
  ASSERT_TRUE(Decrypt(EPrivProtocol::Des, strDesKey, 0, 0, std::string(8, '\0'), strCipher, &strPlain));
  EXPECT_EQ(strPlain, "Now is the time for all ");
  ASSERT_TRUE(Encrypt(EPrivProtocol::Des, strDesKey, 0, 0, std::string(8, '\0'), "short", &strCipher));
  EXPECT_EQ(strCipher.size(), 8u) << "padded to the block";
  EXPECT_FALSE(Decrypt(EPrivProtocol::Des, strDesKey, 0, 0, std::string(8, '\0'), "12345", &strPlain));

  // AES: IV = boots 0x00010203, time 0x04050607, salt 08..0f.
  const std::string strAesKey = Hex("2b7e151628aed2a6abf7158809cf4f3c");
  const std::string strSalt = Hex("08090a0b0c0d0e0f");
  ASSERT_TRUE(Encrypt(EPrivProtocol::Aes128, strAesKey, 0x00010203, 0x04050607, strSalt,
                      Hex("6bc1bee22e409f96e93d7e117393172a"), &strCipher));
  EXPECT_EQ(strCipher, Hex("3b3fd92eb72dad20333449f8e83cfb4a"));
  ASSERT_TRUE(Decrypt(EPrivProtocol::Aes128, strAesKey, 0x00010203, 0x04050607, strSalt, strCipher, &strPlain));
  EXPECT_EQ(strPlain, Hex("6bc1bee22e409f96e93d7e117393172a"));
}

TEST(UsmCryptoTest, ProtocolNames) {
  EAuthProtocol auth{};
  EXPECT_TRUE(ParseAuthProtocol("sha-256", &auth));
  EXPECT_EQ(auth, EAuthProtocol::Sha256);
  EXPECT_TRUE(ParseAuthProtocol("", &auth));
  EXPECT_EQ(auth, EAuthProtocol::None);
  EXPECT_FALSE(ParseAuthProtocol("SHA-3", &auth));
  EPrivProtocol priv{};
  EXPECT_TRUE(ParsePrivProtocol("aes", &priv));
  EXPECT_EQ(priv, EPrivProtocol::Aes128);
  EXPECT_FALSE(ParsePrivProtocol("3DES", &priv));
}

}  // namespace

TEST(UsmCryptoTest, Sha256OfPiecesIsTheDigestOfTheWhole) {
  // FIPS 180-2's two-block example, written in uneven pieces.
  CSha256 digest;
  digest.Write("abcdbcdecdefdefgefghfghighijhijk");
  digest.Write("");
  digest.Write("ijkljklmklmnlmnomnopnopq");
  EXPECT_EQ("248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1", digest.HexDigest());
  EXPECT_EQ("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", CSha256().HexDigest());
}
