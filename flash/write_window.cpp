#include "flash/write_window.h"

#include "unit/rpc_codes.h"

namespace kel {

namespace {

constexpr EchoKind kWriteEcho{rpc::kWriteMemory, 4};

}  // namespace

bool SendWindowedWrite(Link& link, WriteWindow& window, size_t limit, uint32_t address,
                       const uint8_t* data, size_t length) {
  return SendEchoed(link, window, kWriteEcho, limit, address, data, length);
}

bool DrainWindow(Link& link, WriteWindow& window) { return DrainEchoed(link, window, kWriteEcho); }

}  // namespace kel
