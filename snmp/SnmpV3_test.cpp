#include "snmp/SnmpV3.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "snmp/UsmCrypto.h"

namespace {

TEST(SnmpV3Test, MessagesRoundTripAndTheCodeHasItsPlace) {
  CSnmpV3Message message;
  message.nMessageId = 4711;
  message.flags = SNMP_FLAG_AUTH | SNMP_FLAG_REPORTABLE;
  message.usm = {"\x80\x00\x1f\x88\x04", 3, 1234567, "shaaes", std::string(12, 'C'), ""};
  message.strContextEngineId = message.usm.strEngineId;
  message.pdu.pduType = SNMP_PDU_GETBULK;
  message.pdu.nRequestId = 4711;
  message.pdu.nErrorIndex = 10;
  message.pdu.bindings.push_back({{{1, 3, 6, 1, 2, 1, 1, 1, 0}}, AsnAny{}});
  std::string strBytes = "prefix";
  size_t nOffset = 0;
  ASSERT_TRUE(EncodeSnmpV3Message(message, &strBytes, &nOffset));
  EXPECT_EQ(strBytes.substr(nOffset, 12), std::string(12, 'C'));
  CSnmpV3Message back;
  size_t nBackOffset = 0;
  ASSERT_TRUE(DecodeSnmpV3Message(std::string_view(strBytes).substr(6), &back, &nBackOffset));
  EXPECT_EQ(back, message);
  EXPECT_EQ(nBackOffset + 6, nOffset);
  // Truncated or padded datagrams are refused.
  for (size_t n = 6; n < strBytes.size(); ++n)
    EXPECT_FALSE(DecodeSnmpV3Message(std::string_view(strBytes).substr(6, n - 6), &back, &nBackOffset)) << n;
  EXPECT_FALSE(DecodeSnmpV3Message(strBytes.substr(6) + '\0', &back, &nBackOffset));
}

// Answers recorded from snmpd (fuzz/corpus-v3) decode; those of the users
// whose passwords the recording used authenticate, and decrypt to a scoped
// PDU.
TEST(SnmpV3Test, RecordedSnmpdAnswersDecodeAuthenticateAndDecrypt) {
  struct CUser {
    EAuthProtocol auth;
    const char* szAuth;
    EPrivProtocol priv;
    const char* szPriv;
  };
  const std::map<std::string, CUser> mapUsers = {
      {"shaaes", {EAuthProtocol::Sha1, "sha-auth-pw", EPrivProtocol::Aes128, "sha-priv-pw"}},
      {"md5des", {EAuthProtocol::Md5, "md5-auth-pw", EPrivProtocol::Des, "md5-priv-pw"}},
      {"sha512aes", {EAuthProtocol::Sha512, "sha512-auth-pw", EPrivProtocol::Aes128, "sha512-priv-pw"}},
      {"authonly", {EAuthProtocol::Sha1, "authonly-pw", EPrivProtocol::None, ""}},
  };
  size_t nFiles = 0;
  size_t nAuthenticated = 0;
  size_t nDecrypted = 0;
  for (const auto& entry : std::filesystem::directory_iterator(MIBSCAN_FUZZ_CORPUS "-v3")) {
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string strBytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    SCOPED_TRACE(entry.path().filename().string());
    CSnmpV3Message message;
    size_t nOffset = 0;
    ASSERT_TRUE(DecodeSnmpV3Message(strBytes, &message, &nOffset));
    ++nFiles;
    const auto it = mapUsers.find(message.usm.strUserName);
    if (!(message.flags & SNMP_FLAG_AUTH) || it == mapUsers.end()) continue;
    const CUser& user = it->second;
    std::string strKey;
    ASSERT_TRUE(PasswordToKey(user.auth, user.szAuth, &strKey));
    ASSERT_TRUE(LocalizeKey(user.auth, strKey, message.usm.strEngineId, &strKey));
    std::string strZeroed = strBytes;
    strZeroed.replace(nOffset, message.usm.strAuthParameters.size(), message.usm.strAuthParameters.size(), '\0');
    std::string strCode;
    ASSERT_TRUE(AuthCode(user.auth, strKey, strZeroed, &strCode));
    EXPECT_EQ(strCode, message.usm.strAuthParameters);
    ++nAuthenticated;
    if (!(message.flags & SNMP_FLAG_PRIV)) continue;
    std::string strPrivKey;
    ASSERT_TRUE(PasswordToKey(user.auth, user.szPriv, &strPrivKey));
    ASSERT_TRUE(LocalizeKey(user.auth, strPrivKey, message.usm.strEngineId, &strPrivKey));
    std::string strScoped;
    ASSERT_TRUE(Decrypt(user.priv, strPrivKey, static_cast<uint32_t>(message.usm.nEngineBoots),
                        static_cast<uint32_t>(message.usm.nEngineTime), message.usm.strPrivParameters,
                        message.strEncryptedPdu, &strScoped));
    ASSERT_TRUE(DecodeScopedPdu(strScoped, &message));
    EXPECT_EQ(message.pdu.pduType, SNMP_PDU_RESPONSE);
    ++nDecrypted;
  }
  EXPECT_GE(nFiles, 10u);
  EXPECT_GE(nAuthenticated, 4u);
  EXPECT_GE(nDecrypted, 3u);
}

}  // namespace
