#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

namespace kel::sim {

/// One file in a unit's drive: its bytes and its properties block.
struct SimFile {
  std::vector<uint8_t> data;
  std::vector<uint8_t> properties;
};

/// The attribute record a unit reports for a file: size, the four file
/// checksums and the properties block.
struct SimFileAttributes {
  uint32_t size = 0;
  uint32_t checksum1 = 0;
  uint32_t checksum2 = 0;
  uint32_t checksum3 = 0;
  uint32_t checksum4 = 0;
  std::vector<uint8_t> properties;
};

/// The file a unit has open for the remote file services: one at a time.
struct OpenFileState {
  enum class Mode : uint8_t { kClosed, kReading, kWriting };
  Mode mode = Mode::kClosed;
  uint8_t drive = 0;
  uint16_t file = 0;
  uint32_t acknowledged = 0;  ///< bytes received in order so far (writing)
  uint32_t lastBlockOffset = 0;  ///< offset of the last block taken (writing)
  bool highSpeed = false;     ///< the last data block came in the "H" form
};

/// A unit's file drives: drive numbers (1 the file drive, 177 a display's raw
/// resource area, 193 the programmer drive) holding files by 16-bit number.
/// Sizes are capped so that a misbehaving peer cannot exhaust memory.
class FileStore {
 public:
  /// The largest file a drive accepts (bigger than any image or resource).
  static constexpr uint32_t kMaxFileSize = 4u * 1024u * 1024u;
  /// Result codes the file services answer with.
  static constexpr uint8_t kResultOk = 0;
  static constexpr uint8_t kResultNoFile = 1;
  static constexpr uint8_t kResultNoDrive = 2;
  static constexpr uint8_t kResultFull = 3;

  /// A store with the drives every unit has: 1, 177 and 193.
  FileStore();

  bool HasDrive(uint8_t drive) const;
  void AddDrive(uint8_t drive);
  /// The file, or nullptr when the drive or the file does not exist.
  const SimFile* Find(uint8_t drive, uint16_t file) const;
  SimFile* Find(uint8_t drive, uint16_t file);
  /// Creates or replaces a file with the given contents (no properties);
  /// false when the drive does not exist or the data is too large.
  bool Put(uint8_t drive, uint16_t file, std::vector<uint8_t> data);
  /// Creates an empty file, replacing any file of that number (properties go too).
  bool Create(uint8_t drive, uint16_t file);
  bool Remove(uint8_t drive, uint16_t file);
  /// Removes every file of a drive (the drive stays).
  void EraseDrive(uint8_t drive);
  /// Writes bytes at an offset, growing the file with zero bytes as needed;
  /// false when the file does not exist or the result would exceed kMaxFileSize.
  bool WriteAt(uint8_t drive, uint16_t file, uint32_t offset, const uint8_t* data, size_t count);
  /// Up to `count` bytes from `offset` (fewer at the end of the file, none past it).
  std::vector<uint8_t> ReadAt(uint8_t drive, uint16_t file, uint32_t offset, size_t count) const;
  bool SetProperties(uint8_t drive, uint16_t file, std::vector<uint8_t> properties);
  /// Size, checksums and properties of a file; false when it does not exist.
  bool Attributes(uint8_t drive, uint16_t file, SimFileAttributes& out) const;
  /// The files of a drive, by number (empty when the drive does not exist).
  const std::map<uint16_t, SimFile>& Files(uint8_t drive) const;

  /// The file the remote file services have open.
  OpenFileState open;

 private:
  std::map<uint8_t, std::map<uint16_t, SimFile>> drives_;
};

}  // namespace kel::sim
