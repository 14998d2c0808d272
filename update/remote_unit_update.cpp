#include "update/remote_unit_update.h"

#include <string>

#include "unit/rpc_identification.h"
#include "unit/unit_info_report.h"
#include "unit/update_acceptance.h"
#include "update/update_rules.h"
#include "update/update_unit.h"

namespace kel {

bool UpdateRemoteUnit(UpdateSession& session, UnitInfo& remote) {
  Link& link = session.link;
  Output& out = session.runtime().out;
  if (!ReadUnitInfo(link, remote)) {
    if (session.history) {
      session.history->Failed(remote, "Unable to update Ponderix Unit: " +
                                          std::to_string(remote.unitAddress));
    }
    return false;
  }
  ReadExtendedInfo(link, remote);
  ReadAdvancedInfo(link, remote);
  PrintUnitInfo(out, remote);

  const char* reason = kRemoteNeedsNetworkSoftware;
  if (remote.connectionMode == modeApplication &&
      remote.softwareVersion >= kNetworkSoftwareVersion) {
    if (AcceptsUpdateFiles(out, remote)) {
      return UpdateUnit(session, remote, false, true, false);
    }
    reason = kRemoteNeedsUpdateFileBootLoader;
  }
  out.Print(Sink::kInfo, "Ponderix Unit ", remote.unitAddress, reason, "\r\n");
  if (session.history) {
    session.history->Refused(remote, "Ponderix Unit " + std::to_string(remote.unitAddress) + reason);
  }
  out.Print(Sink::kInfo,
            "IMPORTANT: Please connect the serial port to the COM1 RS232 port on the unit and "
            "run KelUpdater again to update unit ",
            remote.unitAddress, "\r\n", "\r\n");
  return false;
}

}  // namespace kel
