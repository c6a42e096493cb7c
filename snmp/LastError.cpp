#include "snmp/LastError.h"

namespace {

// Each thread has its own codes, as each thread has its own session.
uint32_t& LastErrorSlot() {
  thread_local uint32_t uLastError = 0;
  return uLastError;
}

int& LastSocketErrorSlot() {
  thread_local int nLastSocketError = 0;
  return nLastSocketError;
}

}  // namespace

uint32_t GetLastError() { return LastErrorSlot(); }
void SetLastError(uint32_t uError) { LastErrorSlot() = uError; }
int WSAGetLastError() { return LastSocketErrorSlot(); }
void WSASetLastError(int nError) { LastSocketErrorSlot() = nError; }
