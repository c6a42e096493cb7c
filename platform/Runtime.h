// Start-up of the process: the console, the locale and the messages of a
// failed start. Runtime_posix.cpp and Runtime_win32.cpp.
#ifndef MIBSCAN_PLATFORM_RUNTIME_H_
#define MIBSCAN_PLATFORM_RUNTIME_H_

#include <string>

// Makes each whole line that a worker prints reach the console (or the
// pipe a calling script reads) at once, as it happens.
void InitialiseConsole();

// The user's locale (narrow text is in its code set; an unknown locale
// leaves the plain C locale, which works). False when text of that code
// set cannot be converted to UTF-8 for the result files.
[[nodiscard]] bool InitialiseLocale();

// Writes a message of a failed start (UTF-8 text) to standard output, as
// wide text on Windows: the console shows it whatever its code page.
void PrintFatal(const char* szUtf8);

// This machine's name (empty when the system does not say).
[[nodiscard]] std::string HostName();

#endif  // MIBSCAN_PLATFORM_RUNTIME_H_
