#pragma once

#include <functional>

#include "flash/image_catalogue.h"
#include "link/link_state.h"
#include "unit/unit_info.h"

namespace kel {

struct TransferState;

/// Run once the first block of the MCU's flash has been rewritten, before
/// anything past the backup region is written: puts the backup fields back
/// (WriteBackupFields). False does not stop the write: the rest of the image
/// is written, and WriteFlash then fails with TransferState::writeBackFailed.
using WriteBackHook = std::function<bool(UnitInfo&)>;

/// Writes a boot-loader or software image into the MCU's flash through the
/// running programmer: erases the image's range when it reaches past the
/// first 16 KiB (a boot-loader image is not erased here; the erase, which
/// takes seconds, is waited for up to 10 s an attempt), then programs
/// every record in the transport in use, records longer than the unit's
/// buffer in pieces while overlapped, with progress dots and the
/// statistics line. With `writeBack` given it runs after the first flash
/// block (at address 0, or 0x1A000000 on LPC4337 and LPC4357) was
/// programmed, before the first record past the backup region.
///
/// A record longer than the buffer without overlapped transfer ends the run
/// ("Unable to program unit: internal error (buffer size is too small)");
/// every record is checked before anything is erased or written. False when
/// the image is not valid, the erase or a block failed (a hardware failure
/// the unit reported included) or the hook failed; TransferState's
/// imageWritten and writeBackFailed tell which. The windows are empty after
/// a true return.
bool WriteFlash(Link& link, TransferState& transfer, UnitInfo& unit, const ImageRef& image,
                const WriteBackHook& writeBack);

}  // namespace kel
