#include <io.h>

#include "platform/Console.h"

bool IsTerminal(std::FILE* pStream) { return _isatty(_fileno(pStream)) != 0; }
