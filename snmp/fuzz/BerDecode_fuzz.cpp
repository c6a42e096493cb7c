// Fuzz target for the SNMP message decoder, which reads untrusted
// datagrams. Beyond "no crash, no read past the datagram" (ASan), it checks
// that whatever the decoder accepts (longer-than-needed forms and
// unreadable values included) re-encodes in the shortest form, decodes to
// the same message, and that the re-encoding is stable. The seeds are
// answers recorded from snmpd and the same answers rewritten in longer
// forms ("longer-*").
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "snmp/Ber.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  CSnmpMessage message;
  if (!DecodeSnmpMessage(std::string_view(reinterpret_cast<const char*>(pData), nSize), &message))
    return 0;
  std::string strEncoded;
  if (!EncodeSnmpMessage(message, &strEncoded)) std::abort();
  CSnmpMessage again;
  if (!DecodeSnmpMessage(strEncoded, &again) || !(again == message)) std::abort();
  std::string strEncodedAgain;
  if (!EncodeSnmpMessage(again, &strEncodedAgain) || strEncodedAgain != strEncoded) std::abort();
  return 0;
}
