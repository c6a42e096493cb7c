// Address literals and blocks of them, as targets and [Target] patterns
// write them: IPv4 "192.0.2.1", IPv6 "2001:db8::1", CIDR blocks
// "192.0.2.0/28" and "2001:db8::/120", and IPv4 ranges in the last octet
// "192.0.2.10-20". Pure text work, the same on every system: no resolver
// is asked, so nothing here can send a name to the network.
#ifndef MIBSCAN_SETTINGS_ADDRESSBLOCK_H_
#define MIBSCAN_SETTINGS_ADDRESSBLOCK_H_

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

// An IPv4 or IPv6 address, IPv4 in the last four bytes.
struct CIpAddress {
  bool bIpv6 = false;
  std::array<uint8_t, 16> bytes{};
};

// A first address and how many follow it, in one family.
struct CAddressBlock {
  CIpAddress first;
  uint64_t nCount = 0;
  int nPrefix = -1;  // of a CIDR block; -1 for a range
};

// Four decimal numbers of 0 to 255 between dots, nothing else.
[[nodiscard]] bool ParseIpv4(std::string_view text, CIpAddress* pAddress);
// RFC 4291 2.2 text: eight groups of up to four hexadecimal digits, one
// "::" for a run of zero groups, an IPv4 tail in the last 32 bits. No zone.
[[nodiscard]] bool ParseIpv6(std::string_view text, CIpAddress* pAddress);
// Either of them.
[[nodiscard]] bool ParseIpAddress(std::string_view text, CIpAddress* pAddress);

// The address as text: dotted decimal, or IPv6 in the RFC 5952 form
// (lower case, no leading zeros, the longest run of two or more zero
// groups as "::").
[[nodiscard]] std::string FormatIpAddress(const CIpAddress& address);

// True when the text is written as a block: it holds a "/", or it is
// dotted decimal with a "-" in its last octet. Such a text is never a host
// name, so one that does not parse (ParseAddressBlock) is refused.
[[nodiscard]] bool LooksLikeAddressBlock(std::string_view text);

// A CIDR block (the address's host bits are ignored, so every address of
// the block is counted from the network address on) or an IPv4 range in
// the last octet, low to high. False for anything else.
[[nodiscard]] bool ParseAddressBlock(std::string_view text, CAddressBlock* pBlock);

// The nIndex-th address of the block (0 is its first).
[[nodiscard]] CIpAddress AddressInBlock(const CAddressBlock& block, uint64_t nIndex);

// True when address lies inside the block.
[[nodiscard]] bool BlockContains(const CAddressBlock& block, const CIpAddress& address);

#endif  // MIBSCAN_SETTINGS_ADDRESSBLOCK_H_
