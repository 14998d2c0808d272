#include "files/file_transfer.h"

#include <algorithm>
#include <array>

#include "runtime/output.h"
#include "runtime/runtime.h"
#include "runtime/text_format.h"
#include "unit/progress_display.h"

namespace kel {

namespace {

constexpr int16_t kFirstHighSpeedSoftware = 604;

uint8_t BlockLength(size_t size, size_t offset) {
  return static_cast<uint8_t>(std::min<size_t>(kFileBlockSize, size - offset));
}

}  // namespace

uint8_t FileTargetAddress(RemoteFileAccess& files, const UnitInfo& unit) {
  if (unit.connectionMode == modeApplication) return unit.unitAddress;
  if (unit.connectionMode == modeFlashProgrammer) return files.link().state.bootLoaderAddress;
  files.link().runtime.FatalError(
      "Cannot perform this operation, the unit is not in the correct mode");
}

bool HighSpeedFor(const UnitInfo& unit) {
  return unit.connectionMode == modeApplication && unit.softwareVersion >= kFirstHighSpeedSoftware;
}

bool WriteFileData(RemoteFileAccess& files, const FileRef& ref, std::span<const uint8_t> data) {
  Output& out = files.link().runtime.out;
  ProgressDisplay progress;
  progress.Start(static_cast<uint32_t>(data.size()));
  for (size_t offset = 0; offset < data.size(); offset += kFileBlockSize) {
    const uint8_t length = BlockLength(data.size(), offset);
    out.Print(Sink::kDebug, "Writing $", Hex(static_cast<uint32_t>(offset), 8), "(", length,
              ")\r\n");
    uint8_t result = 0;
    if (!files.WriteFileBlock(ref.address, ref.drive, ref.file, static_cast<uint32_t>(offset),
                              data.data() + offset, length, result)) {
      return false;
    }
    progress.Advance(out, length);
  }
  return true;
}

bool ReadBackFileData(RemoteFileAccess& files, const FileRef& ref, std::span<const uint8_t> data,
                      const ByteDifference& difference) {
  Output& out = files.link().runtime.out;
  std::array<uint8_t, kFileBlockSize> block{};
  for (size_t offset = 0; offset < data.size(); offset += kFileBlockSize) {
    const uint8_t length = BlockLength(data.size(), offset);
    const uint32_t at = static_cast<uint32_t>(offset);
    out.Print(Sink::kDebug, "Verifying $", Hex(at, 8), "(", length, ")\r\n");
    uint8_t got = length;
    if (!files.ReadFileBlock(ref.address, ref.drive, ref.file, at, got, block.data()) ||
        got != length) {
      return false;
    }
    for (uint8_t i = 0; i < length; ++i) {
      if (block[i] != data[offset + i] && !difference(at + i, data[offset + i], block[i])) {
        return false;
      }
    }
  }
  return true;
}

}  // namespace kel
