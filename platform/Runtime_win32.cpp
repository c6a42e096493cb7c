#include "platform/Runtime.h"

#include <windows.h>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>

void InitialiseConsole() {
  // The C runtime of Windows has no line buffering (_IOLBF is full
  // buffering there): unbuffered, each printf still writes its whole
  // line in one go.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
}

bool InitialiseLocale() {
  // The user's ANSI code page; MultiByteToWideChar converts every code
  // page Windows has.
  if (setlocale(LC_ALL, "") == nullptr) setlocale(LC_ALL, "C");
  return true;
}

void PrintFatal(const char* szUtf8) {
  const int nUtf8 = static_cast<int>(std::strlen(szUtf8));
  const int nWide = MultiByteToWideChar(CP_UTF8, 0, szUtf8, nUtf8, nullptr, 0);
  std::wstring strWide(static_cast<size_t>(nWide), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, szUtf8, nUtf8, strWide.data(), nWide);
  const HANDLE hOut = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD nWritten = 0;
  std::fflush(stdout);
  // A console takes the wide text as it is; redirected output gets it in
  // the console's code page, as wide output of the C runtime would.
  if (WriteConsoleW(hOut, strWide.data(), static_cast<DWORD>(nWide), &nWritten, nullptr)) return;
  const UINT uCodePage = GetConsoleOutputCP() != 0 ? GetConsoleOutputCP() : GetACP();
  const int nBytes = WideCharToMultiByte(uCodePage, 0, strWide.data(), nWide, nullptr, 0, nullptr, nullptr);
  std::string strBytes(static_cast<size_t>(nBytes), '\0');
  WideCharToMultiByte(uCodePage, 0, strWide.data(), nWide, strBytes.data(), nBytes, nullptr, nullptr);
  std::fwrite(strBytes.data(), 1, strBytes.size(), stdout);
}

std::string HostName() {
  char szName[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD nSize = sizeof szName;
  if (!GetComputerNameA(szName, &nSize)) return {};
  return std::string(szName, nSize);
}
