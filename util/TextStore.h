// Texts kept for a long time, many of them, copied into large blocks one
// after another: a text costs its bytes and no allocation of its own.
// Kept in blocks of their own, tens of megabytes of short texts do not
// grow the allocator's heap a few pages at a time, which would contend
// with other threads for the process's address space (each growth takes
// its lock), and freeing them all is a handful of frees. A text never
// moves once added; one thread adds to a store at a time.
#ifndef MIBSCAN_UTIL_TEXTSTORE_H_
#define MIBSCAN_UTIL_TEXTSTORE_H_

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

class CTextStore {
 public:
  static constexpr size_t c_nBlock = size_t{4} << 20;

  // A copy of text, valid as long as the store. Throws std::bad_alloc.
  std::string_view Add(std::string_view text);
  // Bytes held in blocks.
  [[nodiscard]] size_t Capacity() const { return m_nCapacity; }

 private:
  std::vector<std::unique_ptr<char[]>> m_arrBlocks;
  char* m_pFree = nullptr;  // in the last block
  size_t m_nLeft = 0;       // bytes free after m_pFree
  size_t m_nCapacity = 0;
};

#endif  // MIBSCAN_UTIL_TEXTSTORE_H_
