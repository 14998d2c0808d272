#include "sim/role_handlers.h"

#include "sim/boot_loader_role.h"
#include "sim/file_services.h"
#include "sim/programmer_role.h"
#include "sim/software_checksum.h"
#include "sim/update_files.h"

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
  h.bootLoader = HandleBootLoaderRequest;
  h.programmer = HandleProgrammerRequest;
  h.files = HandleFileRequest;
  h.applyUpdates = ApplyPendingUpdates;
  h.refreshSoftwareCheck = RefreshSoftwareCheck;
  h.softwarePresent = SoftwareInFlash;
  return h;
}

}  // namespace kel::sim
