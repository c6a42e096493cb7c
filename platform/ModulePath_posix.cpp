#include "platform/ModulePath.h"

#include <unistd.h>

#include <vector>

bool GetExecutablePath(std::string* pstrPath) {
  // readlink() neither terminates the text nor says whether it was cut, so
  // the buffer grows until the answer is shorter than the buffer.
  for (size_t nSize = 256; nSize <= (1u << 20); nSize *= 2) {
    std::vector<char> buffer(nSize);
    const ssize_t nLen = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (nLen <= 0) return false;
    if (static_cast<size_t>(nLen) < buffer.size()) {
      pstrPath->assign(buffer.data(), static_cast<size_t>(nLen));
      return true;
    }
  }
  return false;
}
