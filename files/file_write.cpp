// Writing a file into a unit: replacing it in place (UpdateFile), or
// sending it as an update file with its check value (SendUpdateFile).
#include <array>
#include <string>
#include <vector>

#include "files/check_values.h"
#include "files/file_transfer.h"
#include "files/file_updates.h"
#include "runtime/output.h"
#include "runtime/report_level.h"
#include "runtime/runtime.h"
#include "runtime/text_format.h"
#include "unit/rpc_call.h"
#include "unit/transfer_meter.h"

namespace kel {

namespace {

bool Create(RemoteFileAccess& files, const FileRef& ref, bool highSpeed) {
  uint8_t result = 0;
  return files.CreateFile(ref.address, ref.drive, ref.file, highSpeed, result) && result == 0;
}

bool Close(RemoteFileAccess& files, const FileRef& ref) {
  uint8_t result = 0;
  return files.CloseFile(ref.address, ref.drive, ref.file, result) && result == 0;
}

// The data blocks, flushed, with the progress dots and the statistics line;
// the link's error lines are held off meanwhile. `extra` is written after
// the data, at offset = size, as one more block (the check value).
bool Transfer(RemoteFileAccess& files, const FileRef& ref, std::span<const uint8_t> data,
              const std::vector<uint8_t>& extra = {}, const char* extraLine = nullptr) {
  Runtime& rt = files.link().runtime;
  Output& out = rt.out;
  LoweredReportLevel lowered(out);
  TransferMeter meter;
  meter.Start(rt.clock.Ticks(), files.link().port);
  if (!WriteFileData(files, ref, data)) return false;
  uint8_t result = 0;
  if (extraLine != nullptr) {
    out.Print(Sink::kDebug, extraLine);
    if (!files.WriteFileBlock(ref.address, ref.drive, ref.file, static_cast<uint32_t>(data.size()),
                              extra.data(), static_cast<uint8_t>(extra.size()), result)) {
      return false;
    }
  }
  if (!files.FlushFileRemote(ref.address, ref.drive, ref.file, result)) return false;
  lowered.Restore();
  out.Print(Sink::kConsole, "\r\n");
  meter.ReportSent(out, rt.clock.Ticks(), files.link().port);
  return true;
}

// Opens the file again and reads its data back, then closes it and prints
// the statistics line.
bool Verify(RemoteFileAccess& files, const FileRef& ref, bool highSpeed,
            std::span<const uint8_t> data, const ByteDifference& difference) {
  Runtime& rt = files.link().runtime;
  uint8_t result = 0;
  if (!files.OpenFile(ref.address, ref.drive, ref.file, highSpeed, result) || result != 0) {
    return false;
  }
  TransferMeter meter;
  meter.Start(rt.clock.Ticks(), files.link().port);
  const bool read = ReadBackFileData(files, ref, data, difference);
  // The file is closed whatever the read gave, so the unit lets go of it.
  files.CloseFile(ref.address, ref.drive, ref.file, result);
  if (!read) return false;
  meter.ReportReceived(rt.out, rt.clock.Ticks(), files.link().port);
  TraceComplete(rt.out);
  return true;
}

std::vector<uint8_t> CheckValue(std::span<const uint8_t> data, CheckMode mode) {
  if (mode == CheckMode::kCrc) {
    // The number's high byte is the CRC's low byte, which goes first.
    const uint16_t crc = FileCrcNumber(data.data(), data.size());
    return {static_cast<uint8_t>(crc >> 8), static_cast<uint8_t>(crc & 0xFF)};
  }
  if (mode == CheckMode::kFletcher) {
    const uint32_t sum = FletcherChecksum(data.data(), data.size());
    return {static_cast<uint8_t>(sum >> 24), static_cast<uint8_t>(sum >> 16),
            static_cast<uint8_t>(sum >> 8), static_cast<uint8_t>(sum)};
  }
  return {};
}

// Asks the unit for the file's size and checksums and compares them with
// what was sent. A block damaged on the line can still pass the packet CRC;
// this one request per file catches it before the run reports success.
bool UnitHoldsSent(RemoteFileAccess& files, const FileRef& ref, std::span<const uint8_t> data,
                   const std::vector<uint8_t>& extra) {
  std::vector<uint8_t> sent(data.begin(), data.end());
  sent.insert(sent.end(), extra.begin(), extra.end());
  const uint32_t size = static_cast<uint32_t>(sent.size());
  FileAttributes attributes;
  if (!files.GetFileAttributes(ref.address, ref.drive, ref.file, size, attributes) ||
      attributes.result != 0) {
    return false;
  }
  const FileChecksums sums = ComputeFileChecksums(sent.data(), sent.size());
  bool same = attributes.size == size;
  for (size_t i = 0; i < sums.size(); ++i) same = same && attributes.checksums[i] == sums[i];
  if (!same) {
    files.link().runtime.out.Print(Sink::kInfo, "-- Ponderix file ", Hex(ref.drive, 2), ":",
                                   Hex(ref.file, 4), " does not hold what was sent\r\n");
  }
  return same;
}

// Writes a file and checks that the unit holds it, writing it once more when
// it does not: a damaged block is rare, two in a row on one file are not
// worth a third try.
template <typename Write>
bool WriteChecked(RemoteFileAccess& files, const FileRef& ref, std::span<const uint8_t> data,
                  const std::vector<uint8_t>& extra, Write write) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (!write()) return false;
    if (UnitHoldsSent(files, ref, data, extra)) return true;
  }
  return false;
}

}  // namespace

bool UpdateFile(RemoteFileAccess& files, const UnitInfo& unit, uint8_t drive, uint16_t file,
                std::span<const uint8_t> data, bool crc) {
  Runtime& rt = files.link().runtime;
  Output& out = rt.out;
  const FileRef ref{FileTargetAddress(files, unit), drive, file};
  const bool highSpeed = HighSpeedFor(unit);
  out.Print(Sink::kInfo, "Updating Ponderix file ");
  out.Print(Sink::kDebug, Hex(drive, 2), ":", Hex(file, 4), " ");
  out.Print(Sink::kInfo, data.size(), " bytes\r\n");

  const bool written = WriteChecked(files, ref, data, {}, [&] {
    if (!Create(files, ref, highSpeed) || !Transfer(files, ref, data)) return false;
    if (crc) {
      const uint16_t number = FileCrcNumber(data.data(), data.size());
      out.Print(Sink::kDebug, "\r\nAdding CRC=", Hex(number, 4), "\r\n");
      // A CRC that is not stored only makes the next comparison write the
      // file again.
      uint8_t result = 0;
      files.SetFileProperties(ref.address, drive, file, CrcProperties(number), result);
    }
    return Close(files, ref);
  });
  if (!written) return false;
  TraceComplete(out);

  if (!rt.options.verify) return true;
  out.Print(Sink::kDebug, "Verifying new file\r\n");
  return Verify(files, ref, highSpeed, data, [&](uint32_t offset, uint8_t, uint8_t) -> bool {
    const uint32_t block = offset / kFileBlockSize * kFileBlockSize;
    rt.FatalError("Verify file failed at " + Hex(block, 8) + Hex(offset - block, 2));
  });
}

bool SendUpdateFile(RemoteFileAccess& files, const UnitInfo& unit, uint8_t drive, uint16_t file,
                    std::span<const uint8_t> data, CheckMode mode) {
  Runtime& rt = files.link().runtime;
  Output& out = rt.out;
  const FileRef ref{FileTargetAddress(files, unit), drive, file};
  const bool highSpeed = HighSpeedFor(unit);
  out.Print(Sink::kDebug, "Sending file ", file, " in drive ", drive, " to unit ", ref.address,
            "\r\n");

  const char* extraLine = mode == CheckMode::kCrc        ? "Adding CRC\r\n"
                          : mode == CheckMode::kFletcher ? "Adding Checksum\r\n"
                                                         : nullptr;
  const std::vector<uint8_t> checkValue = CheckValue(data, mode);
  const bool sent = WriteChecked(files, ref, data, checkValue, [&] {
    return Create(files, ref, highSpeed) && Transfer(files, ref, data, checkValue, extraLine) &&
           Close(files, ref);
  });
  if (!sent) return false;
  TraceComplete(out);

  if (!rt.options.verify) return true;
  out.Print(Sink::kInfo, "Verifying file...\r\n");
  return Verify(files, ref, highSpeed, data, [&](uint32_t offset, uint8_t expected, uint8_t got) {
    out.Print(Sink::kConsole, "File difference at ", offset, " expected:", Hex(expected, 2),
              " got:", Hex(got, 2), "\r\n");
    return true;
  });
}

}  // namespace kel
