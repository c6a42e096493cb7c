#include "snmp/Ber.h"
#include "snmp/AsnValues_test.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

// Bytes from hex text; blanks are ignored.
std::string Hex(std::string_view strHex) {
  std::string strBytes;
  int nHigh = -1;
  for (char ch : strHex) {
    if (ch == ' ') continue;
    const int nDigit = (ch >= '0' && ch <= '9') ? ch - '0' : (ch | 0x20) - 'a' + 10;
    if (nHigh < 0) {
      nHigh = nDigit;
    } else {
      strBytes.push_back(static_cast<char>(nHigh * 16 + nDigit));
      nHigh = -1;
    }
  }
  return strBytes;
}

// A tag-length-value element, built here rather than by the encoder under
// test; lengths below 128 in short form, others as 0x82 and two bytes.
std::string Tlv(uint8_t tag, const std::string& strContents) {
  std::string strOut(1, static_cast<char>(tag));
  if (strContents.size() < 128) {
    strOut.push_back(static_cast<char>(strContents.size()));
  } else {
    strOut += static_cast<char>(0x82);
    strOut += static_cast<char>(strContents.size() >> 8);
    strOut += static_cast<char>(strContents.size() & 0xFF);
  }
  return strOut + strContents;
}

// A GetResponse (community "public", request-id 7) whose one binding,
// 1.3.6.1.2.1.1.1.0, has the value element given.
std::string ResponseWithValue(const std::string& strValueTlv) {
  const std::string strBinding = Tlv(0x30, Hex("06 08 2b 06 01 02 01 01 01 00") + strValueTlv);
  const std::string strPdu = Hex("02 01 07 02 01 00 02 01 00") + Tlv(0x30, strBinding);
  return Tlv(0x30, Hex("02 01 00") + Tlv(0x04, "public") + Tlv(0xA2, strPdu));
}

TEST(BerTest, EncodesAGetRequestByteForByte) {
  CSnmpMessage message;
  message.strCommunity = "public";
  message.nRequestId = 1;
  message.bindings.push_back({{{1, 3, 6, 1, 2, 1, 1, 1, 0}}, AsnAny{}});
  std::string strBytes;
  ASSERT_TRUE(EncodeSnmpMessage(message, &strBytes));
  EXPECT_EQ(strBytes, Hex("30 26 02 01 00 04 06 70 75 62 6c 69 63 a0 19 02 01 01 02 01 00 02 01 00"
                          "30 0e 30 0c 06 08 2b 06 01 02 01 01 01 00 05 00"));
}

TEST(BerTest, DecodesEveryValueType) {
  struct {
    const char* szValueHex;
    AsnAny expected;
    const char* szReason;
  } const rows[] = {
      {"02 01 fb", Int(-5), "negative INTEGER"},
      {"02 04 7f ff ff ff", Int(2147483647), "largest INTEGER"},
      {"02 04 80 00 00 00", Int(-2147483647 - 1), "smallest INTEGER"},
      {"02 02 00 80", Int(128), "INTEGER with its sign byte"},
      {"41 05 00 ff ff ff ff", Unsigned(0x41, 4294967295u), "Counter32 max"},
      {"41 04 ff ff ff ff", Unsigned(0x41, 4294967295u), "Counter32 sent unsigned"},
      {"42 01 00", Unsigned(0x42, 0), "Gauge32 zero"},
      {"43 03 09 bd 1f", Unsigned(0x43, 638239), "TimeTicks"},
      {"47 05 00 ff ff ff ff", Unsigned(0x47, 4294967295u), "UInteger32 max"},
      {"46 09 00 ff ff ff ff ff ff ff ff", Counter64(~0ull), "Counter64 max"},
      {"06 08 2b 06 01 8f ff ff ff 7f", Oid({1, 3, 6, 1, 4294967295u}),
       "OID with the largest sub-identifier"},
      {"06 01 00", Oid({0, 0}), "zeroDotZero"},
      {"06 02 88 37", Oid({2, 999}), "first arc 2, second above 39"},
      {"04 00", Bytes(0x04, ""), "empty OCTET STRING"},
      {"04 03 61 00 62", Bytes(0x04, std::string("a\0b", 3)), "bytes kept"},
      {"40 04 c0 a8 00 01", Bytes(0x40, Hex("c0 a8 00 01")), "IpAddress"},
      {"44 02 9f 78", Bytes(0x44, Hex("9f 78")), "Opaque kept raw"},
      {"03 02 00 ff", Bytes(0x03, Hex("00 ff")), "BIT STRING kept raw"},
      {"05 00", Bytes(0x05, ""), "NULL"},
      {"80 00", Bytes(0x80, ""), "noSuchObject"},
      {"82 00", Bytes(0x82, ""), "endOfMibView"},
      {"48 01 07", Bytes(0x48, Hex("07")), "unknown tag kept raw"},
      // Forms longer than needed, as some agents' encoders send them.
      {"02 05 00 7f ff ff ff", Int(2147483647), "INTEGER with a redundant 0x00"},
      {"02 05 ff 80 00 00 00", Int(-2147483647 - 1), "INTEGER with a redundant 0xFF"},
      {"02 05 ff ff ff ff ff", Int(-1), "-1 in five bytes"},
      {"02 03 00 00 05", Int(5), "5 in three bytes"},
      {"41 05 00 00 00 00 05", Unsigned(0x41, 5), "Counter32 5 in five bytes"},
      {"43 04 80 00 00 00", Unsigned(0x43, 2147483648u), "TimeTicks sent unsigned"},
      {"46 09 00 00 00 00 00 00 00 00 2a", Counter64(42), "Counter64 42 in nine bytes"},
      {"46 08 ff ff ff ff ff ff ff ff", Counter64(~0ull), "Counter64 sent unsigned"},
      {"06 09 2b 06 01 80 8f ff ff ff 7f", Oid({1, 3, 6, 1, 4294967295u}),
       "sub-identifier padded with 0x80"},
      {"04 84 00 00 00 02 68 69", Bytes(0x04, "hi"), "four length bytes for a short length"},
      {"04 86 00 00 00 00 00 02 68 69", Bytes(0x04, "hi"), "six length bytes, leading zeros"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.szReason);
    CSnmpMessage message;
    ASSERT_TRUE(DecodeSnmpMessage(ResponseWithValue(Hex(row.szValueHex)), &message));
    ASSERT_EQ(message.bindings.size(), 1u);
    EXPECT_EQ(message.bindings[0].value, row.expected);
    // What decodes encodes back to a message that decodes the same.
    std::string strAgain;
    ASSERT_TRUE(EncodeSnmpMessage(message, &strAgain));
    CSnmpMessage again;
    ASSERT_TRUE(DecodeSnmpMessage(strAgain, &again));
    EXPECT_EQ(again, message);
  }
}

TEST(BerTest, DecodesTheMessageFields) {
  CSnmpMessage message;
  ASSERT_TRUE(DecodeSnmpMessage(ResponseWithValue(Hex("05 00")), &message));
  EXPECT_EQ(message.nVersion, 0);
  EXPECT_EQ(message.strCommunity, "public");
  EXPECT_EQ(message.pduType, SNMP_PDU_RESPONSE);
  EXPECT_EQ(message.nRequestId, 7);
  EXPECT_EQ(message.bindings[0].name.ids, (std::vector<uint32_t>{1, 3, 6, 1, 2, 1, 1, 1, 0}));
}

TEST(BerTest, AcceptsLongFormLengths) {
  const std::string strLong(300, 'x');
  CSnmpMessage message;
  ASSERT_TRUE(DecodeSnmpMessage(ResponseWithValue(Tlv(0x04, strLong)), &message));
  EXPECT_EQ(message.bindings[0].value.strBytes, strLong);
  // Non-minimal long form of a short length: 0x81 0x05.
  ASSERT_TRUE(DecodeSnmpMessage(ResponseWithValue(Hex("04 81 05 68 65 6c 6c 6f")), &message));
  EXPECT_EQ(message.bindings[0].value.strBytes, "hello");
}

TEST(BerTest, KeepsAnUnreadableValueAsAMalformedBinding) {
  struct {
    const char* szValueHex;
    const char* szReason;
  } const rows[] = {
      {"02 00", "INTEGER without contents"},
      {"02 05 01 00 00 00 00", "INTEGER past 32 bits"},
      {"02 06 00 00 00 00 00 05", "INTEGER of six bytes"},
      {"41 05 01 00 00 00 00", "Counter32 past 32 bits"},
      {"41 05 ff ff ff ff ff", "Counter32 with a leading 0xFF"},
      {"41 06 00 00 ff ff ff ff", "Counter32 of six bytes"},
      {"46 0a 00 01 00 00 00 00 00 00 00 00", "Counter64 past 64 bits"},
      {"46 00", "Counter64 without contents"},
      {"06 00", "empty OID"},
      {"06 08 2b 06 01 90 80 80 80 00", "sub-identifier of 2^32"},
      {"06 03 2b 06 81", "sub-identifier without its last byte"},
      {"05 01 00", "NULL with contents"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.szReason);
    const std::string strValue = Hex(row.szValueHex);
    // A second, sound binding after the bad one is kept as well.
    const std::string strBindings =
        Tlv(0x30, Hex("06 08 2b 06 01 02 01 01 01 00") + strValue) +
        Tlv(0x30, Hex("06 08 2b 06 01 02 01 01 03 00 43 01 07"));
    const std::string strDatagram =
        Tlv(0x30, Hex("02 01 00") + Tlv(0x04, "public") +
                      Tlv(0xA2, Hex("02 01 07 02 01 00 02 01 00") + Tlv(0x30, strBindings)));
    CSnmpMessage message;
    ASSERT_TRUE(DecodeSnmpMessage(strDatagram, &message));
    ASSERT_EQ(message.bindings.size(), 2u);
    const AsnAny& bad = message.bindings[0].value;
    EXPECT_TRUE(bad.bMalformed);
    EXPECT_EQ(bad.asnType, static_cast<uint8_t>(strValue[0]));
    EXPECT_EQ(bad.strBytes, strValue.substr(2));
    EXPECT_EQ(message.bindings[0].name.ids, (std::vector<uint32_t>{1, 3, 6, 1, 2, 1, 1, 1, 0}));
    EXPECT_EQ(message.bindings[1].value, Unsigned(0x43, 7));
    // Written back as it came, so it reads back the same.
    std::string strAgain;
    ASSERT_TRUE(EncodeSnmpMessage(message, &strAgain));
    EXPECT_EQ(strAgain, strDatagram);
  }
}

TEST(BerTest, RefusesBrokenFraming) {
  struct {
    const char* szValueHex;
    const char* szReason;
  } const rows[] = {
      {"04 80 00 00", "indefinite length"},
      {"04 ff 00", "reserved length form"},
      {"04 84 00 01 00 00 61", "long-form length past the datagram"},
      {"04 05 61 62", "length past the binding"},
      {"1f 01 00", "high-tag-number form"},
      {"", "binding without a value"},
      {"05 00 05 00", "binding with two values"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.szReason);
    CSnmpMessage message;
    EXPECT_FALSE(DecodeSnmpMessage(ResponseWithValue(Hex(row.szValueHex)), &message));
  }
  // The message's own numbers are needed whole: a request-id of six bytes
  // spoils the answer.
  const std::string strPdu = Hex("02 06 00 00 00 00 00 07 02 01 00 02 01 00 30 00");
  CSnmpMessage message;
  EXPECT_FALSE(DecodeSnmpMessage(Tlv(0x30, Hex("02 01 00") + Tlv(0x04, "public") + Tlv(0xA2, strPdu)),
                                 &message));
}

TEST(BerTest, ReadsNonMinimalMessageFields) {
  // Version, request-id, error fields in five bytes, every length long-form.
  const std::string strPdu = Hex("02 85 00 00 00 00 05 ff ff ff ff f9  02 05 00 00 00 00 02"
                                 "02 05 00 00 00 00 01  30 81 00");
  const std::string strDatagram = Hex("30 84 00 00 00 31  02 05 00 00 00 00 00  04 81 06") +
                                  "public" + Hex("a2 82 00 1d") + strPdu;
  CSnmpMessage message;
  ASSERT_TRUE(DecodeSnmpMessage(strDatagram, &message));
  EXPECT_EQ(message.nVersion, 0);
  EXPECT_EQ(message.nRequestId, -7);
  EXPECT_EQ(message.nErrorStatus, 2);
  EXPECT_EQ(message.nErrorIndex, 1);
  EXPECT_EQ(message.strCommunity, "public");
}

TEST(BerTest, RefusesEveryTruncationAndTrailingBytes) {
  const std::string strGood = ResponseWithValue(Hex("04 05 68 65 6c 6c 6f"));
  CSnmpMessage message;
  ASSERT_TRUE(DecodeSnmpMessage(strGood, &message));
  for (size_t n = 0; n < strGood.size(); ++n) {
    EXPECT_FALSE(DecodeSnmpMessage(std::string_view(strGood).substr(0, n), &message)) << n;
  }
  EXPECT_FALSE(DecodeSnmpMessage(strGood + '\0', &message));
}

TEST(BerTest, RefusesOtherMessageShapes) {
  const std::string strPdu = Hex("02 01 07 02 01 00 02 01 00 30 00");
  const std::string strPrefix = Hex("02 01 00") + Tlv(0x04, "public");
  CSnmpMessage message;
  EXPECT_TRUE(DecodeSnmpMessage(Tlv(0x30, strPrefix + Tlv(0xA2, strPdu)), &message));
  EXPECT_TRUE(message.bindings.empty());
  EXPECT_FALSE(DecodeSnmpMessage(Tlv(0x30, strPrefix + Tlv(0xA4, strPdu)), &message)) << "trap";
  EXPECT_FALSE(DecodeSnmpMessage(Tlv(0x31, strPrefix + Tlv(0xA2, strPdu)), &message)) << "SET OF";
  EXPECT_FALSE(DecodeSnmpMessage(Tlv(0x30, strPrefix + Tlv(0xA2, strPdu + Hex("05 00"))), &message))
      << "trailing bytes in the PDU";
  EXPECT_FALSE(DecodeSnmpMessage(Tlv(0x30, Hex("04 00") + Tlv(0xA2, strPdu)), &message))
      << "no version";
  EXPECT_FALSE(DecodeSnmpMessage("", &message));
}

TEST(BerTest, RefusesToEncodeUnencodableIdentifiers) {
  for (const auto& ids : std::vector<std::vector<uint32_t>>{{1}, {3, 1}, {1, 40}, {}}) {
    CSnmpMessage message;
    message.bindings.push_back({{ids}, AsnAny{}});
    std::string strBytes = "kept";
    EXPECT_FALSE(EncodeSnmpMessage(message, &strBytes));
    EXPECT_EQ(strBytes, "kept");
  }
}

}  // namespace

namespace {

// Every response recorded from snmpd (the fuzz seeds) decodes, and since
// snmpd writes the shortest forms, encodes back to the very same bytes.
// The seeds rewritten in longer forms ("longer-*") decode to the message
// of their snmpd original.
TEST(BerTest, RecordedSnmpdResponsesRoundTripByteForByte) {
  size_t nFiles = 0;
  for (const auto& entry : std::filesystem::directory_iterator(MIBSCAN_FUZZ_CORPUS)) {
    if (!entry.path().filename().string().starts_with("snmpd-")) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string strBytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    SCOPED_TRACE(entry.path().filename().string());
    CSnmpMessage message;
    ASSERT_TRUE(DecodeSnmpMessage(strBytes, &message));
    EXPECT_EQ(message.pduType, SNMP_PDU_RESPONSE);
    std::string strAgain;
    ASSERT_TRUE(EncodeSnmpMessage(message, &strAgain));
    EXPECT_EQ(strAgain, strBytes);
    ++nFiles;
  }
  EXPECT_GT(nFiles, 10u);
}

TEST(BerTest, LongerFormsOfRecordedResponsesDecodeAsTheOriginals) {
  const auto read = [](const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  };
  const std::filesystem::path corpus(MIBSCAN_FUZZ_CORPUS);
  for (int n = 1; n <= 6; ++n) {
    char szLonger[32];
    char szOriginal[32];
    std::snprintf(szLonger, sizeof szLonger, "longer-%03d.bin", n);
    std::snprintf(szOriginal, sizeof szOriginal, "snmpd-%03d.bin", n);
    SCOPED_TRACE(szLonger);
    CSnmpMessage longer;
    CSnmpMessage original;
    ASSERT_TRUE(DecodeSnmpMessage(read(corpus / szLonger), &longer));
    ASSERT_TRUE(DecodeSnmpMessage(read(corpus / szOriginal), &original));
    EXPECT_EQ(longer, original);
  }
}

}  // namespace
