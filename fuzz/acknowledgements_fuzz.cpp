// Replies that acknowledge writes: the file write window's cumulative and
// negative acknowledgements, and the echoes of memory writes, flash writes,
// erases and buffered commits.
#include "files/remote_file_access.h"
#include "fuzz/fuzz_link.h"
#include "unit/rpc_programmer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kel;
  fuzz::FuzzLink f(data, size);
  const bool highSpeed = f.source.Byte() & 1;
  f.state.software604OrLater = highSpeed;
  RemoteFileAccess files(f.link);
  uint8_t block[128];
  for (size_t i = 0; i < sizeof block; ++i) block[i] = static_cast<uint8_t>(i);
  fuzz::Guarded([&] {
    uint8_t result = 0;
    rpc::WriteMemory(f.link, 0x10000000, block, 128);
    rpc::Write128(f.link, 0x8000, block, result);
    rpc::EraseRange(f.link, 0x8000, 0xFFFF);
    rpc::BufferedChunk(f.link, 0, block, 128);
    rpc::BufferedCommit(f.link, 0x8000, 256);
    rpc::EraseFms(f.link, 1, result);
    if (!files.CreateFile(5, 1, 0x100, highSpeed, result)) return;
    for (uint32_t offset = 0; offset < 20 * 128; offset += 128) {
      if (!files.WriteFileBlock(5, 1, 0x100, offset, block, 128, result)) break;
    }
    files.FlushFileRemote(5, 1, 0x100, result);
    files.CloseFile(5, 1, 0x100, result);
  });
  return 0;
}
