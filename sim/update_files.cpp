#include "sim/update_files.h"

#include "sim/boot_region.h"
#include "sim/crc16.h"
#include "sim/file_checksums.h"
#include "sim/programmer_role.h"
#include "sim/sim_unit.h"
#include "sim/software_checksum.h"
#include "sim/role_reply.h"

namespace kel::sim {

namespace {

constexpr uint32_t kEndMarker = 0xFFFFFFFF;
constexpr uint8_t kBootNoSoftware = 0x01;
constexpr uint8_t kBootFlashCheckFailed = 0x04;
constexpr uint8_t kFirstLpc = 3;
constexpr uint8_t kLastLpc = 7;

uint32_t Be32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

// Data and appended check value of an update file; false when the file is too
// short to carry the check value or the value does not match.
bool SplitFletcher(const std::vector<uint8_t>& file, size_t& dataSize) {
  if (file.size() < 4) return false;
  dataSize = file.size() - 4;
  return Fletcher32(file.data(), dataSize) == Be32(file.data() + dataSize);
}

bool SplitCrc(const std::vector<uint8_t>& file, size_t& dataSize) {
  if (file.size() < 2) return false;
  dataSize = file.size() - 2;
  const uint16_t crc = ModbusCrc16(file.data(), dataSize);
  return file[dataSize] == (crc & 0xFF) && file[dataSize + 1] == (crc >> 8);
}

// Every record inside the MCU's flash and on the right side of the boot area.
bool RecordsFit(const SimUnit& unit, const std::vector<ImageRecord>& records, bool bootLoader) {
  if (records.empty()) return false;
  const uint32_t bootEnd = FlashMemory::FlashBase(unit.mcuType) + kBootAreaSize;
  for (const ImageRecord& record : records) {
    if (record.data.empty()) continue;
    const uint64_t last = uint64_t{record.address} + record.data.size() - 1;
    if (last > 0xFFFFFFFFull) return false;
    if (!FlashMemory::InFlash(unit.mcuType, record.address) ||
        !FlashMemory::InFlash(unit.mcuType, static_cast<uint32_t>(last))) {
      return false;
    }
    if (bootLoader ? last >= bootEnd : record.address < bootEnd) return false;
  }
  return true;
}

// Erases the sectors the records span (and the `alsoErase` ranges) and writes
// the records, as the unit's own updater does; the backup fields survive a
// boot-loader rewrite.
void Install(SimUnit& unit, const std::vector<ImageRecord>& records, const std::vector<FlashRange>& alsoErase) {
  FlashRange backup;
  const bool hasBackup = FlashMemory::BackupRegion(unit.mcuType, backup);
  std::vector<uint8_t> saved;
  if (hasBackup) saved = unit.flash.Read(backup.first, backup.last - backup.first + 1);
  uint32_t first = 0xFFFFFFFF;
  uint32_t last = 0;
  for (const ImageRecord& record : records) {
    if (record.data.empty()) continue;
    first = std::min(first, record.address);
    last = std::max(last, static_cast<uint32_t>(record.address + record.data.size() - 1));
  }
  if (first <= last) EraseFlashRange(unit, first, last);
  for (const FlashRange& range : alsoErase) EraseFlashRange(unit, range.first, range.last);
  for (const ImageRecord& record : records) unit.flash.Write(record.address, record.data);
  if (hasBackup) unit.flash.Write(backup.first, saved);
}

void TakeOnSoftware(SimUnit& unit) {
  const uint8_t unitType = UnitTypeOfCard(unit.cardNumber);
  const std::vector<FlashRange> regions = SoftwareRegions(unitType, unit.mcuType);
  bool present = false;
  for (const FlashRange& region : regions) present = present || unit.flash.HasData(region.first, region.last);
  if (!present) {
    unit.bootFlags |= kBootNoSoftware;
    return;
  }
  unit.bootFlags &= static_cast<uint8_t>(~(kBootNoSoftware | kBootFlashCheckFailed));
  int16_t version = 0;
  uint8_t release = 0;
  if (IdentifySoftware(unitType, unit.mcuType, ComputeSoftwareCheck(unit.flash, regions), version, release)) {
    unit.softwareVersion = version;
    unit.softwareRelease = release;
    unit.buildIncrement = 0;
  }
}

// Boot loader or software image with its Fletcher checksum.
void ApplyImageFile(SimUnit& unit, uint16_t fileNumber, bool bootLoader) {
  const SimFile* file = unit.files.Find(kUpdateDrive, fileNumber);
  if (file == nullptr) return;
  size_t dataSize = 0;
  std::vector<ImageRecord> records;
  const bool good = SplitFletcher(file->data, dataSize) && ParseRecordImage(file->data.data(), dataSize, records) &&
                    RecordsFit(unit, records, bootLoader);
  unit.files.Remove(kUpdateDrive, fileNumber);
  if (!good) return;
  // New software replaces the old one in all of its regions, so nothing of
  // the old software is left beyond the end of the new one.
  std::vector<FlashRange> alsoErase;
  if (!bootLoader) alsoErase = SoftwareRegions(UnitTypeOfCard(unit.cardNumber), unit.mcuType);
  if (!bootLoader) {
    Install(unit, records, alsoErase);
    TakeOnSoftware(unit);
    return;
  }
  // The unit's updater puts a boot loader in only when the result starts:
  // an image that does not leave a whole boot region changes nothing.
  const FlashMemory before = unit.flash;
  const bool touched = unit.bootRegionTouched;
  Install(unit, records, alsoErase);
  unit.bootRegionTouched = true;
  if (!TakeOnBootRegion(unit)) {
    unit.flash = before;
    unit.bootRegionTouched = touched;
  }
}

// The resource list: records of file number (2), size (4), data and the
// data's CRC-16 (low byte first), ended by two zero bytes or by the end of
// the file. Every record must be whole and its CRC right.
bool ResourceListValid(const std::vector<uint8_t>& list) {
  size_t at = 0;
  bool any = false;
  while (at + 2 <= list.size()) {
    const uint16_t number = static_cast<uint16_t>((list[at] << 8) | list[at + 1]);
    if (number == 0) return any;
    if (list.size() - at < 6) return false;
    const uint32_t size = Be32(list.data() + at + 2);
    if (list.size() - at - 6 < uint64_t{size} + 2) return false;
    const uint8_t* data = list.data() + at + 6;
    const uint16_t crc = ModbusCrc16(data, size);
    if (data[size] != (crc & 0xFF) || data[size + 1] != (crc >> 8)) return false;
    at += 6 + size + 2;
    any = true;
  }
  return any && at == list.size();
}

void ApplyResourceFile(SimUnit& unit) {
  const SimFile* file = unit.files.Find(kUpdateDrive, kResourceUpdateFile);
  if (file == nullptr) return;
  std::vector<uint8_t> list = file->data;
  unit.files.Remove(kUpdateDrive, kResourceUpdateFile);
  if (!ResourceListValid(list) || !unit.files.HasDrive(kResourceDrive)) return;
  // The raw resource area holds the list inverted.
  for (uint8_t& byte : list) byte = static_cast<uint8_t>(~byte);
  unit.files.Put(kResourceDrive, kResourceFile, std::move(list));
}

// A received programmer stays in its drive for the unit's own updater; one
// whose CRC or layout is wrong is deleted so that it is never used.
void CheckProgrammerFile(SimUnit& unit) {
  const SimFile* file = unit.files.Find(kProgrammerDrive, kProgrammerFile);
  if (file == nullptr) return;
  size_t dataSize = 0;
  std::vector<ImageRecord> records;
  if (!SplitCrc(file->data, dataSize) || !ParseRecordImage(file->data.data(), dataSize, records)) {
    unit.files.Remove(kProgrammerDrive, kProgrammerFile);
  }
}

}  // namespace

bool ParseRecordImage(const uint8_t* bytes, size_t size, std::vector<ImageRecord>& records) {
  records.clear();
  if (size < 12) return false;
  size_t at = 8;
  while (size - at >= 4) {
    const uint32_t address = Be32(bytes + at);
    at += 4;
    if (address == kEndMarker) return at == size;
    if (size - at < 2) return false;
    const size_t length = static_cast<size_t>((bytes[at] << 8) | bytes[at + 1]);
    at += 2;
    if (size - at < length) return false;
    records.push_back({address, std::vector<uint8_t>(bytes + at, bytes + at + length)});
    at += length;
  }
  return false;
}

bool AcceptsUpdateFiles(const SimUnit& unit) {
  return unit.softwareVersion >= 600 && unit.bootLoaderRelease >= 14 && (unit.unitFlags & 0x01) != 0 &&
         unit.mcuType >= kFirstLpc && unit.mcuType <= kLastLpc;
}

void ApplyPendingUpdates(SimUnit& unit) {
  if (unit.flash.softwareWritten) TakeOnSoftware(unit);
  if (AcceptsUpdateFiles(unit)) {
    CheckProgrammerFile(unit);
    ApplyImageFile(unit, kBootLoaderUpdateFile, true);
    ApplyImageFile(unit, kSoftwareUpdateFile, false);
    ApplyResourceFile(unit);
  }
  unit.flash.softwareWritten = false;
  unit.flashSession.Clear();
}

}  // namespace kel::sim
