#include "platform/MapStringToString.h"

uint32_t CMapStringToString::HashKey(std::string_view strKey) {
  uint32_t uHash = 2166136261u;
  const size_t nStride = strKey.size() / 10 + 1;
  for (size_t i = 0; i < strKey.size(); i += nStride) {
    const auto uChar = static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(strKey[i])));
    uHash = (uHash * 16777619u) ^ uChar;
  }
  return uHash;
}

std::string& CMapStringToString::operator[](std::string_view strKey) {
  const auto it = m_index.find(strKey);
  if (it != m_index.end()) return it->second->strValue;
  auto& bucket = m_buckets[HashKey(strKey) % c_nBuckets];
  CAssoc& assoc = bucket.emplace_front(CAssoc{std::string(strKey), std::string()});
  m_index.emplace(assoc.strKey, &assoc);
  return assoc.strValue;
}

bool CMapStringToString::Lookup(std::string_view strKey, std::string* pstrValue) const {
  const auto it = m_index.find(strKey);
  if (it == m_index.end()) return false;
  *pstrValue = it->second->strValue;
  return true;
}
