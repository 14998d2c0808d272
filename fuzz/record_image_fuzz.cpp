// The programmer image the external boot tool writes: any bytes read into
// the buffer are accepted only as a well-formed container, whose records
// then lie inside what was read.
#include <cstring>

#include "flash/boot_tool_programmer.h"
#include "flash/record_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kel;
  static BootToolProgrammer programmer;  // one megabyte: made once
  const size_t count = size < programmer.capacity() ? size : programmer.capacity();
  std::memcpy(programmer.buffer(), data, count);
  const ImageRef* ref = programmer.Accept(static_cast<long>(count));
  RecordImage image;
  if (image.Parse(data, size)) {
    uint64_t total = 0;
    for (const ImageRecord& record : image.records()) {
      // Each record must lie within the input; reading it proves it to ASan.
      volatile uint8_t sink = 0;
      for (uint16_t i = 0; i < record.length; ++i) sink = sink ^ record.data[i];
      if (record.data < data || record.data + record.length > data + size) __builtin_trap();
      total += record.length;
    }
    if (total != image.payloadBytes()) __builtin_trap();
  }
  (void)ref;
  return 0;
}
