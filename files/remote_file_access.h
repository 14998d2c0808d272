#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "files/file_blocks.h"
#include "link/link_state.h"
#include "unit/rpc_files.h"
#include "unit/slot_ring.h"

namespace kel {

/// Blocks in flight at once, writing or reading.
constexpr size_t kFileWindowLimit = 8;

/// One block of the open file in flight: a write waiting for its
/// acknowledgement, or a read asked for ahead and, once its reply is in,
/// its data.
struct FileSlot {
  uint32_t offset = 0;
  std::array<uint8_t, kFileBlockSize> data{};
  uint8_t length = 0;
  bool arrived = false;
};

/// The open file's window: 9 slots, at most 8 in use.
using FileWindow = SlotRing<FileSlot, kFileWindowLimit + 1>;

/// Opening, creating, reading, writing and closing files in a unit's flash
/// drives, one file at a time. Every call names the unit's address (the
/// application's, or the flash programmer's), the drive and the file, and
/// returns true when the exchange went through; the unit's result byte (0 =
/// done) comes back separately for the caller to judge.
///
/// Bulk data moves in blocks of at most 128 bytes with up to 8 in flight:
/// writes are acknowledged cumulatively by offset, and after a negative or
/// missing acknowledgement the oldest outstanding block is sent again until
/// the unit has them all; reads are asked for ahead, from the start of the
/// file, and matched to their replies by offset.
///
/// One per run (the open-file state is the program's); a test makes a
/// fresh one.
class RemoteFileAccess {
 public:
  explicit RemoteFileAccess(Link& link) : link_(link) {}
  RemoteFileAccess(const RemoteFileAccess&) = delete;
  RemoteFileAccess& operator=(const RemoteFileAccess&) = delete;

  /// Opens an existing file for reading; the window is emptied and the
  /// reads ahead start at offset 0. `highSpeed` sends data blocks in the
  /// "H" form, when the connected unit also took it at connection.
  bool OpenFile(uint8_t address, uint8_t drive, uint16_t file, bool highSpeed, uint8_t& result);
  /// Creates (replaces) a file for writing; the window is emptied.
  bool CreateFile(uint8_t address, uint8_t drive, uint16_t file, bool highSpeed, uint8_t& result);
  /// Finishes what is in flight (takes in the replies to reads ahead, for
  /// one receive timeout at most, or waits for the acknowledgements of
  /// writes), then closes the file whatever happened.
  /// Both open flags are cleared. True when both steps went through.
  bool CloseFile(uint8_t address, uint8_t drive, uint16_t file, uint8_t& result);

  /// The file's size, checksums and properties; `newSize` tells the unit
  /// the size of the file that may replace it.
  bool GetFileAttributes(uint8_t address, uint8_t drive, uint16_t file, uint32_t newSize,
                         FileAttributes& attributes);
  /// Stores a file's properties block, which must be shorter than 240
  /// bytes: a longer one is a fault of the program (the assertion report).
  bool SetFileProperties(uint8_t address, uint8_t drive, uint16_t file,
                         const std::vector<uint8_t>& properties, uint8_t& result);
  /// One read of up to `length` (at most 128) bytes at `offset`, outside
  /// the window; `length` gets the count delivered. A unit whose flash
  /// failed (count 0xFF) is reported and the read fails.
  bool ReadFileBlock(uint8_t address, uint8_t drive, uint16_t file, uint32_t offset,
                     uint8_t& length, uint8_t* data);

  /// Queues one block of at most 128 bytes for writing, first waiting for
  /// an acknowledgement when 8 are in flight. A hardware failure the unit
  /// reports ends the transfer: false, with its result in `result`.
  bool WriteFileBlock(uint8_t address, uint8_t drive, uint16_t file, uint32_t offset,
                      const uint8_t* data, uint8_t length, uint8_t& result);
  /// Waits until every written block is acknowledged.
  bool FlushFileRemote(uint8_t address, uint8_t drive, uint16_t file, uint8_t& result);
  /// The block at `offset` of the file open for reading: up to `length`
  /// (in: at most 128) bytes into `data`, `length` out: the count (0 at the
  /// end of the file). Keeps 8 reads ahead, and never more than 8 in
  /// flight: reads asked ahead of a position the caller does not take (the
  /// blocks past a short one) keep their places until answered.
  bool ReadFileRemote(uint8_t address, uint8_t drive, uint16_t file, uint32_t offset,
                      uint8_t& length, uint8_t* data);

  bool openForReading() const { return reading_; }
  bool openForWriting() const { return writing_; }
  Link& link() { return link_; }

 private:
  bool Open(bool create, uint8_t address, uint8_t drive, uint16_t file, bool highSpeed,
            uint8_t& result);
  void Begin(bool highSpeed);

  // Writing (file_block_writes.cpp).
  bool AwaitAcknowledgements(const FileRef& ref, size_t wanted, uint8_t& result);
  bool ResendFromOldest(const FileRef& ref, uint8_t& result);
  size_t RetireUpTo(uint32_t offset);
  void SendSlot(const FileRef& ref, const FileSlot& slot);
  void ReportHardwareFailure(const WriteAck& ack, uint8_t& result);

  // Reading (file_block_reads.cpp).
  enum class ReadWait { kStored, kNothing, kStray, kFlashFailed };
  void RequestAhead(const FileRef& ref);
  ReadWait ReceiveIntoWindow(const FileRef& ref);
  bool AwaitRead(const FileRef& ref, uint32_t offset);
  bool MakeRoomFor(const FileRef& ref, uint32_t offset);
  bool FinishReads(const FileRef& ref);
  FileSlot* OutstandingRead(uint32_t offset);
  FileSlot* UnansweredRead(uint32_t offset);
  bool HasUnansweredReads();

  bool HighSpeedBlocks() const;

  Link& link_;
  bool reading_ = false;
  bool writing_ = false;
  bool highSpeed_ = false;
  FileWindow window_;
  uint32_t readPosition_ = 0;  ///< offset of the next read asked for ahead
};

}  // namespace kel
