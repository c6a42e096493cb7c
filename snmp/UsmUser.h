// The user of an SNMPv3 session, as the settings name it.
#ifndef MIBSCAN_SNMP_USMUSER_H_
#define MIBSCAN_SNMP_USMUSER_H_

#include <string>

#include "snmp/UsmCrypto.h"

// The user of an SNMPv3 session and what it needs: its security name, the
// authentication and privacy protocols with their passwords (None: that
// level is off) and the context name.
struct CSnmpV3Security {
  std::string strUser;
  EAuthProtocol auth = EAuthProtocol::None;
  std::string strAuthPassword;
  EPrivProtocol priv = EPrivProtocol::None;
  std::string strPrivPassword;
  std::string strContext;
};

#endif  // MIBSCAN_SNMP_USMUSER_H_
