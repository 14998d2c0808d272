#pragma once

#include <cstdint>
#include <vector>

#include "sim/sim_reply.h"

namespace kel::sim {

struct SimUnit;

/// The remote file services a unit's application and its flash programmer
/// answer: OpenFile (0x1026), ReadFileBlock (0x1027), CreateFile (0x1029),
/// SetFileProperties (0x102B), CloseFile (0x102C), GetFileAttributes (0x102F),
/// and the data blocks of service "G" (0x47) and, from application software
/// 6.04 on or in the programmer, "H" (0x48): writes acknowledged with "3"
/// (cumulative: every byte up to and including the block at that offset) or
/// "4" (negative: a block that does not follow the bytes received so far),
/// and read requests answered with "1" replies.
///
/// Blocks must arrive in offset order; a block already received is
/// acknowledged again with the last good offset. Reads (ReadFileBlock and
/// "G" or "H" read requests) are answered only for the file open for
/// reading; others are ignored. With
/// `SimUnit::hardwareFailure` set, writes acknowledge with that result and
/// reads answer with the failure count 0xFF.
bool HandleFileRequest(SimUnit& unit, const std::vector<uint8_t>& payload, SimReplies& replies);

/// The largest data block a read returns (a count of 0xFF means a failure).
constexpr uint8_t kFileBlockSize = 128;
/// Longest properties block a unit keeps.
constexpr uint8_t kMaxPropertiesSize = 239;

}  // namespace kel::sim
