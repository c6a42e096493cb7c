#include "mib/MIB.h"

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <exception>
#include <memory>

#include "settings/Settings.h"
#include "log/LogQueue.h"
#include "platform/Console.h"
#include "util/Base64.h"
#include "snmp/LastError.h"
#include "snmp/SnmpOid.h"
#include "snmp/SnmpSession.h"
#include "result/ResultFile.h"

namespace {

// True when the answer to a GET-NEXT or GETBULK for requested advances as
// the walk uses it: every binding names an OID after the one before it, the
// first one after requested. The next request starts from the last one, so
// an answer that goes back anywhere (the same OID, or an earlier one) would
// keep the walk going for ever; such answers count with the errors.
bool Advances(const AsnObjectIdentifier& requested, const SnmpVarBindList& answer) {
  if (answer.empty()) return false;
  const AsnObjectIdentifier* pPrevious = &requested;
  for (const SnmpVarBind& varBind : answer) {
    if (!(pPrevious->ids < varBind.name.ids)) return false;
    pPrevious = &varBind.name;
  }
  return true;
}

std::string Format(const char* szFormat, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* szFormat, ...) {
  char szText[64];
  va_list args;
  va_start(args, szFormat);
  const int nLen = std::vsnprintf(szText, sizeof szText, szFormat, args);
  va_end(args);
  return nLen > 0 ? std::string(szText, static_cast<size_t>(nLen)) : std::string();
}

// Two lowercase hex digits per byte, ":" between bytes.
std::string HexBytes(std::string_view bytes) {
  std::string strText;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) strText += ':';
    strText += Format("%02x", static_cast<unsigned>(static_cast<uint8_t>(bytes[i])));
  }
  return strText;
}

bool IsTextByte(uint8_t byte) { return byte >= 0x20 || byte == 0x0A || byte == 0x0D || byte == 0x00; }

// An OCTET STRING as text: Base64 of all its bytes when a byte is not
// text or a NUL stands before its last byte (a MAC address, a bitmap);
// otherwise the bytes up to a NUL that ends them. Text that is not
// characters of the agents' code set is Base64 as well, so no byte is
// lost or replaced in the result file. Long text is cut between
// characters, at most c_nMaxTextValue bytes in. *pbText tells whether
// the text is the bytes themselves.
std::string OctetStringText(std::string_view bytes, CUtf8Converter* pConverter, bool* pbText) {
  *pbText = false;
  if (bytes.empty()) return std::string();
  for (char ch : bytes) {
    if (!IsTextByte(static_cast<uint8_t>(ch))) return Base64Lines(bytes);
  }
  const size_t nTextLen = std::min(bytes.find('\0'), bytes.size());
  if (nTextLen + 1 < bytes.size()) return Base64Lines(bytes);
  const std::string_view text = bytes.substr(0, nTextLen);
  if (!pConverter->IsValidText(text)) return Base64Lines(bytes);
  *pbText = true;
  return std::string(text.substr(0, pConverter->CharBoundary(text, c_nMaxTextValue)));
}

// The console lines that end every walk: the socket error and the code;
// the code.
uint32_t PrintEndLines(const char* szTarget) {
  const uint32_t uLastError = GetLastError();
  PrintLine("target[%s]wsaerror:%d\n", szTarget, WSAGetLastError());
  PrintLine("target[%s]error:%d\n", szTarget, static_cast<int>(uLastError));
  return uLastError;
}

bool IsByteString(uint8_t asnType) {
  return asnType == ASN_OCTETSTRING || asnType == ASN_BITS || asnType == ASN_IPADDRESS ||
         asnType == ASN_OPAQUE;
}

}  // namespace

std::atomic<uint64_t> CMIB::s_nStoredAll{0};

CUnreadableValue::CUnreadableValue() : std::runtime_error("value cannot be decoded") {}

std::string CMIB::RenderValue(const std::string& strOid, const AsnAny& value, bool* pbText) {
  bool bText = false;
  if (pbText == nullptr) pbText = &bText;
  *pbText = false;
  if (value.bMalformed) {
    SetLastError(SNMP_MGR_ERROR_VALUE);
    throw CUnreadableValue();
  }
  uint8_t renderTag = value.asnType;
  // Physical addresses are bytes, not text. Only a byte string can be shown
  // so; any other value under the prefix keeps its own form.
  if (strOid.starts_with(c_szPhysAddressPrefix) && IsByteString(value.asnType)) renderTag = ASN_BITS;
  const char* szTarget = m_strTarget.c_str();
  switch (renderTag) {
    case ASN_INTEGER:
      return Format("%d", value.nNumber);
    case ASN_BITS:
      WriteLog("%s|length=%d", szTarget, static_cast<int>(value.strBytes.size()));
      return HexBytes(value.strBytes);
    case ASN_OCTETSTRING:
      WriteLog("%s|length=%d", szTarget, static_cast<int>(value.strBytes.size()));
      if (!m_pConverter) m_pConverter = std::make_unique<CUtf8Converter>(m_pSettings->strCharset);
      return OctetStringText(value.strBytes, m_pConverter.get(), pbText);
    case ASN_OBJECTIDENTIFIER: {
      WriteLog("%s|length=%d", szTarget, static_cast<int>(value.oid.ids.size()));
      std::string strText;
      for (size_t i = 0; i < value.oid.ids.size(); ++i) {
        if (i > 0) strText += '.';
        strText += Format("%d", static_cast<int32_t>(value.oid.ids[i]));  // signed, as shown before
      }
      return strText;
    }
    case ASN_IPADDRESS: {
      WriteLog("%s|length=%d", szTarget, static_cast<int>(value.strBytes.size()));
      if (value.strBytes.size() != 4) return std::string();
      const auto* pBytes = reinterpret_cast<const uint8_t*>(value.strBytes.data());
      return Format("%d.%d.%d.%d", pBytes[0], pBytes[1], pBytes[2], pBytes[3]);
    }
    case ASN_COUNTER32:
    case ASN_GAUGE32:
    case ASN_TIMETICKS:
    case ASN_UINTEGER32:
      return Format("%u", value.uUnsigned);
    case ASN_COUNTER64:
      return Format("%" PRIu64, value.uCounter64);
    default:
      return Format("Type.%d", static_cast<int>(renderTag));
  }
}

LPSNMP_MGR_SESSION CMIB::OpenSession(const std::string& strAgent, const std::string& strCommunity) {
  const char* szTarget = m_strTarget.c_str();
  WriteLog("%s|SnmpMgrOpen", szTarget);
  LPSNMP_MGR_SESSION pSession = nullptr;
  const CTargetSettings& settings = *m_pSettings;
  if (settings.nVersion != 3) {
    pSession = SnmpMgrOpen(strAgent.c_str(), strCommunity.c_str(), settings.nTimeout, settings.nRetry, settings.nPort,
                           settings.nVersion);
  } else if (settings.uV3SettingsError != 0) {
    // SNMPv3 settings that cannot work: nothing is sent to anybody.
    WSASetLastError(0);
    SetLastError(settings.uV3SettingsError);
  } else {
    pSession = SnmpMgrOpenV3(strAgent.c_str(), settings.v3Security, settings.nTimeout, settings.nRetry, settings.nPort);
  }
  if (pSession == nullptr) {
    WriteLog("%s|error:%d", szTarget, static_cast<int>(GetLastError()));
    // A walk that never started says why on the console too.
    m_uWalkEnd = PrintEndLines(szTarget);
  }
  return pSession;
}

void CMIB::StoreEntry(std::string_view strOid, std::string_view strValue, bool bCrText, CWalkState* pState) {
  // Marked before it is stored: should the store fail, a mark too many
  // only writes a CR of the older value as a reference.
  if (bCrText) {
    m_setCrTextKeys.emplace(strOid);
  } else if (!m_setCrTextKeys.empty()) {
    m_setCrTextKeys.erase(std::string(strOid));
  }
  const size_t nBefore = m_mapResults.GetCount();
  m_mapResults[strOid] = strValue;
  pState->nOutcome = 0;
  // Objects, not stores: a value stored again under its OID is one object.
  if (m_mapResults.GetCount() != nBefore) s_nStoredAll.fetch_add(1, std::memory_order_relaxed);
}

bool CMIB::StoreBindings(const SnmpVarBindList& bindings, CLane* pLane, CWalkState* pState) {
  const char* szTarget = m_strTarget.c_str();
  for (const SnmpVarBind& varBind : bindings) {
    if (pState->bVersion2 && varBind.value.asnType == SNMP_EXCEPTION_ENDOFMIBVIEW)
      return false;  // nothing follows in the agent's view, whatever name it came under
    // The next lane's part: that lane takes it.
    if (pLane->bBounded && pLane->end.ids < varBind.name.ids) return false;
    try {
      const std::string strOid = OidToText(varBind.name);
      if (strOid == pLane->strPreviousOid) break;
      pLane->strPreviousOid = strOid;
      WriteLog("%s|%s,%d", szTarget, strOid.c_str(), static_cast<int>(varBind.value.asnType));
      bool bText = false;
      const std::string strValue = RenderValue(strOid, varBind.value, &bText);
      const bool bCrText = bText && strValue.find('\r') != std::string::npos;
      if (pLane->bDirect) {
        StoreEntry(strOid, strValue, bCrText, pState);
      } else {
        pLane->pending.Add(strOid, strValue, bCrText);
      }
    } catch (const std::exception&) {
      WriteLog("%s|catch1:%d", szTarget, static_cast<int>(GetLastError()));
    }
  }
  return true;
}

bool CMIB::NextRequest(const AsnObjectIdentifier& requested, SnmpVarBindList* pBindings, CLane* pLane,
                       CWalkState* pState) {
  if (pLane->nErrorStatus > 0) {
    // An answer too big for the agent: ask for fewer objects, down to
    // one, before it counts.
    if (pLane->requestType == SNMP_PDU_GETBULK && pLane->nErrorStatus == SNMP_ERRORSTATUS_TOOBIG &&
        pLane->nRepetitions > 1) {
      pLane->nRepetitions /= 2;
      pBindings->assign(1, SnmpVarBind{requested, AsnAny{}});
      return true;
    }
    if (++pLane->nErrorCount > c_nMaxWalkErrors) return false;
  } else {
    if (!StoreBindings(*pBindings, pLane, pState)) return false;
    if (pLane->requestType != SNMP_PDU_GET && !Advances(requested, *pBindings) &&
        ++pLane->nErrorCount > c_nMaxWalkErrors)
      return false;
    // A GETBULK goes on from the last object received.
    if (pState->continueType == SNMP_PDU_GETBULK && pBindings->size() > 1)
      pBindings->erase(pBindings->begin(), pBindings->end() - 1);
  }
  // An answer without bindings (RFC 3416 sends tooBig so) is asked again
  // for the same OID: a request always names one.
  if (pBindings->empty()) pBindings->assign(1, SnmpVarBind{requested, AsnAny{}});
  if (!pState->bContinue) return false;
  pLane->requestType = pState->continueType;
  return true;
}

int CMIB::Walk(const char* pszStartOid, bool bContinue) {
  const char* szTarget = m_strTarget.c_str();
  WriteLog("%s|scan start: %s", szTarget, pszStartOid);
  PrintLine("target[%s]start:%s\n", szTarget, pszStartOid);
  CWalkState state;
  state.bContinue = bContinue;
  // SNMPv2c and SNMPv3: endOfMibView ends the walk, and GETBULK may ask
  // for many objects at once.
  state.bVersion2 = m_pSettings->nVersion >= 2;
  state.continueType = state.bVersion2 && m_pSettings->nMaxRepetitions > 0 ? SNMP_PDU_GETBULK : SNMP_PDU_GETNEXT;
  CLane lane;
  lane.nRepetitions = m_pSettings->nMaxRepetitions;

  WriteLog("%s|SnmpMgrStrToOid", szTarget);
  AsnObjectIdentifier startOid;
  if (!SnmpMgrStrToOid(pszStartOid, &startOid)) {
    SetLastError(SNMP_MGR_ERROR_OID);
    WSASetLastError(0);
    WriteLog("%s|error:%d", szTarget, static_cast<int>(GetLastError()));
    m_uWalkEnd = PrintEndLines(szTarget);
    return 1;
  }
  std::string strAgent;
  std::string strCommunity;
  SnmpVarBindList& bindings = lane.bindings;
  try {
    WriteLog("%s|SnmpUtilMemAlloc", szTarget);
    strAgent = m_strTarget;
    WriteLog("%s|SnmpUtilMemAlloc", szTarget);
    strCommunity = m_pSettings->strCommunity;
    WriteLog("%s|SnmpUtilMemReAlloc", szTarget);
    bindings.resize(1);
    bindings[0].name = std::move(startOid);  // the value goes as NULL
  } catch (const std::bad_alloc&) {
    // Everything acquired so far is released by its owner; the walk says
    // why it ended, as every walk does.
    SetLastError(SNMP_MGR_ERROR_MEMORY);
    WSASetLastError(0);
    m_uWalkEnd = PrintEndLines(szTarget);
    return 1;
  }
  LPSNMP_MGR_SESSION pSession = OpenSession(strAgent, strCommunity);
  if (pSession == nullptr) return 1;

  WriteLog("%s|SnmpMgrRequest", szTarget);
  bool bLeftOrdinarily = true;
  try {
    while (true) {
      // The OID asked for: the answer must pass it, and the next request
      // may have to ask for it again.
      const AsnObjectIdentifier requested = bindings.empty() ? AsnObjectIdentifier{} : bindings[0].name;
      const bool bAnswered =
          lane.requestType == SNMP_PDU_GETBULK
              ? SnmpMgrRequestBulk(pSession, lane.nRepetitions, &bindings, &lane.nErrorStatus,
                                   &lane.nErrorIndex)
              : SnmpMgrRequest(pSession, lane.requestType, &bindings, &lane.nErrorStatus, &lane.nErrorIndex);
      if (!bAnswered || !NextRequest(requested, &bindings, &lane, &state)) break;
      // Several requests in flight: the walk goes on in lanes from here.
      if (m_pSettings->nWindow > 1) {
        WalkLanes(pSession, &lane, &state);
        break;
      }
    }
  } catch (const std::bad_alloc&) {
    // Memory ran out: the walk ends here with its own code; what it stored
    // stays.
    SetLastError(SNMP_MGR_ERROR_MEMORY);
    WriteLog("%s|catch2:%d", szTarget, static_cast<int>(GetLastError()));
    bLeftOrdinarily = false;
  } catch (const std::exception&) {
    WriteLog("%s|catch2:%d", szTarget, static_cast<int>(GetLastError()));
    bLeftOrdinarily = false;
  }
  if (bLeftOrdinarily) WriteLog("%s|%d,%d", szTarget, lane.nErrorStatus, lane.nErrorIndex);
  // Answers refused to the end: no error of ours, but no success either.
  if (bLeftOrdinarily && GetLastError() == SNMP_MGR_OK && EndedOnRefusal(lane)) SetLastError(SNMP_MGR_ERROR_REFUSED);

  WriteLog("%s|GetLastError:%d", szTarget, static_cast<int>(GetLastError()));
  m_uWalkEnd = PrintEndLines(szTarget);
  WriteLog("%s|SnmpUtilVarBindListFree", szTarget);
  bindings.clear();
  WriteLog("%s|SnmpUtilMemFree", szTarget);
  strAgent.clear();
  strCommunity.clear();
  WriteLog("%s|SnmpMgrClose", szTarget);
  if (!SnmpMgrClose(pSession)) return 1;
  WriteLog("%s|scan end", szTarget);
  return state.nOutcome;
}

bool CMIB::SaveXml(const std::string& /*strTarget*/) {
  return WriteResultFile(m_strTarget, m_mapResults, m_setCrTextKeys, m_pSettings->strCharset);
}

void CMIB::ReleaseResults() {
  m_mapResults.RemoveAll();
  std::unordered_set<std::string>().swap(m_setCrTextKeys);
  m_pConverter.reset();
}
