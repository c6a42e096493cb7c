// Base64 text of bytes (RFC 4648 alphabet, "=" padding) in the layout of
// the platform encoder the result files were first written with: lines of
// 64 characters, every line (the last one too) ended by CR LF. No bytes
// give the empty text.
#ifndef MIBSCAN_UTIL_BASE64_H_
#define MIBSCAN_UTIL_BASE64_H_

#include <string>
#include <string_view>

[[nodiscard]] std::string Base64Lines(std::string_view bytes);

#endif  // MIBSCAN_UTIL_BASE64_H_
