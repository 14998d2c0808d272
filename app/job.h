#pragma once

#include <string>

#include "platform/serial_device.h"
#include "runtime/runtime.h"

namespace kel {

/// Connects to the unit and runs the job the options ask for: interrogate
/// (-i), extract logs (-x), the manufacturing update (parameter file), or
/// the field update. Anything it cannot do ends the run through FatalError.
///
/// A COM port it opens must stay reachable through Runtime::closePort until
/// main closes it after this returns (or be closed, with the hook cleared,
/// before it returns).
void RunJob(Runtime& rt);

/// RunJob on the COM ports of `ports` (the system's, or in-memory lines in
/// tests), with extracted logs going into `extractFolder` ("PonderixLogFiles"
/// beside the program). Updates append each unit's outcome to the update
/// history at `historyPath` (none when empty). The port is closed, and the
/// hook cleared, when it returns.
void RunJob(Runtime& rt, SerialPortOpener& ports, const std::string& extractFolder,
            const std::string& historyPath = {});

}  // namespace kel
