#pragma once

#include <cstdint>
#include <vector>

#include "link/link_state.h"
#include "unit/unit_info.h"

namespace kel {

/// At most this many debug-log file numbers are accepted from a unit.
constexpr size_t kMaxDebugLogs = 32;

/// The file numbers of the unit's debug logs (application software only;
/// false without a request otherwise). A unit announcing more than
/// kMaxDebugLogs gets "Too many file ids" and false.
bool GetDebugLogs(Link& link, const UnitInfo& unit, std::vector<uint16_t>& fileNumbers);

/// What GetFileAttributes reports about a file.
struct FileAttributes {
  uint8_t result = 0;
  uint32_t size = 0;
  uint32_t checksums[4] = {};
  std::vector<uint8_t> properties;
};

/// The single exchanges of the file services, tried up to 8 times. Each
/// traces "RPC: " + name + " FileNo=" (4 hex digits) + " DriveNo=" (2 hex)
/// + " in Unit " + address, and "COMPLETE: Result=" (2 hex) or "FAILED". A
/// reply is valid only when it echoes drive and file (and the offset). The
/// unit's result byte is returned, not judged. The open-file window and the
/// data blocks are the remote file access layer's.
namespace rpc {

bool OpenFile(Link& link, uint8_t address, uint8_t drive, uint16_t file, uint8_t& result);
bool CreateFile(Link& link, uint8_t address, uint8_t drive, uint16_t file, uint8_t& result);
bool CloseFile(Link& link, uint8_t address, uint8_t drive, uint16_t file, uint8_t& result);
/// Stores a file's properties block (the caller keeps it below 240 bytes).
bool SetFileProperties(Link& link, uint8_t address, uint8_t drive, uint16_t file,
                       const std::vector<uint8_t>& properties, uint8_t& result);
/// The file's size, four checksums and properties; `newSize` tells the unit
/// the size of the file about to replace it.
bool GetFileAttributes(Link& link, uint8_t address, uint8_t drive, uint16_t file, uint32_t newSize,
                       FileAttributes& attributes);
/// One unwindowed read of up to `maxLength` bytes at `offset`. `data` gets
/// the bytes; a count of 0xFF (the unit's flash failed) is returned as
/// `count` with no data and the call succeeds, for the caller to report.
bool ReadFileBlock(Link& link, uint8_t address, uint8_t drive, uint16_t file, uint32_t offset,
                   uint8_t maxLength, uint8_t& count, std::vector<uint8_t>& data);

}  // namespace rpc

}  // namespace kel
