#include "tests/TestAgent.h"

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "snmp/SnmpOid.h"
#include "snmp/SnmpV3.h"
#include "tests/Process.h"

namespace {

using CClock = std::chrono::steady_clock;

bool ParseHex(std::string_view strHex, std::string* pstrBytes) {
  if (strHex.size() % 2 != 0) return false;
  pstrBytes->clear();
  for (size_t i = 0; i < strHex.size(); i += 2) {
    char* pEnd = nullptr;
    const std::string strByte(strHex.substr(i, 2));
    const long nByte = std::strtol(strByte.c_str(), &pEnd, 16);
    if (*pEnd != '\0') return false;
    pstrBytes->push_back(static_cast<char>(nByte));
  }
  return true;
}

// The four bytes of a dotted-quad IPv4 address.
bool ParseDottedQuad(const std::string& strText, std::string* pstrBytes) {
  std::string strBytes;
  size_t nPos = 0;
  for (int nPart = 0; nPart < 4; ++nPart) {
    if (nPart > 0 && (nPos >= strText.size() || strText[nPos++] != '.')) return false;
    unsigned uValue = 0;
    size_t nDigits = 0;
    for (; nPos < strText.size() && strText[nPos] >= '0' && strText[nPos] <= '9' && nDigits < 4; ++nPos, ++nDigits)
      uValue = uValue * 10 + static_cast<unsigned>(strText[nPos] - '0');
    if (nDigits == 0 || nDigits > 3 || uValue > 255) return false;
    strBytes.push_back(static_cast<char>(uValue));
  }
  if (nPos != strText.size()) return false;
  *pstrBytes = strBytes;
  return true;
}

bool ParseUnsigned(const std::string& strText, uint64_t uMax, uint64_t* puValue) {
  if (strText.empty() || strText[0] == '-') return false;
  char* pEnd = nullptr;
  errno = 0;
  const unsigned long long uValue = std::strtoull(strText.c_str(), &pEnd, 10);
  if (*pEnd != '\0' || errno != 0 || uValue > uMax) return false;
  *puValue = uValue;
  return true;
}

// One snmprec value of the given tag.
bool ParseSnmprecValue(int nTag, bool bHex, const std::string& strText, AsnAny* pValue) {
  *pValue = AsnAny{};
  pValue->asnType = static_cast<uint8_t>(nTag);
  std::string strBytes = strText;
  if (bHex && !ParseHex(strText, &strBytes)) return false;
  uint64_t uValue = 0;
  switch (nTag) {
    case ASN_INTEGER: {
      char* pEnd = nullptr;
      const long long nValue = std::strtoll(strText.c_str(), &pEnd, 10);
      if (strText.empty() || *pEnd != '\0' || nValue < INT32_MIN || nValue > INT32_MAX) return false;
      pValue->nNumber = static_cast<int32_t>(nValue);
      return true;
    }
    case ASN_COUNTER32:
    case ASN_GAUGE32:
    case ASN_TIMETICKS:
    case ASN_UINTEGER32:
      if (!ParseUnsigned(strText, UINT32_MAX, &uValue)) return false;
      pValue->uUnsigned = static_cast<uint32_t>(uValue);
      return true;
    case ASN_COUNTER64:
      return ParseUnsigned(strText, UINT64_MAX, &pValue->uCounter64);
    case ASN_OBJECTIDENTIFIER:
      return SnmpMgrStrToOid("." + strText, &pValue->oid);
    case ASN_IPADDRESS:
      if (!bHex) {
        // Dotted quad, or (as snmpsim records printable addresses) the four
        // bytes themselves.
        if (!ParseDottedQuad(strText, &strBytes) && strText.size() != 4) return false;
      }
      pValue->strBytes = strBytes;
      return true;
    case ASN_NULL:
      return true;
    default:
      pValue->strBytes = strBytes;
      return true;
  }
}

// One element re-encoded in longer forms than needed; constructed
// elements are rewritten inside as well. False for bytes that are not BER.
bool WriteNonMinimal(std::string_view bytes, std::string* pstrOut) {
  while (!bytes.empty()) {
    if (bytes.size() < 2) return false;
    const auto tag = static_cast<uint8_t>(bytes[0]);
    size_t nLength = static_cast<uint8_t>(bytes[1]);
    size_t nHeader = 2;
    if (nLength & 0x80) {
      const size_t nBytes = nLength & 0x7F;
      if (nBytes == 0 || bytes.size() < 2 + nBytes) return false;
      nLength = 0;
      for (size_t i = 0; i < nBytes; ++i) nLength = (nLength << 8) | static_cast<uint8_t>(bytes[2 + i]);
      nHeader += nBytes;
    }
    if (bytes.size() - nHeader < nLength) return false;
    const std::string_view contents = bytes.substr(nHeader, nLength);
    bytes.remove_prefix(nHeader + nLength);
    std::string strContents;
    if (tag & 0x20) {
      if (!WriteNonMinimal(contents, &strContents)) return false;
    } else if (tag == ASN_INTEGER && contents.size() < 5 && !contents.empty()) {
      // Sign-extended to five bytes.
      strContents.assign(5 - contents.size(), (contents[0] & 0x80) ? '\xFF' : '\0');
      strContents.append(contents);
    } else if ((tag == ASN_COUNTER32 || tag == ASN_GAUGE32 || tag == ASN_TIMETICKS ||
                tag == ASN_UINTEGER32 || tag == ASN_COUNTER64) && !contents.empty()) {
      const size_t nFull = tag == ASN_COUNTER64 ? 9 : 5;
      if (contents.size() > 1 && contents[0] == '\0' && (contents[1] & 0x80))
        strContents.assign(contents.substr(1));  // the high bit without its 0x00
      else
        strContents.assign(nFull - std::min(nFull, contents.size()), '\0').append(contents);
    } else {
      strContents.assign(contents);
    }
    pstrOut->push_back(static_cast<char>(tag));
    // Five length bytes, the first ones zero.
    pstrOut->push_back(static_cast<char>(0x85));
    pstrOut->push_back('\0');
    for (int nShift = 24; nShift >= 0; nShift -= 8)
      pstrOut->push_back(static_cast<char>((strContents.size() >> nShift) & 0xFF));
    pstrOut->append(strContents);
  }
  return true;
}

}  // namespace

struct CTestAgent::COutgoing {
  CClock::time_point due;
  size_t nSocket;
  SUdpPeer to;
  std::string strBytes;
};

CTestAgent::CTestAgent() = default;

CTestAgent::~CTestAgent() { Stop(); }

void CTestAgent::Add(const AsnObjectIdentifier& oid, const AsnAny& value) {
  m_records[oid.ids] = value;
}

bool CTestAgent::LoadSnmprec(std::string_view text, std::string* pstrErr) {
  std::istringstream lines{std::string(text)};
  int nLine = 0;
  for (std::string strLine; std::getline(lines, strLine);) {
    ++nLine;
    if (!strLine.empty() && strLine.back() == '\r') strLine.pop_back();
    if (strLine.empty() || strLine[0] == '#') continue;
    const size_t nBar1 = strLine.find('|');
    const size_t nBar2 = nBar1 == std::string::npos ? nBar1 : strLine.find('|', nBar1 + 1);
    AsnObjectIdentifier oid;
    std::string strTag = nBar2 == std::string::npos ? "" : strLine.substr(nBar1 + 1, nBar2 - nBar1 - 1);
    const bool bHex = !strTag.empty() && strTag.back() == 'x';
    if (bHex) strTag.pop_back();
    uint64_t uTag = 0;
    AsnAny value;
    if (nBar2 == std::string::npos || !SnmpMgrStrToOid("." + strLine.substr(0, nBar1), &oid) ||
        !ParseUnsigned(strTag, 255, &uTag) ||
        !ParseSnmprecValue(static_cast<int>(uTag), bHex, strLine.substr(nBar2 + 1), &value)) {
      *pstrErr = "line " + std::to_string(nLine) + ": " + strLine;
      return false;
    }
    Add(oid, value);
    m_strRecordsText += strLine + "\n";
  }
  return true;
}

bool CTestAgent::LoadSnmprecFile(const std::string& strPath, std::string* pstrErr) {
  std::ifstream in(strPath, std::ios::binary);
  if (!in) {
    *pstrErr = "cannot read " + strPath;
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  return LoadSnmprec(text.str(), pstrErr);
}

bool CTestAgent::Start(const std::vector<std::string>& arrAddresses, uint16_t uPort) {
  Stop();
  if (IsHosted()) return StartHosted(arrAddresses, uPort);
  m_uPort = uPort;
  m_pEndpoints = std::make_unique<CUdpEndpoints>();
  if (!m_pEndpoints->IsReady()) {
    Stop();
    return false;
  }
  for (const std::string& strAddress : arrAddresses) {
    uint16_t uBound = 0;
    uint16_t uOther = 0;
    const int nMain = m_pEndpoints->Bind(strAddress, m_uPort, &uBound);
    // The second port is only bound when asked for: large benchmarks serve
    // a thousand addresses from one process.
    const int nOther = m_misbehaviour.bOtherPortFirst || m_misbehaviour.bOnlyFromOtherPort
                           ? m_pEndpoints->Bind(strAddress, 0, &uOther)
                           : -2;
    if (nMain < 0 || nOther == -1) {
      Stop();
      return false;
    }
    m_arrMain.push_back(static_cast<size_t>(nMain));
    if (nOther >= 0) m_arrOther.push_back(static_cast<size_t>(nOther));
    m_uPort = uBound;  // the first address fixes the port of the others
  }
  m_nRequests = 0;
  m_random.seed(m_misbehaviour.uRandomSeed);
  m_thread = std::thread([this] { Serve(); });
  return true;
}

void CTestAgent::Stop() {
  if (m_pHostDir) StopHosted();
  if (m_thread.joinable()) {
    m_pEndpoints->Stop();
    m_thread.join();
  }
  m_pEndpoints.reset();
  m_arrMain.clear();
  m_arrOther.clear();
}

void CTestAgent::Serve() {
  // Which address each socket serves; other ports only send.
  std::vector<int> arrAddressOf;
  for (size_t i = 0; i < m_arrMain.size(); ++i) {
    if (arrAddressOf.size() <= m_arrMain[i]) arrAddressOf.resize(m_arrMain[i] + 1, -1);
    arrAddressOf[m_arrMain[i]] = static_cast<int>(i);
  }
  std::vector<COutgoing> arrPending;  // delayed answers, in the order queued
  std::vector<char> buffer(65535);
  std::vector<size_t> arrReady;
  while (true) {
    int nWaitMs = -1;
    if (!arrPending.empty()) {
      const auto due = std::min_element(arrPending.begin(), arrPending.end(),
                                        [](const auto& a, const auto& b) { return a.due < b.due; })->due;
      nWaitMs = static_cast<int>(std::max<int64_t>(
          0, std::chrono::ceil<std::chrono::milliseconds>(due - CClock::now()).count()));
    }
    if (!m_pEndpoints->Wait(nWaitMs, &arrReady)) return;
    for (const size_t nSocket : arrReady) {
      SUdpPeer from;
      size_t nLen = 0;
      if (!m_pEndpoints->ReceiveFrom(nSocket, &buffer, &nLen, &from)) continue;
      if (nSocket >= arrAddressOf.size() || arrAddressOf[nSocket] < 0) continue;
      const auto nAddress = static_cast<size_t>(arrAddressOf[nSocket]);
      m_nRequests.fetch_add(1);
      bool bFromOtherPort = false;
      const auto arrAnswers = Answer(std::string_view(buffer.data(), nLen), &bFromOtherPort);
      auto due = CClock::now() + std::chrono::milliseconds(m_misbehaviour.nDelayMs + m_nHoldAnswerMs);
      if (m_misbehaviour.nServiceMs > 0 && !arrAnswers.empty()) {
        due = std::max(due, m_lastServed) + std::chrono::milliseconds(m_misbehaviour.nServiceMs);
        m_lastServed = due;
      }
      m_nHoldAnswerMs = 0;
      // The copy from the other port, when asked for, goes out first.
      if (bFromOtherPort && !arrAnswers.empty())
        arrPending.push_back({due, m_arrOther[nAddress], from, arrAnswers.back()});
      const size_t nAnswerSocket = m_misbehaviour.bOnlyFromOtherPort ? m_arrOther[nAddress] : nSocket;
      for (const std::string& strAnswer : arrAnswers) arrPending.push_back({due, nAnswerSocket, from, strAnswer});
    }
    const auto now = CClock::now();
    for (auto it = arrPending.begin(); it != arrPending.end();) {
      if (it->due > now) {
        ++it;
        continue;
      }
      m_pEndpoints->SendTo(it->nSocket, it->strBytes, it->to);
      it = arrPending.erase(it);
    }
  }
}

int CTestAgent::RequestCount() const {
  // A count read twice the same, a few milliseconds apart, has caught up
  // with the datagrams sent: a re-send still queued for the agent's thread
  // (or, hosted, a count the host has yet to write) is not missed.
  const auto read = [this] {
    if (!m_pHostDir) return m_nRequests.load();
    // The host writes the count as it changes.
    std::ifstream in(m_pHostDir->Path() / "count");
    int nCount = -1;
    in >> nCount;
    return nCount;
  };
  for (int nCount = read();;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const int nAgain = read();
    if (nAgain == nCount) return nCount;
    nCount = nAgain;
  }
}

int CTestAgent::RequestCountOnceAtLeast(int nAtLeast) const {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (RequestCount() < nAtLeast && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  return RequestCount();
}

bool CTestAgent::IsHosted() { return std::string_view(MIBSCAN_AGENT_HOST) != ""; }

std::string CTestAgent::Settings(const std::vector<std::string>& arrAddresses, uint16_t uPort) const {
  const CMisbehaviour& m = m_misbehaviour;
  std::ostringstream settings;
  settings << "community " << m_strCommunity << "\nport " << uPort << "\n";
  for (const std::string& strAddress : arrAddresses) settings << "address " << strAddress << "\n";
  settings << "silentAfter " << m.nSilentAfter << "\nsilentAboveRepetitions " << m.nSilentAboveRepetitions
           << "\nerrorStatus " << m.nErrorStatus << "\nrepeatOid " << m.bRepeatOid
       << "\ngoBackwards " << m.bGoBackwards << "\ngarbageFirst " << m.bGarbageFirst << "\nwrongIdFirst "
       << m.bWrongIdFirst << "\nwrongCommunityFirst " << m.bWrongCommunityFirst << "\notherPortFirst "
       << m.bOtherPortFirst << "\nonlyFromOtherPort " << m.bOnlyFromOtherPort << "\ndelayMs " << m.nDelayMs << "\nserviceMs " << m.nServiceMs << "\nnonMinimal " << m.bNonMinimal << "\nmaxBindings "
       << m.nMaxBindings << "\nbulkRepetitions " << m.nBulkRepetitions << "\nversion1Errors " << m.bVersion1Errors
       << "\nerrorsWithoutBindings " << m.bErrorsWithoutBindings << "\nendOfViewElsewhere "
       << m.bEndOfViewElsewhere << "\nlastGoesBack " << m.bLastGoesBack << "\noutOfOrderAbove " << m.nOutOfOrderAbove << "\nrandomSeed " << m.uRandomSeed
       << "\ninterruptBeforeAnswer " << m.nInterruptBeforeAnswer << "\nrestartAtRequest " << m.nRestartAtRequest
       << "\n";
  if (!m.strInterruptPidFile.empty()) settings << "interruptPidFile " << LinuxPathOf(m.strInterruptPidFile) << "\n";
  for (int nRequest : m.setErrorRequests) settings << "errorRequest " << nRequest << "\n";
  for (const std::string& strOid : m.setUnreadable) settings << "unreadable " << strOid << "\n";
  return settings.str();
}

bool CTestAgent::LoadSettings(std::string_view settings, std::vector<std::string>* pArrAddresses, uint16_t* puPort) {
  CMisbehaviour m;
  std::istringstream lines{std::string(settings)};
  for (std::string strKey, strValue; lines >> strKey && lines >> strValue;) {
    const int nValue = std::atoi(strValue.c_str());
    if (strKey == "community") m_strCommunity = strValue;
    else if (strKey == "port") *puPort = static_cast<uint16_t>(nValue);
    else if (strKey == "address") pArrAddresses->push_back(strValue);
    else if (strKey == "silentAfter") m.nSilentAfter = nValue;
    else if (strKey == "silentAboveRepetitions") m.nSilentAboveRepetitions = nValue;
    else if (strKey == "errorStatus") m.nErrorStatus = nValue;
    else if (strKey == "repeatOid") m.bRepeatOid = nValue != 0;
    else if (strKey == "goBackwards") m.bGoBackwards = nValue != 0;
    else if (strKey == "garbageFirst") m.bGarbageFirst = nValue != 0;
    else if (strKey == "wrongIdFirst") m.bWrongIdFirst = nValue != 0;
    else if (strKey == "wrongCommunityFirst") m.bWrongCommunityFirst = nValue != 0;
    else if (strKey == "otherPortFirst") m.bOtherPortFirst = nValue != 0;
    else if (strKey == "onlyFromOtherPort") m.bOnlyFromOtherPort = nValue != 0;
    else if (strKey == "delayMs") m.nDelayMs = nValue;
    else if (strKey == "serviceMs") m.nServiceMs = nValue;
    else if (strKey == "nonMinimal") m.bNonMinimal = nValue != 0;
    else if (strKey == "maxBindings") m.nMaxBindings = nValue;
    else if (strKey == "bulkRepetitions") m.nBulkRepetitions = nValue;
    else if (strKey == "version1Errors") m.bVersion1Errors = nValue != 0;
    else if (strKey == "errorsWithoutBindings") m.bErrorsWithoutBindings = nValue != 0;
    else if (strKey == "endOfViewElsewhere") m.bEndOfViewElsewhere = nValue != 0;
    else if (strKey == "lastGoesBack") m.bLastGoesBack = nValue != 0;
    else if (strKey == "outOfOrderAbove") m.nOutOfOrderAbove = nValue;
    else if (strKey == "restartAtRequest") m.nRestartAtRequest = nValue;
    else if (strKey == "randomSeed") m.uRandomSeed = static_cast<uint32_t>(std::strtoul(strValue.c_str(), nullptr, 10));
    else if (strKey == "interruptBeforeAnswer") m.nInterruptBeforeAnswer = nValue;
    else if (strKey == "interruptPidFile") m.strInterruptPidFile = strValue;
    else if (strKey == "errorRequest") m.setErrorRequests.insert(nValue);
    else if (strKey == "unreadable") m.setUnreadable.insert(strValue);
    else return false;
  }
  m_misbehaviour = m;
  return true;
}

namespace {

// Waits up to nSeconds for the file at path; false when it did not come.
bool WaitForFile(const std::filesystem::path& path, int nSeconds) {
  for (int nWaited = 0; nWaited < nSeconds * 500; ++nWaited) {
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return false;
}

}  // namespace

bool CTestAgent::StartHosted(const std::vector<std::string>& arrAddresses, uint16_t uPort) {
  m_pHostDir = std::make_unique<CTempDir>();
  m_pHostDir->WriteFile("records.snmprec", m_strRecordsText);
  m_pHostDir->WriteFile("agent.conf", Settings(arrAddresses, uPort));
  std::ifstream port;
  if (!StartInBackground(MIBSCAN_AGENT_HOST, {LinuxPathOf(m_pHostDir->Path().string())}) ||
      !WaitForFile(m_pHostDir->Path() / "port", 20)) {
    m_pHostDir.reset();
    return false;
  }
  port.open(m_pHostDir->Path() / "port");
  int nPort = 0;
  port >> nPort;
  if (nPort <= 0) {
    StopHosted();
    return false;
  }
  m_uPort = static_cast<uint16_t>(nPort);
  return true;
}

void CTestAgent::StopHosted() {
  m_pHostDir->WriteFile("stop", "");
  (void)WaitForFile(m_pHostDir->Path() / "stopped", 20);
  m_pHostDir.reset();
}

std::vector<std::string> CTestAgent::Answer(std::string_view request, bool* pbFromOtherPort) {
  const int nRequest = m_nRequests.load();
  CSnmpMessage message;
  if (!DecodeSnmpMessage(request, &message)) {
    std::string strAnswer = AnswerVersion3(request);
    if (strAnswer.empty()) return {};
    return {strAnswer};
  }
  if (
      (message.nVersion != SNMP_VERSION_1 && message.nVersion != SNMP_VERSION_2C) ||
      message.strCommunity != m_strCommunity ||
      (message.pduType != SNMP_PDU_GET && message.pduType != SNMP_PDU_GETNEXT &&
       (message.pduType != SNMP_PDU_GETBULK || message.nVersion == SNMP_VERSION_1)))
    return {};
  if (m_misbehaviour.nSilentAfter >= 0 && nRequest > m_misbehaviour.nSilentAfter) return {};
  if (IsSilentToBulk(message)) return {};
  if (m_misbehaviour.setErrorRequests.count(nRequest) > 0) {
    message.nErrorStatus = m_misbehaviour.nErrorStatus;
    message.nErrorIndex = 1;
  } else if (m_misbehaviour.uRandomSeed != 0 && message.pduType != SNMP_PDU_GET) {
    const bool bVersion1 = message.nVersion == SNMP_VERSION_1 || m_misbehaviour.bVersion1Errors;
    bool bError = false;
    SnmpVarBindList answer = RandomAnswer(message.bindings, bVersion1, &bError);
    message.nErrorStatus = bError ? SNMP_ERRORSTATUS_NOSUCHNAME : SNMP_ERRORSTATUS_NOERROR;
    message.nErrorIndex = bError ? 1 : 0;
    if (!bError) message.bindings = std::move(answer);
  } else if (message.nVersion == SNMP_VERSION_2C && !m_misbehaviour.bVersion1Errors) {
    RespondVersion2(&message);
  } else {
    // SNMPv1 (a GETBULK, asked of an agent that answers as SNMPv1 does,
    // is answered as a GET-NEXT).
    message.nErrorStatus = 0;
    message.nErrorIndex = 0;
    Respond(&message);
  }
  const bool bContinuation = message.pduType != SNMP_PDU_GET;
  message.pduType = SNMP_PDU_RESPONSE;
  if (m_misbehaviour.bLastGoesBack && bContinuation && !m_records.empty() &&
      message.nErrorStatus == SNMP_ERRORSTATUS_NOERROR)
    message.bindings.push_back({{m_records.begin()->first}, m_records.begin()->second});
  if (const auto nKeep = static_cast<size_t>(m_misbehaviour.nOutOfOrderAbove); nKeep > 0 && bContinuation) {
    for (size_t i = nKeep; i < message.bindings.size(); ++i) message.bindings[i] = message.bindings[i - nKeep];
  }
  if (m_misbehaviour.bErrorsWithoutBindings && message.nErrorStatus != SNMP_ERRORSTATUS_NOERROR)
    message.bindings.clear();
  for (SnmpVarBind& varBind : message.bindings) {
    if (m_misbehaviour.nRestartAtRequest > 0 && nRequest >= m_misbehaviour.nRestartAtRequest &&
        varBind.value.asnType == ASN_TIMETICKS && OidToText(varBind.name) == "1.3.6.1.2.1.1.3.0")
      varBind.value.uUnsigned = 7;
    if (m_misbehaviour.setUnreadable.count(OidToText(varBind.name)) == 0) continue;
    varBind.value = AsnAny{};
    varBind.value.asnType = ASN_INTEGER;
    varBind.value.bMalformed = true;
    varBind.value.strBytes = std::string("\x01\0\0\0\0\0", 6);
  }
  std::vector<std::string> arrOut;
  std::string strAnswer;
  if (!EncodeSnmpMessage(message, &strAnswer)) return {};
  if (m_misbehaviour.bNonMinimal) {
    std::string strLong;
    if (!WriteNonMinimal(strAnswer, &strLong)) return {};
    strAnswer = std::move(strLong);
  }
  if (m_misbehaviour.bGarbageFirst) arrOut.push_back(strAnswer.substr(0, strAnswer.size() / 2));
  if (m_misbehaviour.bWrongIdFirst) {
    CSnmpMessage other = message;
    other.nRequestId ^= 0x5A5A;
    (void)EncodeSnmpMessage(other, &arrOut.emplace_back());
  }
  if (m_misbehaviour.bWrongCommunityFirst) {
    CSnmpMessage other = message;
    other.strCommunity += "x";
    (void)EncodeSnmpMessage(other, &arrOut.emplace_back());
  }
  *pbFromOtherPort = m_misbehaviour.bOtherPortFirst;
  arrOut.push_back(strAnswer);
  if (m_misbehaviour.nInterruptBeforeAnswer == nRequest && InterruptProcessOfPidFile(m_misbehaviour.strInterruptPidFile))
    m_nHoldAnswerMs = c_nHoldAfterInterruptMs;
  return arrOut;
}

void CTestAgent::RespondVersion2(CSnmpMessage* pMessage) const {
  const SnmpVarBindList request = pMessage->bindings;
  const auto exception = [](uint8_t tag) {
    AsnAny value;
    value.asnType = tag;
    return value;
  };
  // The record after name, or endOfMibView.
  const auto next = [&](const AsnObjectIdentifier& name) {
    SnmpVarBind varBind{name, exception(SNMP_EXCEPTION_ENDOFMIBVIEW)};
    if (m_misbehaviour.bEndOfViewElsewhere) varBind.name.ids.push_back(0);
    const auto it = m_records.upper_bound(name.ids);
    if (it != m_records.end()) varBind = {{it->first}, it->second};
    return varBind;
  };
  SnmpVarBindList answer;
  if (pMessage->pduType == SNMP_PDU_GET) {
    for (const SnmpVarBind& asked : request) {
      const auto it = m_records.find(asked.name.ids);
      if (it != m_records.end()) {
        answer.push_back({asked.name, it->second});
        continue;
      }
      std::vector<uint32_t> parent = asked.name.ids;
      if (!parent.empty()) parent.pop_back();
      const auto itBelow = m_records.lower_bound(parent);
      const bool bObjectKnown = itBelow != m_records.end() && itBelow->first.size() >= parent.size() &&
                                std::equal(parent.begin(), parent.end(), itBelow->first.begin());
      answer.push_back({asked.name, exception(bObjectKnown ? SNMP_EXCEPTION_NOSUCHINSTANCE
                                                           : SNMP_EXCEPTION_NOSUCHOBJECT)});
    }
  } else if (pMessage->pduType == SNMP_PDU_GETNEXT) {
    for (const SnmpVarBind& asked : request) answer.push_back(next(asked.name));
  } else {
    // GETBULK (RFC 3416 4.2.3): the non-repeaters once, the rest repeated.
    const size_t nNonRepeaters = static_cast<size_t>(std::clamp<int32_t>(pMessage->nErrorStatus, 0, static_cast<int32_t>(request.size())));
    const int nRepetitions = m_misbehaviour.nBulkRepetitions > 0 ? m_misbehaviour.nBulkRepetitions
                                                                 : std::max<int32_t>(pMessage->nErrorIndex, 0);
    for (size_t i = 0; i < nNonRepeaters; ++i) answer.push_back(next(request[i].name));
    std::vector<AsnObjectIdentifier> arrLast;
    for (size_t i = nNonRepeaters; i < request.size(); ++i) arrLast.push_back(request[i].name);
    for (int r = 0; r < nRepetitions && !arrLast.empty(); ++r) {
      bool bAllEnded = true;
      for (AsnObjectIdentifier& last : arrLast) {
        answer.push_back(next(last));
        last = answer.back().name;
        bAllEnded = bAllEnded && answer.back().value.asnType == SNMP_EXCEPTION_ENDOFMIBVIEW;
      }
      if (bAllEnded) break;
    }
  }
  pMessage->nErrorStatus = SNMP_ERRORSTATUS_NOERROR;
  pMessage->nErrorIndex = 0;
  if (m_misbehaviour.nMaxBindings > 0 && answer.size() > static_cast<size_t>(m_misbehaviour.nMaxBindings)) {
    pMessage->nErrorStatus = SNMP_ERRORSTATUS_TOOBIG;
    pMessage->bindings = request;
    return;
  }
  pMessage->bindings = std::move(answer);
}

void CTestAgent::Respond(CSnmpMessage* pMessage) const {
  const SnmpVarBindList request = pMessage->bindings;
  for (size_t i = 0; i < pMessage->bindings.size(); ++i) {
    SnmpVarBind& varBind = pMessage->bindings[i];
    auto it = m_records.end();
    if (pMessage->pduType == SNMP_PDU_GET) {
      it = m_records.find(varBind.name.ids);
    } else if (m_misbehaviour.bRepeatOid) {
      it = m_records.lower_bound(varBind.name.ids);
      if (it != m_records.end()) {
        varBind.value = it->second;  // the requested name comes back unchanged
        continue;
      }
    } else if (m_misbehaviour.bGoBackwards && !m_records.empty() &&
               m_records.begin()->first < varBind.name.ids) {
      it = m_records.begin();
    } else {
      it = m_records.upper_bound(varBind.name.ids);
    }
    if (it == m_records.end()) {
      // SNMPv1 (RFC 1157 4.1.2/4.1.3): noSuchName, the request's bindings.
      pMessage->nErrorStatus = SNMP_ERRORSTATUS_NOSUCHNAME;
      pMessage->nErrorIndex = static_cast<int32_t>(i + 1);
      pMessage->bindings = request;
      return;
    }
    varBind.name.ids = it->first;
    varBind.value = it->second;
  }
}

SnmpVarBindList CTestAgent::RandomAnswer(const SnmpVarBindList& request, bool bVersion1, bool* pbError) {
  *pbError = false;
  SnmpVarBindList answer;
  if (request.empty() || m_records.empty()) return answer;
  const auto draw = [this](uint32_t uBelow) { return static_cast<uint32_t>(m_random() % uBelow); };
  AsnObjectIdentifier previous = request.front().name;
  const uint32_t nBindings = 1 + draw(8);
  for (uint32_t n = 0; n < nBindings; ++n) {
    const uint32_t uKind = draw(100);
    SnmpVarBind varBind;
    if (uKind < 55) {  // forward: the record after the binding before
      const auto it = m_records.upper_bound(previous.ids);
      if (it == m_records.end()) {
        if (bVersion1) {
          *pbError = true;
          return {};
        }
        varBind = {previous, AsnAny{}};
        varBind.value.asnType = SNMP_EXCEPTION_ENDOFMIBVIEW;
      } else {
        varBind = {{it->first}, it->second};
      }
    } else if (uKind < 75) {  // backward: a record at or before the one asked for
      auto itEnd = m_records.upper_bound(request.front().name.ids);
      const auto nBefore = static_cast<uint32_t>(std::distance(m_records.begin(), itEnd));
      auto it = m_records.begin();
      if (nBefore > 0) std::advance(it, draw(nBefore));
      varBind = {{it->first}, it->second};
    } else if (uKind < 85) {  // the binding before again
      varBind = answer.empty() ? SnmpVarBind{request.front().name, m_records.begin()->second} : answer.back();
    } else if (uKind < 98) {  // an OID outside the records, before or after them
      const uint32_t uFirst = draw(3);
      varBind.name.ids = {uFirst, uFirst < 2 ? draw(40) : draw(1000), draw(10), draw(10)};
      varBind.value.asnType = ASN_INTEGER;
      varBind.value.nNumber = static_cast<int32_t>(draw(1000));
    } else {  // the end of the view
      if (bVersion1) {
        *pbError = true;
        return {};
      }
      varBind = {previous, AsnAny{}};
      varBind.value.asnType = SNMP_EXCEPTION_ENDOFMIBVIEW;
    }
    previous = varBind.name;
    answer.push_back(std::move(varBind));
  }
  return answer;
}

bool CTestAgent::IsSilentToBulk(const CSnmpMessage& request) const {
  return m_misbehaviour.nSilentAboveRepetitions >= 0 && request.pduType == SNMP_PDU_GETBULK &&
         request.nErrorIndex > m_misbehaviour.nSilentAboveRepetitions;
}

std::string CTestAgent::AnswerVersion3(std::string_view request) {
  CSnmpV3Message message;
  size_t nAuthOffset = 0;
  if (!DecodeSnmpV3Message(request, &message, &nAuthOffset) || (message.flags & (SNMP_FLAG_AUTH | SNMP_FLAG_PRIV)) != 0)
    return {};
  if (m_misbehaviour.nSilentAfter >= 0 && m_nRequests.load() > m_misbehaviour.nSilentAfter) return {};
  CSnmpV3Message answer;
  answer.nMessageId = message.nMessageId;
  answer.usm.strEngineId = std::string(c_szAgentEngineId, sizeof c_szAgentEngineId - 1);
  answer.usm.nEngineBoots = 1;
  answer.usm.nEngineTime = 100;
  answer.usm.strUserName = message.usm.strUserName;
  answer.strContextEngineId = answer.usm.strEngineId;
  answer.strContextName = message.strContextName;
  if (message.usm.strEngineId.empty()) {
    // Discovery (RFC 3414 4): usmStatsUnknownEngineIDs.0 in a report.
    answer.pdu.pduType = SNMP_PDU_REPORT;
    answer.pdu.nRequestId = message.pdu.nRequestId;
    SnmpVarBind stats;
    stats.name.ids = {1, 3, 6, 1, 6, 3, 15, 1, 1, 4, 0};
    stats.value.asnType = ASN_COUNTER32;
    stats.value.uUnsigned = 1;
    answer.pdu.bindings.push_back(stats);
  } else {
    CSnmpMessage pdu = message.pdu;
    pdu.nVersion = SNMP_VERSION_2C;
    pdu.strCommunity = m_strCommunity;
    std::string strV2;
    std::vector<std::string> arrAnswers;
    bool bFromOtherPort = false;
    // The same answer an SNMPv2c request would get.
    if (!EncodeSnmpMessage(pdu, &strV2)) return {};
    arrAnswers = Answer(strV2, &bFromOtherPort);
    if (arrAnswers.empty() || !DecodeSnmpMessage(arrAnswers.back(), &answer.pdu)) return {};
  }
  std::string strOut;
  if (!EncodeSnmpV3Message(answer, &strOut, &nAuthOffset)) return {};
  return strOut;
}
