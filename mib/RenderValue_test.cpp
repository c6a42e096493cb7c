#include <gtest/gtest.h>

#include "log/LogFixture_test.h"
#include "mib/RenderValue.h"
#include "mib/WalkStep.h"
#include "snmp/AsnValues_test.h"
#include "tests/TestSupport.h"

namespace {

class RenderValueTest : public LogFixture {
 protected:
  void SetUp() override {
    LogFixture::SetUp();
    g_bLogDirect = true;
  }
  // As the walk renders a binding: after the trace's length line.
  std::string Render(const AsnAny& value, const std::string& strOid = "1.3.6.1.2.1.1.1.0") {
    return RenderTraced("agent1", strOid, value, &m_codeSet).strText;
  }
  CTextCodeSet m_codeSet;
};

TEST_F(RenderValueTest, RendersEveryTypeOfTheTable) {
  struct {
    AsnAny value;
    std::string strExpected;
    const char* szReason;
  } const rows[] = {
      {Int(-5), "-5", "INTEGER negative"},
      {Int(2147483647), "2147483647", "INTEGER max"},
      {Int(-2147483647 - 1), "-2147483648", "INTEGER min"},
      {Unsigned(ASN_COUNTER32, 4294967295u), "4294967295", "Counter32 max"},
      {Unsigned(ASN_GAUGE32, 4294967295u), "4294967295", "Gauge32 max"},
      {Unsigned(ASN_TIMETICKS, 4294967295u), "4294967295", "TimeTicks raw"},
      {Unsigned(ASN_UINTEGER32, 4294967295u), "4294967295", "UInteger32 max"},
      {Counter64(~0ull), "18446744073709551615", "Counter64, all 20 digits"},
      {Oid({1, 3, 6, 1, 4, 1, 4294967295u}), "1.3.6.1.4.1.-1", "OID shown signed"},
      {Oid({}), "", "OID without sub-identifiers"},
      {Bytes(ASN_IPADDRESS, std::string("\xC0\xA8\x00\x01", 4)), "192.168.0.1", "IpAddress"},
      {Bytes(ASN_IPADDRESS, std::string("\xC0\xA8\x00", 3)), "", "IpAddress of 3 bytes"},
      {Bytes(ASN_IPADDRESS, std::string("\xC0\xA8\x00\x01\x02", 5)), "", "IpAddress of 5 bytes"},
      {Bytes(ASN_BITS, std::string("\x00\x1A\x2B\x3C\x4D\x5E", 6)), "00:1a:2b:3c:4d:5e", "BITS"},
      {Bytes(ASN_BITS, ""), "", "BITS empty"},
      {Value(ASN_NULL), "Type.5", "NULL"},
      {Bytes(ASN_OPAQUE, "\x9f\x78"), "Type.68", "Opaque"},
      {Value(SNMP_EXCEPTION_NOSUCHOBJECT), "Type.128", "noSuchObject"},
      {Value(SNMP_EXCEPTION_NOSUCHINSTANCE), "Type.129", "noSuchInstance"},
      {Value(SNMP_EXCEPTION_ENDOFMIBVIEW), "Type.130", "endOfMibView"},
      {Value(0x48), "Type.72", "unknown tag"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.szReason);
    EXPECT_EQ(Render(row.value), row.strExpected);
  }
}

TEST_F(RenderValueTest, OctetStringsAsTextOrBase64) {
  struct {
    std::string strBytes;
    std::string strExpected;
    const char* szReason;
  } const rows[] = {
      {"public", "public", "plain text"},
      {std::string("public\0", 7), "public", "one NUL at the end"},
      {std::string("ab\0cd", 5), "YWIAY2Q=\r\n", "NUL before the last byte: Base64"},
      {std::string("\0\0", 2), "AAA=\r\n", "two NULs only: Base64"},
      {std::string("\xD6\xCD\0\\\xE4\xBB", 6), "1s0AXOS7\r\n", "a MAC address with a zero byte inside"},
      {std::string("ab\0\0", 4), "YWIAAA==\r\n", "two NULs at the end"},
      {std::string("\0", 1), "", "a single NUL"},
      {"", "", "no bytes"},
      {"line\r\nnext", "line\r\nnext", "CR and LF are text"},
      {"a\tb", "YQli\r\n", "a TAB forces Base64"},
      {"ab\x1F", "YWIf\r\n", "0x1F forces Base64"},
      {std::string(300, 'x'), std::string(256, 'x'), "text cut to 256"},
      {std::string(256, 'y'), std::string(256, 'y'), "256 kept whole"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.szReason);
    EXPECT_EQ(Render(Bytes(ASN_OCTETSTRING, row.strBytes)), row.strExpected);
  }
  const std::string strBase64 = Render(Bytes(ASN_OCTETSTRING, std::string(300, '\x01')));
  EXPECT_EQ(strBase64.size(), 400u + 7 * 2) << "300 binary bytes: 400 characters in 7 CR LF lines";
}

// Text bytes that are not characters of the agents' code set are kept as
// Base64, never replaced; long text is cut between characters.
TEST_F(RenderValueTest, TextThatIsNotInTheCodeSetIsBase64) {
  struct {
    const char* szCharset;
    std::string strBytes;
    std::string strExpected;
    const char* szReason;
  } const rows[] = {
      {"ISO-8859-1", "caf\xE9 \xFF", "caf\xE9 \xFF", "bytes 0x80 to 0xFF are Latin-1 text"},
      {"UTF-8", "caf\xC3\xA9", "caf\xC3\xA9", "UTF-8 text"},
      {"UTF-8", "\x86\x39\x42\xAC\x67\x51", "hjlCrGdR\r\n", "a MAC address is not UTF-8"},
      {"UTF-8", std::string("caf\xE9\0", 5), "Y2Fm6QA=\r\n", "all bytes, the NUL too"},
      {"UTF-8", "\xEF\xBF\xBE", "77++\r\n", "U+FFFE is no XML character"},
      {"SHIFT_JIS", "\x93\xFA\x96\x7B", "\x93\xFA\x96\x7B", "Shift_JIS text"},
      {"SHIFT_JIS", "ab\x93", "YWKT\r\n", "a lead byte cut off"},
      {"", "caf\xC3\xA9", "caf\xC3\xA9", "the C locale reads UTF-8"},
      {"", "caf\xE9", "Y2Fm6Q==\r\n", "the C locale: Latin-1 bytes are not UTF-8"},
  };
  CScopedLocale locale("C");
  for (const auto& row : rows) {
    SCOPED_TRACE(row.szReason);
    CTextCodeSet codeSet(row.szCharset);
    EXPECT_EQ(RenderValue("1.3.6.1.2.1.2.2.1.6.1", Bytes(ASN_OCTETSTRING, row.strBytes), &codeSet).strText,
              row.strExpected);
  }
  // The cut at 256 bytes never splits a character.
  struct {
    const char* szCharset;
    std::string strBytes;
    size_t nExpected;
  } const cuts[] = {
      {"UTF-8", std::string(255, 'x') + "\xC3\xA9" + "tail", 255},
      {"UTF-8", std::string(254, 'x') + "\xC3\xA9" + "tail", 256},
      {"UTF-8", std::string(254, 'x') + "\xF0\x9F\x98\x80", 254},
      {"SHIFT_JIS", std::string(255, 'x') + "\x93\x41" + "tail", 255},
      {"SHIFT_JIS", "\x93\x41" + std::string(254, 'x') + "\x93\x41", 256},
  };
  for (const auto& cut : cuts) {
    CTextCodeSet codeSet(cut.szCharset);
    const std::string strText = RenderValue("1.3.6.1.2.1.1.1.0", Bytes(ASN_OCTETSTRING, cut.strBytes), &codeSet).strText;
    EXPECT_EQ(strText, cut.strBytes.substr(0, cut.nExpected)) << cut.szCharset << " " << cut.nExpected;
  }
}

TEST_F(RenderValueTest, PhysicalAddressesAreHexWhateverTheirType) {
  const AsnAny letters = Bytes(ASN_OCTETSTRING, "abcdef");
  EXPECT_EQ(Render(letters, "1.3.6.1.2.1.4.22.1.2.1.10.0.0.1"), "61:62:63:64:65:66");
  EXPECT_EQ(Render(letters, "1.3.6.1.2.1.4.22.1.2"), "abcdef") << "the prefix needs its dot";
  EXPECT_EQ(Render(letters, "1.3.6.1.2.1.4.22.1.21.1"), "abcdef") << "21 is another column";
  EXPECT_EQ(Render(letters, "9.1.3.6.1.2.1.4.22.1.2.1"), "abcdef") << "must match at the start";
  // Not a byte string: rendered by its own tag.
  EXPECT_EQ(Render(Int(7), "1.3.6.1.2.1.4.22.1.2.1.10.0.0.1"), "7");
}

TEST_F(RenderValueTest, LogsTheLengthOfStringsAddressesAndIdentifiers) {
  (void)Render(Bytes(ASN_OCTETSTRING, "public"));
  (void)Render(Bytes(ASN_OCTETSTRING, "abcdef"), "1.3.6.1.2.1.4.22.1.2.1.1");
  (void)Render(Oid({1, 3, 6}));
  (void)Render(Bytes(ASN_IPADDRESS, "\x01\x02\x03"));
  (void)Render(Int(1));
  (void)Render(Unsigned(ASN_COUNTER32, 1));
  (void)Render(Value(ASN_NULL));
  std::vector<std::string> arrTexts;
  for (const auto& strLine : ReadLines(LivePath())) arrTexts.push_back(TextOf(strLine));
  EXPECT_EQ(arrTexts, (std::vector<std::string>{"agent1|length=6", "agent1|length=6",
                                                 "agent1|length=3", "agent1|length=3"}));
}

}  // namespace
