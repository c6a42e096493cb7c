#include "platform/Console.h"

#include <cstdarg>
#include <mutex>

namespace {

std::mutex g_consoleMutex;
std::string g_strStatus;  // the status line shown, empty when none

// Blanks out the status line shown; under the lock.
void TakeStatusAway() {
  if (g_strStatus.empty()) return;
  std::string strBlank = "\r" + std::string(g_strStatus.size(), ' ') + "\r";
  std::fputs(strBlank.c_str(), stderr);
  std::fflush(stderr);
}

// Draws the status line again; under the lock.
void DrawStatus() {
  if (g_strStatus.empty()) return;
  std::fputs(("\r" + g_strStatus).c_str(), stderr);
  std::fflush(stderr);
}

}  // namespace

void PrintLine(const char* szFormat, ...) {
  char szBuffer[1024];
  std::va_list args;
  va_start(args, szFormat);
  const int nLen = std::vsnprintf(szBuffer, sizeof szBuffer, szFormat, args);
  va_end(args);
  std::string strLine;
  if (nLen >= static_cast<int>(sizeof szBuffer)) {
    // A long target name or path: format again into a buffer that fits.
    strLine.resize(static_cast<size_t>(nLen) + 1);
    va_start(args, szFormat);
    std::vsnprintf(strLine.data(), strLine.size(), szFormat, args);
    va_end(args);
    strLine.pop_back();
  } else if (nLen > 0) {
    strLine.assign(szBuffer, static_cast<size_t>(nLen));
  }
  const std::lock_guard<std::mutex> lock(g_consoleMutex);
  TakeStatusAway();
  std::fwrite(strLine.data(), 1, strLine.size(), stdout);
  if (!g_strStatus.empty()) {
    std::fflush(stdout);
    DrawStatus();
  }
}

void PrintErrorLine(const std::string& strLine) {
  const std::lock_guard<std::mutex> lock(g_consoleMutex);
  TakeStatusAway();
  std::fputs((strLine + "\n").c_str(), stderr);
  DrawStatus();
}

void ShowStatus(const std::string& strStatus) {
  const std::lock_guard<std::mutex> lock(g_consoleMutex);
  // Blanks over what the longer line before leaves.
  std::string strDrawn = strStatus;
  if (strDrawn.size() < g_strStatus.size()) strDrawn.append(g_strStatus.size() - strDrawn.size(), ' ');
  std::fputs(("\r" + strDrawn).c_str(), stderr);
  std::fflush(stderr);
  g_strStatus = strStatus.empty() ? std::string(" ") : strStatus;
}

void ClearStatus() {
  const std::lock_guard<std::mutex> lock(g_consoleMutex);
  TakeStatusAway();
  g_strStatus.clear();
}
