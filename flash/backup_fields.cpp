#include "flash/backup_fields.h"

#include "flash/transfer_state.h"
#include "runtime/output.h"
#include "runtime/runtime.h"
#include "runtime/text_format.h"
#include "unit/rpc_call.h"
#include "unit/rpc_programmer.h"

namespace kel {

namespace {

constexpr int kBackupAttempts = 8;
constexpr uint32_t kPiece = 128;

}  // namespace

bool ReadBackupFields(Link& link, TransferState& transfer, const UnitInfo& unit) {
  if (!unit.backupEnabled) return true;
  Output& out = link.runtime.out;
  out.Print(Sink::kDebug, "Reading backup fields\r\n");
  BackupRegion region;
  transfer.backup.bytes.fill(0xFF);
  if (!BackupRegionOf(unit.mcuType, region)) return true;
  for (uint32_t offset = 0; offset < region.size(); offset += kPiece) {
    const uint32_t address = region.first + offset;
    out.Print(Sink::kDebug, "Reading ", HexAddress(address), " (", kPiece, ")\r\n");
    bool read = false;
    for (int attempt = 0; attempt < kBackupAttempts && !read; ++attempt) {
      read = rpc::Read128(link, address, transfer.backup.bytes.data() + offset);
    }
    if (!read) {
      TraceFailed(out);
      return false;
    }
  }
  TraceComplete(out);
  return true;
}

bool WriteBackupFields(Link& link, TransferState& transfer, const UnitInfo& unit) {
  if (!unit.backupEnabled) return true;
  Output& out = link.runtime.out;
  out.Print(Sink::kDebug, "Writing backup fields\r\n");
  BackupRegion region;
  if (!BackupRegionOf(unit.mcuType, region)) return true;
  bool refused = false;
  uint32_t refusedAddress = 0;
  uint8_t refusedResult = 0;
  for (uint32_t offset = 0; offset < region.size(); offset += kPiece) {
    const uint32_t address = region.first + offset;
    out.Print(Sink::kDebug, "Writing ", HexAddress(address), " (", kPiece, ")\r\n");
    bool written = false;
    uint8_t result = 0;
    for (int attempt = 0; attempt < kBackupAttempts && !written; ++attempt) {
      written = rpc::Write128(link, address, transfer.backup.bytes.data() + offset, result);
    }
    if (!written) {
      TraceFailed(out);
      return false;
    }
    // A refused piece does not stop the others: whatever the unit takes is
    // kept. The write still fails, because the fields are not all back.
    if (result != 0) {
      out.Print(Sink::kDebug, "Error:", Hex(result, 2), "\r\n");
      if (!refused) {
        refused = true;
        refusedAddress = address;
        refusedResult = result;
      }
    }
  }
  if (refused) {
    out.Print(Sink::kInfo,
              "\r\nUnit reported hardware failure, cannot write the backup fields. Address=",
              HexAddress(refusedAddress), ", Result=", Hex(refusedResult, 2), "\r\n");
    return false;
  }
  TraceComplete(out);
  return true;
}

}  // namespace kel
