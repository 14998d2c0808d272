#include "flash/chunk_window.h"

#include "unit/rpc_codes.h"
#include "unit/rpc_programmer.h"

namespace kel {

namespace {

constexpr EchoKind kChunkEcho{rpc::kBufferedChunk, 2};
constexpr size_t kChunkLimit = 8;

}  // namespace

bool SendBufferedChunks(Link& link, ChunkWindow& window, const uint8_t* data, size_t length) {
  for (size_t offset = 0; offset < length; offset += rpc::kSmallBlock) {
    if (!SendEchoed(link, window, kChunkEcho, kChunkLimit, static_cast<uint32_t>(offset),
                    data + offset, length - offset)) {
      return false;
    }
  }
  return DrainEchoed(link, window, kChunkEcho);
}

}  // namespace kel
