// Fuzz target for the SNMPv3 message decoder and its USM security
// parameters, which read untrusted datagrams before anything is
// authenticated. Whatever decodes re-encodes, decodes to the same message,
// and the code's place found on both sides is the same; an encrypted
// scoped PDU, read as a plain one (as after decryption), decodes safely.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "snmp/SnmpV3.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  const std::string_view datagram(reinterpret_cast<const char*>(pData), nSize);
  CSnmpV3Message message;
  size_t nOffset = 0;
  if (!DecodeSnmpV3Message(datagram, &message, &nOffset)) {
    CSnmpV3Message scoped;
    (void)DecodeScopedPdu(datagram, &scoped);
    return 0;
  }
  if (nOffset + message.usm.strAuthParameters.size() > nSize ||
      datagram.substr(nOffset, message.usm.strAuthParameters.size()) != message.usm.strAuthParameters)
    std::abort();
  std::string strEncoded;
  size_t nOffsetAgain = 0;
  if (!EncodeSnmpV3Message(message, &strEncoded, &nOffsetAgain)) std::abort();
  CSnmpV3Message again;
  size_t nOffsetThird = 0;
  if (!DecodeSnmpV3Message(strEncoded, &again, &nOffsetThird) || !(again == message) ||
      nOffsetThird != nOffsetAgain)
    std::abort();
  if (!message.strEncryptedPdu.empty()) (void)DecodeScopedPdu(message.strEncryptedPdu, &again);
  return 0;
}
