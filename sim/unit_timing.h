#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kel::sim {

struct SimUnit;

/// How long a unit takes over its work while the line model runs. The
/// defaults follow the LPC microcontrollers' datasheets where units in the
/// field agree with them: programming a 256-byte page takes about 1 ms, and
/// taking in a request and starting the reply is a matter of a few thousand
/// instructions. A sector erase is charged 25 ms, not the datasheet's
/// 100 ms a sector: units answer an erase of their whole software range (up
/// to 28 sectors) within the one second the updater waits for the reply.
struct UnitTiming {
  uint32_t requestUs = 100;       ///< every request: parse, act, start the reply
  uint32_t programPageUs = 1000;  ///< programming 256 bytes of flash, charged per byte
  uint32_t eraseSectorMs = 25;    ///< erasing one flash sector
};

/// Sectors a drive erase (EraseFMS) is charged for: a unit's file drive
/// spans a few sectors of its flash.
constexpr uint32_t kDriveEraseSectors = 4;

/// Bytes a unit's receive buffer holds beyond its transfer buffer: the
/// headers and check value of the largest request.
constexpr size_t kReceiveOverhead = 16;

/// The time a unit in its present role spends on `payload`: the request
/// time, plus the programming time of the bytes it writes into flash (flash
/// program requests and file data blocks), plus the erase time of every
/// sector an erase request touches.
uint64_t ProcessingUs(const SimUnit& unit, const std::vector<uint8_t>& payload);

/// The kinds of request a sender may have several of in flight.
enum class WindowKind : uint8_t {
  kNone,         ///< one request, one reply
  kMemoryWrite,  ///< the boot loader's write memory (0x1020) of the overlapped download
  kChunk,        ///< buffered chunks (0x1038)
  kProgram,      ///< windowed program flash (0x1041)
  kFileBlock,    ///< file data blocks and read requests ("G" and "H")
};

WindowKind WindowKindOf(const SimUnit& unit, const std::vector<uint8_t>& payload);

/// How many requests of a kind the unit holds unanswered: the boot loader
/// keeps 8 overlapped writes from release 18 on and one before it; chunks,
/// windowed programming and file blocks are kept 8 deep.
size_t WindowLimit(const SimUnit& unit, WindowKind kind);

/// Bytes the unit's receive buffer holds while it is busy: its transfer
/// buffer and the headers of a request.
size_t ReceiveCapacity(const SimUnit& unit);

}  // namespace kel::sim
