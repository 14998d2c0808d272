#include "flash/flash_writer.h"

#include <algorithm>

#include "flash/backup_copy.h"
#include "flash/program_block.h"
#include "flash/record_image.h"
#include "runtime/report_level.h"
#include "unit/transfer_meter.h"
#include "flash/transfer_mode.h"
#include "flash/transfer_state.h"
#include "runtime/output.h"
#include "runtime/runtime.h"
#include "runtime/text_format.h"
#include "unit/link_speed.h"
#include "unit/rpc_call.h"
#include "unit/rpc_programmer.h"

namespace kel {

namespace {

constexpr size_t kProgramWindowLimit = 8;
constexpr uint16_t kDefaultBlockSize = 128;
// Images ending within the first 16 KiB of a bank (boot loaders) are not
// erased as a range: the programmer erases the sectors it writes.
constexpr uint32_t kBankOffsetMask = 0xFFFFFF;
constexpr uint32_t kEraseAbove = 0x4000;
// Erasing takes about 100 ms a sector, seconds for a whole software range:
// longer than the reply timeout of the transfer. A request sent again would
// only queue a second erase behind the first, and the late replies would
// then be taken for those of the first writes; the erase is waited for.
constexpr uint32_t kEraseTimeoutMs = 10000;

// Every record must fit the unit's buffer, or be cut into windowed pieces;
// whether overlapped transfer is still on at a record follows the records
// before it. Checked before the first erase, so a failure leaves the unit
// as it was.
void CheckRecordsFit(Link& link, const UnitInfo& unit, const RecordImage& image) {
  // No buffer at all would cut every record into empty pieces without end.
  if (unit.bufferSize == 0) {
    link.runtime.FatalError("Unable to program unit: the unit reports a buffer size of 0");
  }
  bool overlapped = link.state.overlappedActive;
  for (const ImageRecord& record : image.records()) {
    if (record.length <= unit.bufferSize) {
      if (record.length > rpc::kSmallBlock) overlapped = false;
    } else if (!overlapped) {
      link.runtime.FatalError("Unable to program unit: internal error (buffer size is too small)");
    }
  }
}

bool EraseImageRange(Link& link, const RecordImage& image) {
  const std::vector<ImageRecord>& records = image.records();
  if (records.empty()) return true;
  const uint32_t first = records.front().address;
  const uint32_t last = records.back().address + records.back().length - 1;
  if ((last & kBankOffsetMask) <= kEraseAbove) return true;
  Output& out = link.runtime.out;
  SetReceiveTimeout(link, kEraseTimeoutMs);
  // An unanswered erase is waited for up to 10 s an attempt: the operator
  // is told after each one, so that the wait is not taken for a hung run.
  const bool erased = rpc::EraseRange(link, first, last, [&out] {
    out.Print(Sink::kInfo, "-- the unit has not answered the erase yet, asking again\r\n");
  });
  SetReceiveTimeout(link, kLongTimeoutMs);
  return erased;
}

// The write-back hook: armed once a piece of the MCU's first flash block is
// written, run before the first record past the backup region.
class WriteBack {
 public:
  WriteBack(const WriteBackHook& hook, const UnitInfo& unit) : hook_(hook) {
    hasRegion_ = BackupRegionOf(unit.mcuType, region_);
    firstBlock_ = FlashBaseOf(unit.mcuType);
    blockMask_ = ~static_cast<uint32_t>(unit.flashBlockSize - 1);
  }

  void Written(uint32_t address) {
    if (hook_ && !done_ && (address & blockMask_) == firstBlock_) armed_ = true;
  }
  bool DueBefore(uint32_t address) const { return armed_ && hasRegion_ && address > region_.last; }
  bool armed() const { return armed_; }
  bool Run(UnitInfo& unit) {
    armed_ = false;
    done_ = true;
    return hook_(unit);
  }

 private:
  const WriteBackHook& hook_;
  BackupRegion region_;
  bool hasRegion_ = false;
  uint32_t firstBlock_ = 0;
  uint32_t blockMask_ = 0;
  bool armed_ = false;
  bool done_ = false;
};

// Programs one record, in pieces when it is longer than the buffer. Every
// piece of a windowed record fits one 128-byte request.
bool ProgramRecord(Link& link, TransferState& transfer, const UnitInfo& unit,
                   const ImageRecord& record, WriteBack& writeBack) {
  Output& out = link.runtime.out;
  size_t piece = record.length;
  if (record.length <= unit.bufferSize) {
    if (record.length > rpc::kSmallBlock && link.state.overlappedActive) {
      if (!DrainProgramWindow(link, transfer.programWindow)) return false;
      TurnOverlappedOff(link, transfer);
    }
  } else {
    piece = std::min<size_t>(unit.bufferSize, rpc::kSmallBlock);
  }
  const bool whole = piece == record.length;
  for (size_t done = 0; done < record.length; done += piece) {
    const uint32_t address = static_cast<uint32_t>(record.address + done);
    const size_t length = std::min(piece, record.length - done);
    out.Print(Sink::kDebug, "Programming ", HexAddress(address), "(", length, ")\r\n");
    // Bit 15 of a windowed tag marks the first piece of a record that is
    // cut up; a record sent whole carries its own address and goes without.
    if (!ProgramBlock(link, transfer, address, record.data + done, length, !whole && done == 0)) {
      return false;
    }
    writeBack.Written(address);
    transfer.progress.Advance(out, length);
  }
  return true;
}

// Runs the hook with nothing in flight: the backup writes are single
// exchanges that must not meet the replies of windowed writes. A hook that
// fails does not stop the image: a boot loader left half written would
// never start again, so the rest is written and the failure told after it.
bool RunWriteBack(Link& link, TransferState& transfer, UnitInfo& unit, WriteBack& writeBack) {
  if (!DrainProgramWindow(link, transfer.programWindow)) return false;
  if (!writeBack.Run(unit)) transfer.writeBackFailed = true;
  return true;
}

}  // namespace

bool WriteFlash(Link& link, TransferState& transfer, UnitInfo& unit, const ImageRef& image,
                const WriteBackHook& writeBack) {
  Runtime& rt = link.runtime;
  Output& out = rt.out;
  out.Print(Sink::kInfo, "Updating Ponderix software (do not turn off the power!)...\r\n");
  out.Print(Sink::kDebug, "Writing to MCU flash\r\n");
  transfer.imageWritten = false;
  transfer.writeBackFailed = false;
  RecordImage records;
  if (!records.Parse(image.bytes, image.size)) return false;
  if (unit.flashBlockSize == 0) unit.flashBlockSize = kDefaultBlockSize;
  AnnounceTransferMode(link, kProgramWindowLimit);
  CheckRecordsFit(link, unit, records);
  if (!EraseImageRange(link, records)) return false;

  transfer.programWindow.sequence = 0;
  LoweredReportLevel lowered(out);
  TransferMeter meter;
  meter.Start(rt.clock.Ticks(), link.port);
  transfer.progress.Start(records.totalLength());
  WriteBack pending(writeBack, unit);
  for (const ImageRecord& record : records.records()) {
    if (pending.DueBefore(record.address) && !RunWriteBack(link, transfer, unit, pending)) {
      return false;
    }
    if (!ProgramRecord(link, transfer, unit, record, pending)) return false;
  }
  if (!DrainProgramWindow(link, transfer.programWindow)) return false;
  // An image that ends inside the first block still gets its fields back.
  if (pending.armed() && !RunWriteBack(link, transfer, unit, pending)) return false;

  transfer.imageWritten = true;

  lowered.Restore();
  out.Print(Sink::kConsole, "\r\n");
  transfer.progress.Reset();
  meter.ReportSent(out, rt.clock.Ticks(), link.port);
  TraceComplete(out);
  EndHardwareHandshake(link);
  return !transfer.writeBackFailed;
}

}  // namespace kel
