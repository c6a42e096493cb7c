#include "snmp/SnmpOid.h"

#include <algorithm>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

using COidPath = std::vector<uint32_t>;

// The named nodes: the children of each parent, numbered 1, 2, 3, ... in
// the order written; "-" marks a number without a name here.
struct CNameGroup {
  const char* szParent;  // dotted path from the root; "" is the root
  const char* szChildren;
};

constexpr CNameGroup c_nameGroups[] = {
    {"", "iso"},
    {"1", "- - org"},
    {"1.3", "- - - - - dod"},
    {"1.3.6", "internet"},
    {"1.3.6.1", "directory mgmt experimental private"},
    {"1.3.6.1.2", "mib-2"},
    {"1.3.6.1.4", "enterprises"},
    {"1.3.6.1.2.1", "system interfaces at ip icmp tcp udp egp - transmission snmp"},
    {"1.3.6.1.2.1.1", "sysDescr sysObjectID sysUpTime sysContact sysName sysLocation sysServices"},
    {"1.3.6.1.2.1.2", "ifNumber ifTable"},
    {"1.3.6.1.2.1.2.2", "ifEntry"},
    {"1.3.6.1.2.1.2.2.1",
     "ifIndex ifDescr ifType ifMtu ifSpeed ifPhysAddress ifAdminStatus ifOperStatus "
     "ifLastChange ifInOctets ifInUcastPkts ifInNUcastPkts ifInDiscards ifInErrors "
     "ifInUnknownProtos ifOutOctets ifOutUcastPkts ifOutNUcastPkts ifOutDiscards ifOutErrors "
     "ifOutQLen ifSpecific"},
    {"1.3.6.1.2.1.3", "atTable"},
    {"1.3.6.1.2.1.3.1", "atEntry"},
    {"1.3.6.1.2.1.3.1.1", "atIfIndex atPhysAddress atNetAddress"},
    {"1.3.6.1.2.1.4",
     "ipForwarding ipDefaultTTL ipInReceives ipInHdrErrors ipInAddrErrors ipForwDatagrams "
     "ipInUnknownProtos ipInDiscards ipInDelivers ipOutRequests ipOutDiscards ipOutNoRoutes "
     "ipReasmTimeout ipReasmReqds ipReasmOKs ipReasmFails ipFragOKs ipFragFails ipFragCreates "
     "ipAddrTable ipRouteTable ipNetToMediaTable ipRoutingDiscards"},
    {"1.3.6.1.2.1.4.20", "ipAddrEntry"},
    {"1.3.6.1.2.1.4.20.1",
     "ipAdEntAddr ipAdEntIfIndex ipAdEntNetMask ipAdEntBcastAddr ipAdEntReasmMaxSize"},
    {"1.3.6.1.2.1.4.21", "ipRouteEntry"},
    {"1.3.6.1.2.1.4.21.1",
     "ipRouteDest ipRouteIfIndex ipRouteMetric1 ipRouteMetric2 ipRouteMetric3 ipRouteMetric4 "
     "ipRouteNextHop ipRouteType ipRouteProto ipRouteAge ipRouteMask ipRouteMetric5 "
     "ipRouteInfo"},
    {"1.3.6.1.2.1.4.22", "ipNetToMediaEntry"},
    {"1.3.6.1.2.1.4.22.1",
     "ipNetToMediaIfIndex ipNetToMediaPhysAddress ipNetToMediaNetAddress ipNetToMediaType"},
    {"1.3.6.1.2.1.5",
     "icmpInMsgs icmpInErrors icmpInDestUnreachs icmpInTimeExcds icmpInParmProbs "
     "icmpInSrcQuenchs icmpInRedirects icmpInEchos icmpInEchoReps icmpInTimestamps "
     "icmpInTimestampReps icmpInAddrMasks icmpInAddrMaskReps icmpOutMsgs icmpOutErrors "
     "icmpOutDestUnreachs icmpOutTimeExcds icmpOutParmProbs icmpOutSrcQuenchs "
     "icmpOutRedirects icmpOutEchos icmpOutEchoReps icmpOutTimestamps icmpOutTimestampReps "
     "icmpOutAddrMasks icmpOutAddrMaskReps"},
    {"1.3.6.1.2.1.6",
     "tcpRtoAlgorithm tcpRtoMin tcpRtoMax tcpMaxConn tcpActiveOpens tcpPassiveOpens "
     "tcpAttemptFails tcpEstabResets tcpCurrEstab tcpInSegs tcpOutSegs tcpRetransSegs "
     "tcpConnTable tcpInErrs tcpOutRsts"},
    {"1.3.6.1.2.1.6.13", "tcpConnEntry"},
    {"1.3.6.1.2.1.6.13.1",
     "tcpConnState tcpConnLocalAddress tcpConnLocalPort tcpConnRemAddress tcpConnRemPort"},
    {"1.3.6.1.2.1.7", "udpInDatagrams udpNoPorts udpInErrors udpOutDatagrams udpTable"},
    {"1.3.6.1.2.1.7.5", "udpEntry"},
    {"1.3.6.1.2.1.7.5.1", "udpLocalAddress udpLocalPort"},
    {"1.3.6.1.2.1.8", "egpInMsgs egpInErrors egpOutMsgs egpOutErrors egpNeighTable egpAs"},
    {"1.3.6.1.2.1.8.5", "egpNeighEntry"},
    {"1.3.6.1.2.1.8.5.1",
     "egpNeighState egpNeighAddr egpNeighAs egpNeighInMsgs egpNeighInErrs egpNeighOutMsgs "
     "egpNeighOutErrs egpNeighInErrMsgs egpNeighOutErrMsgs egpNeighStateUps "
     "egpNeighStateDowns egpNeighIntervalHello egpNeighIntervalPoll egpNeighMode "
     "egpNeighEventTrigger"},
    {"1.3.6.1.2.1.11",
     "snmpInPkts snmpOutPkts snmpInBadVersions snmpInBadCommunityNames "
     "snmpInBadCommunityUses snmpInASNParseErrs - snmpInTooBigs snmpInNoSuchNames "
     "snmpInBadValues snmpInReadOnlys snmpInGenErrs snmpInTotalReqVars snmpInTotalSetVars "
     "snmpInGetRequests snmpInGetNexts snmpInSetRequests snmpInGetResponses snmpInTraps "
     "snmpOutTooBigs snmpOutNoSuchNames snmpOutBadValues - snmpOutGenErrs "
     "snmpOutGetRequests snmpOutGetNexts snmpOutSetRequests snmpOutGetResponses "
     "snmpOutTraps snmpEnableAuthenTraps"},
};

const COidPath c_mib2 = {1, 3, 6, 1, 2, 1};

// A decimal label, 0 to 4294967295.
bool ParseNumber(std::string_view label, uint32_t* puValue) {
  if (label.empty()) return false;
  uint64_t uValue = 0;
  for (char ch : label) {
    if (ch < '0' || ch > '9') return false;
    uValue = uValue * 10 + static_cast<uint64_t>(ch - '0');
    if (uValue > std::numeric_limits<uint32_t>::max()) return false;
  }
  *puValue = static_cast<uint32_t>(uValue);
  return true;
}

using CNameTable = std::map<std::string, COidPath, std::less<>>;

// Name to path, built once from the groups (thread-safe static
// initialisation) and read-only afterwards.
const CNameTable& NameTable() {
  static const CNameTable table = [] {
    CNameTable map;
    for (const CNameGroup& group : c_nameGroups) {
      COidPath parent;
      std::string_view strParent = group.szParent;
      while (!strParent.empty()) {
        const size_t nDot = strParent.find('.');
        uint32_t uArc = 0;
        (void)ParseNumber(strParent.substr(0, nDot), &uArc);  // table text, always a number
        parent.push_back(uArc);
        strParent = nDot == std::string_view::npos ? "" : strParent.substr(nDot + 1);
      }
      std::istringstream names(group.szChildren);
      uint32_t uNumber = 1;
      for (std::string strName; names >> strName; ++uNumber) {
        if (strName == "-") continue;
        COidPath path = parent;
        path.push_back(uNumber);
        map.emplace(strName, std::move(path));
      }
    }
    return map;
  }();
  return table;
}

}  // namespace

bool SnmpMgrStrToOid(std::string_view strText, AsnObjectIdentifier* pOid) {
  const bool bAbsolute = !strText.empty() && strText.front() == '.';
  if (bAbsolute) strText.remove_prefix(1);
  if (strText.empty()) return false;
  COidPath path = bAbsolute ? COidPath{} : c_mib2;
  bool bFirst = true;
  while (true) {
    const size_t nDot = strText.find('.');
    const std::string_view label = strText.substr(0, nDot);
    uint32_t uNumber = 0;
    if (ParseNumber(label, &uNumber)) {
      path.push_back(uNumber);
    } else {
      const auto& table = NameTable();
      const auto it = table.find(label);
      if (it == table.end()) return false;
      const COidPath& named = it->second;
      const bool bChild = named.size() == path.size() + 1 &&
                          std::equal(path.begin(), path.end(), named.begin());
      if (!bChild && !(bFirst && !bAbsolute)) return false;
      path = named;
    }
    bFirst = false;
    if (nDot == std::string_view::npos) break;
    strText.remove_prefix(nDot + 1);
  }
  pOid->ids = std::move(path);
  return true;
}

std::string OidToText(const AsnObjectIdentifier& oid) {
  std::string strText;
  for (size_t i = 0; i < oid.ids.size(); ++i) {
    if (i > 0) strText += '.';
    strText += std::to_string(oid.ids[i]);
  }
  return strText;
}
