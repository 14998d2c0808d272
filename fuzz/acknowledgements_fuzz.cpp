// Replies that acknowledge writes: the file write window's cumulative and
// negative acknowledgements, the echoes of memory writes, flash writes,
// erases and buffered commits, and a small image written into flash
// directly or through the program window.
#include "files/remote_file_access.h"
#include "flash/flash_writer.h"
#include "flash/image_catalogue.h"
#include "flash/transfer_state.h"
#include "fuzz/fuzz_link.h"
#include "unit/rpc_programmer.h"

namespace {

// Start address, total length, two records of 256 bytes, end marker.
std::vector<uint8_t> SmallImage() {
  std::vector<uint8_t> image = {0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x02, 0x00};
  for (uint32_t address : {0x8000u, 0x8100u}) {
    for (int shift = 24; shift >= 0; shift -= 8) image.push_back(uint8_t(address >> shift));
    image.push_back(0x01);
    image.push_back(0x00);
    for (int i = 0; i < 256; ++i) image.push_back(uint8_t(i));
  }
  for (int i = 0; i < 4; ++i) image.push_back(0xFF);
  return image;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kel;
  fuzz::FuzzInput input(data, size);
  fuzz::FuzzLink& f = input.link;
  const uint8_t mode = f.source.Byte();
  const bool highSpeed = mode & 1;
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
    static const std::vector<uint8_t> bytes = SmallImage();
    const ImageRef image{"fuzz image", bytes.data(), static_cast<uint32_t>(bytes.size())};
    TransferState transfer(f.options);
    UnitInfo unit;
    unit.connectionMode = modeFlashProgrammer;
    unit.mcuType = mcuLPC1768;
    unit.bufferSize = 1024;
    unit.flashBlockSize = 256;
    f.state.overlappedActive = mode & 2;
    WriteFlash(f.link, transfer, unit, image, {});
    f.state.overlappedActive = false;
    if (!files.CreateFile(5, 1, 0x100, highSpeed, result)) return;
    for (uint32_t offset = 0; offset < 20 * 128; offset += 128) {
      if (!files.WriteFileBlock(5, 1, 0x100, offset, block, 128, result)) break;
    }
    files.FlushFileRemote(5, 1, 0x100, result);
    files.CloseFile(5, 1, 0x100, result);
  });
  return 0;
}
