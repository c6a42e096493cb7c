// One target: its address text, its settings and the results of its
// walks, one entry per OID.
//
// The driver creates a CMIB per target, hands it to the target's worker
// thread and destroys it after joining that thread; while the worker runs,
// the object is the worker's alone, so it has no lock.
#ifndef MIBSCAN_MIB_MIB_H_
#define MIBSCAN_MIB_MIB_H_

#include <memory>
#include <string>
#include <utility>

#include "mib/WalkResult.h"
#include "settings/Settings.h"

class CMIB {
 public:
  // The target's walks and result file follow pSettings (config.ini's, as
  // the driver resolved them for this target; the defaults when null).
  explicit CMIB(std::string strTarget, std::shared_ptr<const CTargetSettings> pSettings = nullptr)
      : m_strTarget(std::move(strTarget)),
        m_pSettings(pSettings != nullptr ? std::move(pSettings) : std::make_shared<const CTargetSettings>()) {}
  CMIB(const CMIB&) = delete;
  CMIB& operator=(const CMIB&) = delete;

  const std::string m_strTarget;  // as the command line gave it
  const std::shared_ptr<const CTargetSettings> m_pSettings;
  // What the target's walks stored (m_result.mapResults is its result
  // map) and how the last one ended.
  CWalkResult m_result;
};

#endif  // MIBSCAN_MIB_MIB_H_
