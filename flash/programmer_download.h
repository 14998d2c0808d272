#pragma once

#include <string_view>

#include "flash/image_catalogue.h"
#include "link/link_state.h"
#include "unit/unit_info.h"

namespace kel {

struct TransferState;

/// Downloads the flash programmer `image` into the unit's RAM through its
/// boot loader and starts it: the transfer at the programming speed in the
/// transport in use, optionally read back (verify), Transfer to RAM
/// program, then the link at 115200 and the programmer moved to the
/// programming speed, its version read (and, through a proxy, configured)
/// and its buffer size asked. `name` is the text shown ("programmer" when
/// empty). The record is in modeFlashProgrammer once the programmer was
/// started.
///
/// The run ends through FatalError when there is no valid image ("Cannot
/// update unit: there is no flash programmer for this unit"), when a
/// record is longer than the unit's buffer ("Unable to update unit: buffer
/// size is too small"; checked for every record before anything is sent,
/// so no part of such a programmer reaches the unit), when a speed change
/// fails, or when the started programmer does not answer ("Unable to
/// connect to programmer"). False when a write or the read-back failed;
/// nothing was started then.
bool DownloadProgrammer(Link& link, TransferState& transfer, UnitInfo& unit, const ImageRef* image,
                        std::string_view name);

}  // namespace kel
