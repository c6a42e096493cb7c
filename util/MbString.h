// Narrow-string helpers that respect the process's multibyte code set.
//
// The program's own text is narrow, in the code set of the LC_CTYPE locale
// (the program calls setlocale(LC_ALL, "") at start). In a double-byte code
// set such as Shift_JIS the second byte of a character can equal an ASCII
// byte ("\x95\x5C" is one character whose trail byte is a backslash), so a
// plain byte search would cut that character in two. Every search here walks
// the string character by character with mbrlen(); a byte sequence that is
// not a valid character counts as one single-byte character.
//
// Thread use: the functions keep no state; they read the process locale.
#ifndef MIBSCAN_UTIL_MBSTRING_H_
#define MIBSCAN_UTIL_MBSTRING_H_

#include <cstddef>
#include <string>
#include <string_view>

// Byte length of the character that starts at str[nPos] (1 for a byte that
// starts no valid character). REQUIRES: nPos < str.size().
[[nodiscard]] size_t MbCharLen(std::string_view str, size_t nPos);

// Offset of the first character at or after nStart that is the single byte
// ch, or std::string_view::npos. nStart must be a character boundary.
[[nodiscard]] size_t MbFind(std::string_view str, char ch, size_t nStart = 0);

// Offset of the last character of str that is the single byte ch, or npos.
[[nodiscard]] size_t MbReverseFind(std::string_view str, char ch);

// str without its leading and trailing white space. White space is exactly
// the six bytes space, tab, line feed, vertical tab, form feed and carriage
// return, when they stand as characters of their own; nothing else is cut.
[[nodiscard]] std::string MbTrim(std::string_view str);

// The longest prefix of str of at most nMaxBytes bytes that ends on a
// character boundary: a cut never leaves half a character behind.
[[nodiscard]] std::string MbTruncate(std::string_view str, size_t nMaxBytes);

// Three-way comparison that ignores case, character by character: each
// character is mapped to upper case (towupper for a multibyte character,
// toupper for a single byte, both in the current locale) and compared as an
// unsigned code made of its bytes; a string that is a prefix of the other
// sorts first. Negative, zero or positive, as strcmp.
[[nodiscard]] int CompareNoCaseMb(std::string_view a, std::string_view b);

// ch in lower case when it is an ASCII capital letter; unchanged otherwise.
[[nodiscard]] char AsciiLower(char ch);

// Whole-string comparison that ignores the case of the ASCII letters.
[[nodiscard]] bool EqualsNoCase(std::string_view a, std::string_view b);

#endif  // MIBSCAN_UTIL_MBSTRING_H_
