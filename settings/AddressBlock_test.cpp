#include "settings/AddressBlock.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::string Formatted(std::string_view text) {
  CIpAddress address;
  return ParseIpAddress(text, &address) ? FormatIpAddress(address) : "(refused)";
}

TEST(AddressBlockTest, AddressesParseAndPrintInTheirShortForm) {
  EXPECT_EQ(Formatted("192.0.2.1"), "192.0.2.1");
  EXPECT_EQ(Formatted("0.0.0.0"), "0.0.0.0");
  EXPECT_EQ(Formatted("255.255.255.255"), "255.255.255.255");
  EXPECT_EQ(Formatted("2001:DB8:0:0:0:0:0:1"), "2001:db8::1");
  EXPECT_EQ(Formatted("::"), "::");
  EXPECT_EQ(Formatted("::1"), "::1");
  EXPECT_EQ(Formatted("1::"), "1::");
  EXPECT_EQ(Formatted("2001:db8:0:1:0:0:0:1"), "2001:db8:0:1::1");  // the longer run of zeros
  EXPECT_EQ(Formatted("2001:0:0:1:0:0:0:1"), "2001:0:0:1::1");
  EXPECT_EQ(Formatted("2001:db8:0:0:1:0:0:1"), "2001:db8::1:0:0:1");  // the first of two equal runs
  EXPECT_EQ(Formatted("2001:db8:1:1:1:1:0:1"), "2001:db8:1:1:1:1:0:1");  // one zero group stays
  EXPECT_EQ(Formatted("::ffff:192.0.2.1"), "::ffff:c000:201");
  for (const char* szBad : {"1.5.0", "10.1", "1.2.3.4.5", "256.1.1.1", "1.2.3.", ".1.2.3", "01234.1.1.1", "1..2.3",
                            "1.2.3.4 ", "a.b.c.d", ":::", "1:2:3:4:5:6:7:8:9", "1::2::3", "12345::", "1:2:3:4:5:6:7:8::",
                            "g::1", "::1.2.3", ":1::", "1.2.3.4::", ""}) {
    EXPECT_EQ(Formatted(szBad), "(refused)") << szBad;
  }
}

// Blocks give every address, network and broadcast included; host bits
// of a CIDR block's address are ignored.
TEST(AddressBlockTest, BlocksCountAndListTheirAddresses) {
  const auto list = [](std::string_view text) {
    std::vector<std::string> arrAddresses;
    CAddressBlock block;
    if (!ParseAddressBlock(text, &block)) return arrAddresses;
    for (uint64_t i = 0; i < block.nCount && i < 300; ++i) arrAddresses.push_back(FormatIpAddress(AddressInBlock(block, i)));
    return arrAddresses;
  };
  EXPECT_EQ(list("127.1.0.0/30"), (std::vector<std::string>{"127.1.0.0", "127.1.0.1", "127.1.0.2", "127.1.0.3"}));
  EXPECT_EQ(list("127.1.0.5/30"), list("127.1.0.4/30"));
  EXPECT_EQ(list("127.1.0.1-3"), (std::vector<std::string>{"127.1.0.1", "127.1.0.2", "127.1.0.3"}));
  EXPECT_EQ(list("127.1.0.7-7"), (std::vector<std::string>{"127.1.0.7"}));
  EXPECT_EQ(list("192.0.2.9/32"), (std::vector<std::string>{"192.0.2.9"}));
  const std::vector<std::string> arr23 = list("10.0.0.0/23");
  ASSERT_EQ(arr23.size(), 300u);
  EXPECT_EQ(arr23[255], "10.0.0.255");
  EXPECT_EQ(arr23[256], "10.0.1.0");
  EXPECT_EQ(list("2001:db8::ff/126"), (std::vector<std::string>{"2001:db8::fc", "2001:db8::fd", "2001:db8::fe", "2001:db8::ff"}));
  const std::vector<std::string> arr120 = list("2001:db8::/120");
  ASSERT_EQ(arr120.size(), 256u);
  EXPECT_EQ(arr120.back(), "2001:db8::ff");

  CAddressBlock block;
  ASSERT_TRUE(ParseAddressBlock("0.0.0.0/0", &block));
  EXPECT_EQ(block.nCount, uint64_t{1} << 32);
  ASSERT_TRUE(ParseAddressBlock("::/0", &block));
  EXPECT_EQ(block.nCount, UINT64_MAX) << "too many to count: more than any run takes";
  ASSERT_TRUE(ParseAddressBlock("2001:db8::/112", &block));
  EXPECT_EQ(block.nCount, 65536u);
  for (const char* szBad : {"192.0.2.0/33", "192.0.2.0/", "/24", "192.0.2/24", "192.0.2.0/2x", "192.0.2.0/-1",
                            "192.0.2.20-10", "192.0.2.10-256", "192.0.2.10-", "192.0.2-3.1", "host.invalid/24",
                            "2001:db8::/129", "192.0.2.0/24/1"}) {
    EXPECT_FALSE(ParseAddressBlock(szBad, &block)) << szBad;
  }
}

TEST(AddressBlockTest, WhatLooksLikeABlock) {
  for (const char* szBlock : {"192.0.2.0/24", "192.0.2.10-20", "2001:db8::/120", "x/y", "1.2.3.4-"})
    EXPECT_TRUE(LooksLikeAddressBlock(szBlock)) << szBlock;
  for (const char* szName : {"sw-1.example.invalid", "192.0.2.1", "10-20", "1.2-3", "host", "1.2.3.4-x-"})
    EXPECT_FALSE(LooksLikeAddressBlock(szName)) << szName;
}

TEST(AddressBlockTest, BlockContainsOnlyItsOwnFamilyAndAddresses) {
  CAddressBlock block;
  CIpAddress address;
  ASSERT_TRUE(ParseAddressBlock("127.1.0.10-20", &block));
  ASSERT_TRUE(ParseIpAddress("127.1.0.20", &address));
  EXPECT_TRUE(BlockContains(block, address));
  ASSERT_TRUE(ParseIpAddress("127.1.0.21", &address));
  EXPECT_FALSE(BlockContains(block, address));
  ASSERT_TRUE(ParseIpAddress("127.1.1.15", &address));
  EXPECT_FALSE(BlockContains(block, address));
  ASSERT_TRUE(ParseAddressBlock("::/96", &block));
  ASSERT_TRUE(ParseIpAddress("0.0.0.1", &address));
  EXPECT_FALSE(BlockContains(block, address)) << "IPv4 is not inside an IPv6 block";
}

}  // namespace
