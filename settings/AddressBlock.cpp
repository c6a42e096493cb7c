#include "settings/AddressBlock.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

bool IsDigit(char ch) { return ch >= '0' && ch <= '9'; }

// A decimal number of at most nMaxDigits digits, nothing else.
bool ParseDecimal(std::string_view text, size_t nMaxDigits, uint32_t* puValue) {
  if (text.empty() || text.size() > nMaxDigits || !std::all_of(text.begin(), text.end(), IsDigit)) return false;
  uint32_t uValue = 0;
  for (const char ch : text) uValue = uValue * 10 + static_cast<uint32_t>(ch - '0');
  *puValue = uValue;
  return true;
}

int HexDigit(char ch) {
  if (ch >= '0' && ch <= '9') return ch - '0';
  if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
  if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
  return -1;
}

// The groups of one side of "::" (hexadecimal groups, the last one of the
// address side may be an IPv4 tail, which counts as two).
bool ParseGroups(std::string_view text, bool bMayEndInIpv4, std::vector<uint16_t>* parrGroups) {
  if (text.empty()) return true;
  size_t nStart = 0;
  while (true) {
    const size_t nColon = text.find(':', nStart);
    const std::string_view group = text.substr(nStart, nColon == std::string_view::npos ? nColon : nColon - nStart);
    if (nColon == std::string_view::npos && bMayEndInIpv4 && group.find('.') != std::string_view::npos) {
      CIpAddress ipv4;
      if (!ParseIpv4(group, &ipv4)) return false;
      parrGroups->push_back(static_cast<uint16_t>(ipv4.bytes[12] << 8 | ipv4.bytes[13]));
      parrGroups->push_back(static_cast<uint16_t>(ipv4.bytes[14] << 8 | ipv4.bytes[15]));
      return true;
    }
    if (group.empty() || group.size() > 4) return false;
    uint32_t uValue = 0;
    for (const char ch : group) {
      const int nDigit = HexDigit(ch);
      if (nDigit < 0) return false;
      uValue = uValue * 16 + static_cast<uint32_t>(nDigit);
    }
    parrGroups->push_back(static_cast<uint16_t>(uValue));
    if (nColon == std::string_view::npos) return true;
    nStart = nColon + 1;
  }
}

// Bits of the address's family.
int FamilyBits(const CIpAddress& address) { return address.bIpv6 ? 128 : 32; }

}  // namespace

bool ParseIpv4(std::string_view text, CIpAddress* pAddress) {
  CIpAddress address;
  size_t nStart = 0;
  for (int nOctet = 0; nOctet < 4; ++nOctet) {
    const size_t nDot = nOctet < 3 ? text.find('.', nStart) : text.size();
    if (nDot == std::string_view::npos) return false;
    uint32_t uValue = 0;
    if (!ParseDecimal(text.substr(nStart, nDot - nStart), 3, &uValue) || uValue > 255) return false;
    address.bytes[12 + nOctet] = static_cast<uint8_t>(uValue);
    nStart = nDot + 1;
  }
  *pAddress = address;
  return true;
}

bool ParseIpv6(std::string_view text, CIpAddress* pAddress) {
  std::vector<uint16_t> arrHead;
  std::vector<uint16_t> arrTail;
  const size_t nGap = text.find("::");
  if (nGap == std::string_view::npos) {
    if (!ParseGroups(text, true, &arrHead) || arrHead.size() != 8) return false;
  } else {
    if (text.find("::", nGap + 1) != std::string_view::npos) return false;
    if (!ParseGroups(text.substr(0, nGap), false, &arrHead) || !ParseGroups(text.substr(nGap + 2), true, &arrTail))
      return false;
    // "::" stands for one zero group at least.
    if (arrHead.size() + arrTail.size() > 7) return false;
    arrHead.resize(8 - arrTail.size(), 0);
    arrHead.insert(arrHead.end(), arrTail.begin(), arrTail.end());
  }
  CIpAddress address;
  address.bIpv6 = true;
  for (size_t i = 0; i < 8; ++i) {
    address.bytes[2 * i] = static_cast<uint8_t>(arrHead[i] >> 8);
    address.bytes[2 * i + 1] = static_cast<uint8_t>(arrHead[i] & 0xFF);
  }
  *pAddress = address;
  return true;
}

bool ParseIpAddress(std::string_view text, CIpAddress* pAddress) {
  return text.find(':') != std::string_view::npos ? ParseIpv6(text, pAddress) : ParseIpv4(text, pAddress);
}

std::string FormatIpAddress(const CIpAddress& address) {
  char szBuffer[48];
  if (!address.bIpv6) {
    std::snprintf(szBuffer, sizeof szBuffer, "%u.%u.%u.%u", address.bytes[12], address.bytes[13], address.bytes[14],
                  address.bytes[15]);
    return szBuffer;
  }
  uint16_t arrGroups[8];
  for (size_t i = 0; i < 8; ++i) arrGroups[i] = static_cast<uint16_t>(address.bytes[2 * i] << 8 | address.bytes[2 * i + 1]);
  // The first of the longest runs of two or more zero groups.
  size_t nBestStart = 8;
  size_t nBestLength = 1;
  for (size_t i = 0; i < 8;) {
    size_t j = i;
    while (j < 8 && arrGroups[j] == 0) ++j;
    if (j - i > nBestLength) {
      nBestStart = i;
      nBestLength = j - i;
    }
    i = j == i ? i + 1 : j;
  }
  std::string strText;
  for (size_t i = 0; i < 8; ++i) {
    if (i == nBestStart) {
      strText += "::";
      i += nBestLength - 1;
      continue;
    }
    if (!strText.empty() && strText.back() != ':') strText += ':';
    std::snprintf(szBuffer, sizeof szBuffer, "%x", arrGroups[i]);
    strText += szBuffer;
  }
  return strText;
}

bool LooksLikeAddressBlock(std::string_view text) {
  if (text.find('/') != std::string_view::npos) return true;
  const size_t nDash = text.find('-');
  if (nDash == std::string_view::npos) return false;
  return std::all_of(text.begin(), text.end(), [](char ch) { return IsDigit(ch) || ch == '.' || ch == '-'; }) &&
         std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(nDash), '.') == 3;
}

bool ParseAddressBlock(std::string_view text, CAddressBlock* pBlock) {
  CAddressBlock block;
  const size_t nSlash = text.find('/');
  if (nSlash != std::string_view::npos) {
    uint32_t uPrefix = 0;
    if (!ParseIpAddress(text.substr(0, nSlash), &block.first) || !ParseDecimal(text.substr(nSlash + 1), 3, &uPrefix))
      return false;
    const int nBits = FamilyBits(block.first);
    if (uPrefix > static_cast<uint32_t>(nBits)) return false;
    block.nPrefix = static_cast<int>(uPrefix);
    // Host bits off: the block starts at its network address.
    for (int nBit = block.nPrefix; nBit < nBits; ++nBit) {
      const int nByte = (block.first.bIpv6 ? 0 : 12) + nBit / 8;
      block.first.bytes[static_cast<size_t>(nByte)] &= static_cast<uint8_t>(~(0x80u >> (nBit % 8)));
    }
    const int nHostBits = nBits - block.nPrefix;
    block.nCount = nHostBits >= 64 ? UINT64_MAX : uint64_t{1} << nHostBits;
  } else {
    const size_t nDash = text.find('-');
    uint32_t uLast = 0;
    if (nDash == std::string_view::npos || !ParseIpv4(text.substr(0, nDash), &block.first) ||
        !ParseDecimal(text.substr(nDash + 1), 3, &uLast) || uLast > 255 || uLast < block.first.bytes[15])
      return false;
    block.nCount = uLast - block.first.bytes[15] + 1;
  }
  *pBlock = block;
  return true;
}

CIpAddress AddressInBlock(const CAddressBlock& block, uint64_t nIndex) {
  CIpAddress address = block.first;
  uint64_t uCarry = nIndex;
  for (size_t i = address.bytes.size(); i-- > 0 && uCarry != 0;) {
    const uint64_t uSum = address.bytes[i] + (uCarry & 0xFF);
    address.bytes[i] = static_cast<uint8_t>(uSum);
    uCarry = (uCarry >> 8) + (uSum >> 8);
  }
  return address;
}

bool BlockContains(const CAddressBlock& block, const CIpAddress& address) {
  if (address.bIpv6 != block.first.bIpv6) return false;
  if (block.nPrefix < 0) {
    return std::equal(address.bytes.begin(), address.bytes.end() - 1, block.first.bytes.begin()) &&
           address.bytes[15] >= block.first.bytes[15] &&
           static_cast<uint64_t>(address.bytes[15] - block.first.bytes[15]) < block.nCount;
  }
  const size_t nOffset = address.bIpv6 ? 0 : 12;
  for (int nBit = 0; nBit < block.nPrefix; ++nBit) {
    const size_t nByte = nOffset + static_cast<size_t>(nBit / 8);
    const uint8_t uMask = static_cast<uint8_t>(0x80u >> (nBit % 8));
    if ((address.bytes[nByte] & uMask) != (block.first.bytes[nByte] & uMask)) return false;
  }
  return true;
}
