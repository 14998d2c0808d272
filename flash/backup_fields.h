#pragma once

#include "link/link_state.h"
#include "unit/unit_info.h"

namespace kel {

struct TransferState;

/// Reads the unit's backup fields (its MCU's backup region, in pieces of
/// 128 bytes with 0x1051, up to 8 attempts each) into the transfer's backup
/// copy, which is filled with 0xFF first. True at once when backup is not
/// enabled for the unit. False after "FAILED" when a piece was not read.
bool ReadBackupFields(Link& link, TransferState& transfer, const UnitInfo& unit);

/// Writes the backup copy back into the region (0x1050, pieces of 128
/// bytes, up to 8 attempts each). A piece the unit answers with a non-zero
/// result is reported ("Error:") and the write goes on with the others;
/// once all are sent the first refusal is named on the console and the
/// write fails. True at once when backup is not enabled. False after
/// "FAILED" when a piece got no answer.
bool WriteBackupFields(Link& link, TransferState& transfer, const UnitInfo& unit);

}  // namespace kel
