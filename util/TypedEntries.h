// The objects of a walk as other tools read them: each object's name, the
// tag of its value and the value's payload, kept as they came (no cut, no
// substitution, no conversion of code sets), for the typed result files
// (.snmprec, walk text). A walk keeps them only when such a file is asked
// for.
//
// A record is the name key (SortableName), the tag byte, and the payload:
// the decimal text of a number (signed for INTEGER), the dotted text of an
// OBJECT IDENTIFIER value, and otherwise the value's own bytes (empty for
// NULL and the exception values). Records are packed one after another in
// blocks, each behind a pointer: a device of a million objects costs about
// 24 bytes per object beyond its names and values.
//
// Thread use: none; the entries belong to one walk's result.
#ifndef MIBSCAN_UTIL_TYPEDENTRIES_H_
#define MIBSCAN_UTIL_TYPEDENTRIES_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "util/PackedText.h"

// How the walk that filled the entries last ended, for the walk text's
// last line: at the end of an SNMPv1 agent's MIB (noSuchName), at an
// endOfMibView (SNMPv2c, SNMPv3), or otherwise (not at the end, or a
// single GET).
enum class EWalkEnd : uint8_t { None, EndOfMib, EndOfMibView };

// Appends to *pstrKey the name key of an OID: each arc below 128 as one
// byte, any other as 0x80 + n followed by its n bytes, most significant
// first (n = 1..4, the fewest that hold it). Keys compare byte by byte
// (unsigned) in the OIDs' own order, a prefix first.
void AppendSortableName(std::string* pstrKey, const uint32_t* pArcs, size_t nArcs);
// The dotted decimal text of a name key, without a leading dot.
[[nodiscard]] std::string NameKeyText(std::string_view key);
// Appends that text to *pstrText.
void AppendNameKeyText(std::string* pstrText, std::string_view key);

class CTypedEntries {
 public:
  CTypedEntries() = default;
  CTypedEntries(const CTypedEntries&) = delete;
  CTypedEntries& operator=(const CTypedEntries&) = delete;
  CTypedEntries(CTypedEntries&& other) noexcept { Swap(&other); }
  CTypedEntries& operator=(CTypedEntries&& other) noexcept {
    CTypedEntries taken(std::move(other));
    Swap(&taken);
    return *this;
  }

  // Appends one record, as MakeRecord made it.
  void AddRecord(std::string_view record);
  // One record: a name key, a tag, a payload.
  static void MakeRecord(std::string* pstrRecord, std::string_view nameKey, uint8_t tag, std::string_view payload);

  // Puts the records in name order; of records under one name, the one
  // added last stays after the others (ForEach takes that one).
  void Sort();
  // Calls fn(nameKey, tag, payload) once per name, in the order of the
  // records (name order after Sort): for a name stored more than once,
  // with the record added last.
  template <typename F>
  void ForEach(F fn) const {
    for (size_t i = 0; i < m_arrRecords.size(); ++i) {
      const char* p = m_arrRecords[i];
      const std::string_view key = ReadPacked(&p);
      if (i + 1 < m_arrRecords.size() && KeyOf(m_arrRecords[i + 1]) == key) continue;
      const auto tag = static_cast<uint8_t>(*p++);
      fn(key, tag, ReadPacked(&p));
    }
  }

  [[nodiscard]] size_t GetRecordCount() const { return m_arrRecords.size(); }
  [[nodiscard]] bool IsEmpty() const { return m_arrRecords.empty(); }
  // Frees every record.
  void Clear();

  // How the walk ended, for the walk text (EWalkEnd).
  void SetWalkEnd(EWalkEnd end) { m_walkEnd = end; }
  [[nodiscard]] EWalkEnd WalkEnd() const { return m_walkEnd; }

  // Bytes held (blocks and the record list), for memory figures.
  [[nodiscard]] size_t HeldBytes() const;

 private:
  static std::string_view KeyOf(const char* pRecord) { return ReadPacked(&pRecord); }
  void Swap(CTypedEntries* pOther) noexcept;

  static constexpr size_t c_nBlockBytes = 256 * 1024;
  std::vector<std::string> m_arrBlocks;
  std::vector<const char*> m_arrRecords;
  EWalkEnd m_walkEnd = EWalkEnd::None;
};

#endif  // MIBSCAN_UTIL_TYPEDENTRIES_H_
