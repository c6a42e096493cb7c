// The console: the lines the workers print on standard output, and a
// status line that the scan may keep at the bottom of a terminal on
// standard error. Each line goes out whole; while a status line is shown,
// it is taken away before a line is printed and drawn again after, so the
// two never run into each other. Console.cpp; whether a stream is a
// terminal, Console_posix.cpp and Console_win32.cpp.
#ifndef MIBSCAN_PLATFORM_CONSOLE_H_
#define MIBSCAN_PLATFORM_CONSOLE_H_

#include <cstdio>
#include <string>

// True when the stream is a terminal (a console on Windows).
[[nodiscard]] bool IsTerminal(std::FILE* pStream);

// Prints one whole line (printf format, the "\n" included) on standard
// output.
void PrintLine(const char* szFormat, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Prints one whole line of text (its "\n" added) on standard error.
void PrintErrorLine(const std::string& strLine);

// Draws strStatus as the status line on standard error (a terminal), in
// place of the one drawn before: a carriage return, the text, and blanks
// over what is left of the longer one before.
void ShowStatus(const std::string& strStatus);

// Takes the status line away, leaving the cursor at the start of its line.
void ClearStatus();

#endif  // MIBSCAN_PLATFORM_CONSOLE_H_
