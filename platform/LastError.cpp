#include "platform/LastError.h"

namespace {
thread_local uint32_t t_uLastError = 0;
thread_local int t_nLastSocketError = 0;
}  // namespace

uint32_t GetLastError() { return t_uLastError; }
void SetLastError(uint32_t uError) { t_uLastError = uError; }
int WSAGetLastError() { return t_nLastSocketError; }
void WSASetLastError(int nError) { t_nLastSocketError = nError; }
