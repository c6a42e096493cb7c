#include <unistd.h>

#include "platform/Console.h"

bool IsTerminal(std::FILE* pStream) { return isatty(fileno(pStream)) != 0; }
