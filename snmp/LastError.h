// Per-thread failure codes of the SNMP manager, read the way the program
// reads GetLastError() and WSAGetLastError(). Each manager call sets both
// before it returns: 0 when nothing failed.
//
//   GetLastError()
//     0   SNMP_MGR_OK                   nothing failed
//     40  SNMP_MGMTAPI_TIMEOUT          no answer after every try
//     41  SNMP_MGMTAPI_SELECT_FDERRORS  waiting for or receiving an answer failed
//     47  SNMP_MGMTAPI_INVALID_SESSION  no session
//     48  SNMP_MGMTAPI_INVALID_BUFFER   the request cannot be encoded
//     50  SNMP_MGR_ERROR_RESOLVE        the agent's name or address does not resolve
//     51  SNMP_MGR_ERROR_SOCKET         no UDP socket could be made, or it could not
//                                       be pointed at the agent (no route)
//     52  SNMP_MGR_ERROR_VALUE          a value in the answer cannot be decoded
//                                       (that binding is dropped)
//     53  SNMP_MGR_ERROR_OID            the start OID does not parse
//     54  SNMP_MGR_ERROR_INTERRUPTED    the scan was interrupted (SIGINT, SIGTERM,
//                                       SIGHUP): no further request was sent
//   SNMPv3 (no request is sent after any of these):
//     55  SNMP_MGR_ERROR_SETTINGS       the SNMPv3 settings cannot work (privacy
//                                       without authentication, a password shorter
//                                       than 8 characters, an unknown protocol, no user)
//     56  SNMP_MGR_ERROR_SECURITY_LEVEL report: the agent does not allow the user
//                                       this security level
//     57  SNMP_MGR_ERROR_TIME_WINDOW    report: not in time window, again after the
//                                       agent's clock was taken
//     58  SNMP_MGR_ERROR_UNKNOWN_USER   report: unknown user name
//     59  SNMP_MGR_ERROR_UNKNOWN_ENGINE report: unknown engine ID after discovery
//     60  SNMP_MGR_ERROR_WRONG_DIGEST   report: wrong digest (a wrong authentication
//                                       password)
//     61  SNMP_MGR_ERROR_DECRYPTION     report: decryption error (a wrong privacy
//                                       password), or an answer that does not decrypt
//     62  SNMP_MGR_ERROR_AUTHENTICATION an answer that fails authentication
//     63  SNMP_MGR_ERROR_REPORT         any other report
//     64  SNMP_MGR_ERROR_REFUSED        the walk ended on an answer with an error
//                                       status other than noSuchName (noAccess,
//                                       authorizationError, genErr, ...)
//     65  SNMP_MGR_ERROR_MEMORY         memory ran out: the walk (or the target)
//                                       ended there
//     66  SNMP_MGR_ERROR_OBJECT_CAP     the target's walks stored MaxObjects objects:
//                                       no further request was sent (the file holds them)
//     67  SNMP_MGR_ERROR_TIME_CAP       the target's MaxSeconds had passed: no further
//                                       request or re-send was sent
//   WSAGetLastError()
//     the errno of the last socket call that failed in the last manager
//     call, or 0
#ifndef MIBSCAN_SNMP_LASTERROR_H_
#define MIBSCAN_SNMP_LASTERROR_H_

#include <cstdint>

constexpr uint32_t SNMP_MGR_OK = 0;
constexpr uint32_t SNMP_MGMTAPI_TIMEOUT = 40;
constexpr uint32_t SNMP_MGMTAPI_SELECT_FDERRORS = 41;
constexpr uint32_t SNMP_MGMTAPI_INVALID_SESSION = 47;
constexpr uint32_t SNMP_MGMTAPI_INVALID_BUFFER = 48;
constexpr uint32_t SNMP_MGR_ERROR_RESOLVE = 50;
constexpr uint32_t SNMP_MGR_ERROR_SOCKET = 51;
constexpr uint32_t SNMP_MGR_ERROR_VALUE = 52;
constexpr uint32_t SNMP_MGR_ERROR_OID = 53;
constexpr uint32_t SNMP_MGR_ERROR_INTERRUPTED = 54;
constexpr uint32_t SNMP_MGR_ERROR_SETTINGS = 55;
constexpr uint32_t SNMP_MGR_ERROR_SECURITY_LEVEL = 56;
constexpr uint32_t SNMP_MGR_ERROR_TIME_WINDOW = 57;
constexpr uint32_t SNMP_MGR_ERROR_UNKNOWN_USER = 58;
constexpr uint32_t SNMP_MGR_ERROR_UNKNOWN_ENGINE = 59;
constexpr uint32_t SNMP_MGR_ERROR_WRONG_DIGEST = 60;
constexpr uint32_t SNMP_MGR_ERROR_DECRYPTION = 61;
constexpr uint32_t SNMP_MGR_ERROR_AUTHENTICATION = 62;
constexpr uint32_t SNMP_MGR_ERROR_REPORT = 63;
constexpr uint32_t SNMP_MGR_ERROR_REFUSED = 64;
constexpr uint32_t SNMP_MGR_ERROR_MEMORY = 65;
constexpr uint32_t SNMP_MGR_ERROR_OBJECT_CAP = 66;
constexpr uint32_t SNMP_MGR_ERROR_TIME_CAP = 67;

[[nodiscard]] uint32_t GetLastError();
void SetLastError(uint32_t uError);
[[nodiscard]] int WSAGetLastError();
void WSASetLastError(int nError);

#endif  // MIBSCAN_SNMP_LASTERROR_H_
