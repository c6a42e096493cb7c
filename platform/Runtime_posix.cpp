#include "platform/Runtime.h"

#include <iconv.h>
#include <langinfo.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>

void InitialiseConsole() { std::setvbuf(stdout, nullptr, _IOLBF, 0); }

bool InitialiseLocale() {
  if (setlocale(LC_ALL, "") == nullptr) setlocale(LC_ALL, "C");
  const iconv_t cd = iconv_open("UTF-8", nl_langinfo(CODESET));
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  iconv_close(cd);
  return true;
}

void PrintFatal(const char* szUtf8) { std::fputs(szUtf8, stdout); }

std::string HostName() {
  char szName[256] = {};
  if (gethostname(szName, sizeof szName - 1) != 0) return {};
  return szName;
}
