#include "update/programmer_start.h"

#include "flash/image_selection.h"
#include "flash/programmer_download.h"
#include "update/update_rules.h"

namespace kel {

void StartFlashProgrammer(UpdateSession& session, UnitInfo& unit, bool bootLoaderDue,
                          bool softwareDue) {
  Runtime& rt = session.runtime();
  session.note.Start(session.link, unit, bootLoaderDue, softwareDue);
  if (!DownloadProgrammer(session.link, session.transfer, unit, unit.flashProgrammer, "")) {
    rt.FatalError("Unable to download flash programmer");
  }
  if (unit.connectionMode != modeFlashProgrammer) {
    rt.out.Print(Sink::kDebug, "-- Software mode of unit is not modeFlashProgrammer\r\n");
  }
}

void ChooseBootLoaderImage(Runtime& rt, UnitInfo& unit) {
  if (!SelectBootLoaderImage(rt, unit)) rt.FatalError(kUnknownUnitRefusal);
}

}  // namespace kel
