#include "sim/role_handlers.h"

#include "sim/software_checksum.h"

namespace kel::sim {

namespace {

void RefreshSoftwareCheck(SimUnit& unit) {
  const SoftwareCheck check = ReportedSoftwareCheck(unit);
  unit.reportedChecksum = check.checksum;
  unit.reportedCrc = check.crc;
}

}  // namespace

RoleHandlers DefaultRoleHandlers() {
  RoleHandlers h;
  h.refreshSoftwareCheck = RefreshSoftwareCheck;
  return h;
}

}  // namespace kel::sim
