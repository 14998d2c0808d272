// Replies to reads: the file's read window ("G" and "H" blocks, 8 ahead,
// matched by offset) and the programmer's memory and flash reads.
#include "files/remote_file_access.h"
#include "fuzz/fuzz_link.h"
#include "unit/rpc_programmer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kel;
  fuzz::FuzzInput input(data, size);
  fuzz::FuzzLink& f = input.link;
  const bool highSpeed = f.source.Byte() & 1;
  f.state.software604OrLater = highSpeed;
  RemoteFileAccess files(f.link);
  fuzz::Guarded([&] {
    uint8_t block[128];
    rpc::Read128(f.link, 0x8000, block);
    rpc::ExamineMemory(f.link, 0x10000000, 64, block);
    uint8_t result = 0;
    if (!files.OpenFile(5, 1, 0x100, highSpeed, result)) return;
    uint32_t offset = 0;
    for (int i = 0; i < 64; ++i) {
      uint8_t length = 128;
      if (!files.ReadFileRemote(5, 1, 0x100, offset, length, block) || length == 0) break;
      offset += length;
    }
    files.CloseFile(5, 1, 0x100, result);
  });
  return 0;
}
