#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <vector>

namespace kel::sim {

/// The inclusive address range of a block of flash.
struct FlashRange {
  uint32_t first = 0;
  uint32_t last = 0;
};

/// A unit's microcontroller flash: a sparse byte store by address in which
/// every byte never written reads as erased (0xFF). Only the pages that hold
/// written bytes use memory, so a 2 MiB flash costs what its contents cost.
///
/// Writes replace bytes as given; the flash programmer decides when sectors
/// are erased (see `SectorOf`), as the real programmer does.
class FlashMemory {
 public:
  static constexpr uint8_t kErased = 0xFF;

  /// Reads `count` bytes from `address`; addresses past 0xFFFFFFFF read erased.
  std::vector<uint8_t> Read(uint32_t address, size_t count) const;
  /// One byte.
  uint8_t ReadByte(uint32_t address) const;
  /// Stores `data` at `address`; bytes that would pass 0xFFFFFFFF are dropped.
  void Write(uint32_t address, const std::vector<uint8_t>& data);
  void Write(uint32_t address, const uint8_t* data, size_t count);
  /// Sets every byte from `first` to `last` (inclusive) to erased. Does nothing
  /// when `last` is below `first`.
  void Erase(uint32_t first, uint32_t last);
  /// Erases everything.
  void EraseAll();
  /// True when no byte has been written since the last full erase.
  bool IsBlank() const { return pages_.empty(); }
  /// True when any byte in the range differs from erased.
  bool HasData(uint32_t first, uint32_t last) const;
  /// Changes with every write or erase, and no two flash memories ever share
  /// a non-zero value, so that derived values can be cached by it. 0 means
  /// never changed.
  uint64_t Stamp() const { return stamp_; }

  /// Set by the flash programmer when it writes anything above the boot
  /// area (the first 16 KiB of flash); at the next restart the unit takes on
  /// the identity of the software there and clears it.
  bool softwareWritten = false;

  /// The backup region of an MCU type (the fields kept across a rewrite of
  /// the first flash block): 0x300..0x3FF for LPC2478, LPC1768 and LPC4078,
  /// 0x1A000400..0x1A0005FF for LPC4337 and LPC4357. Other types have none
  /// (returns false).
  static bool BackupRegion(uint8_t mcuType, FlashRange& region);
  /// The erase sector that holds `address` on an MCU type, following the
  /// sector layout of each LPC family (small sectors at the start of a bank,
  /// large ones after). Unknown types use 4 KiB sectors.
  static FlashRange SectorOf(uint8_t mcuType, uint32_t address);
  /// The first address of flash on an MCU type (0 or 0x1A000000).
  static uint32_t FlashBase(uint8_t mcuType);
  /// True when `address` lies in the MCU type's flash (512 KiB from 0 for the
  /// single-bank parts, two 512 KiB banks at 0x1A000000 and 0x1B000000 for
  /// the two-bank parts). Unknown types accept every address.
  static bool InFlash(uint8_t mcuType, uint32_t address);

 private:
  static constexpr uint32_t kPageSize = 4096;
  void Touch();

  std::map<uint32_t, std::vector<uint8_t>> pages_;  // page base -> kPageSize bytes
  uint64_t stamp_ = 0;
};

/// What the flash programmer remembers between requests while it runs in RAM:
/// which sectors it has already erased (the first program request into any
/// other sector erases that sector first) and the windowed-transfer sequence
/// it has accepted so far.
struct FlashSession {
  std::set<uint32_t> erasedSectors;  ///< first addresses of sectors erased this session
  bool haveSequence = false;         ///< a windowed write has been accepted
  uint16_t lastSequence = 0;         ///< sequence (15 bits) of the last accepted windowed write

  void Clear() { *this = FlashSession(); }
};

}  // namespace kel::sim
