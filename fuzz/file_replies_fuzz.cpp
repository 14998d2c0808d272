// Replies to the single file services: open, create, close, attributes,
// properties and the unwindowed block read.
#include "files/remote_file_access.h"
#include "fuzz/fuzz_link.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kel;
  fuzz::FuzzInput input(data, size);
  fuzz::FuzzLink& f = input.link;
  const bool highSpeed = f.source.Byte() & 1;
  RemoteFileAccess files(f.link);
  fuzz::Guarded([&] {
    uint8_t result = 0;
    FileAttributes attributes;
    files.GetFileAttributes(5, 1, 0x100, 4000, attributes);
    files.SetFileProperties(5, 1, 0x100, {1, 2, 3}, result);
    files.OpenFile(5, 1, 0x100, highSpeed, result);
    uint8_t block[128];
    uint8_t length = 128;
    files.ReadFileBlock(5, 1, 0x100, 0, length, block);
    files.CloseFile(5, 1, 0x100, result);
    files.CreateFile(5, 1, 0x101, highSpeed, result);
    files.CloseFile(5, 1, 0x101, result);
  });
  return 0;
}
