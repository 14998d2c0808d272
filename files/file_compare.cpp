#include "files/check_values.h"
#include "files/file_transfer.h"
#include "files/file_updates.h"
#include "runtime/output.h"
#include "runtime/runtime.h"
#include "runtime/text_format.h"

namespace kel {

namespace {

std::string FileName(uint8_t drive, uint16_t file) { return Hex(drive, 2) + ":" + Hex(file, 4); }

}  // namespace

bool FileIsDifferent(RemoteFileAccess& files, const UnitInfo& unit, uint8_t drive, uint16_t file,
                     std::span<const uint8_t> data, bool crc) {
  Runtime& rt = files.link().runtime;
  Output& out = rt.out;
  const uint32_t size = static_cast<uint32_t>(data.size());
  out.Print(Sink::kDebug,
            "Checking if current file is different from new file for FileNo=", Hex(file, 4),
            " DriveNo=", Hex(drive, 2), " Size=", size, "\r\n");
  if (rt.options.writeAlways) return true;
  const uint8_t address = FileTargetAddress(files, unit);

  // A file whose attributes cannot be had is written again.
  FileAttributes attributes;
  if (!files.GetFileAttributes(address, drive, file, size, attributes) || attributes.result != 0) {
    return true;
  }

  const FileChecksums sums = ComputeFileChecksums(data.data(), data.size());
  bool same = attributes.size == size;
  for (size_t i = 0; i < sums.size(); ++i) same = same && attributes.checksums[i] == sums[i];
  if (!same) {
    out.Print(Sink::kDebug, "New file attributes: FileSize=", size);
    for (size_t i = 0; i < sums.size(); ++i) {
      out.Print(Sink::kDebug, " Checksum", i + 1, "=", Hex(sums[i], 8));
    }
    out.Print(Sink::kDebug, "\r\n", "-- Ponderix file ", FileName(drive, file),
              " checksums are different\r\n");
    return true;
  }

  if (crc) {
    const uint32_t current = CrcFromProperties(attributes.properties);
    out.Print(Sink::kInfo, "Current file CRC=", Hex(current, 4), "\r\n");
    const uint16_t wanted = FileCrcNumber(data.data(), data.size());
    if (current != wanted) {
      out.Print(Sink::kInfo, "New file CRC=", Hex(wanted, 4), "\r\n", "-- Ponderix file ",
                FileName(drive, file), " CRC is different\r\n");
      return true;
    }
  }
  out.Print(Sink::kInfo, "-- Ponderix file ", FileName(drive, file), " is up to date\r\n");
  return false;
}

}  // namespace kel
