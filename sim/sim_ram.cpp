#include "sim/sim_ram.h"

#include <algorithm>

namespace kel::sim {

void SimRam::Write(uint32_t address, const uint8_t* data, size_t count) {
  while (count > 0) {
    const uint32_t offset = address % kPageSize;
    const size_t here = std::min<size_t>(count, kPageSize - offset);
    Page& page = pages_[address - offset];
    std::copy(data, data + here, page.bytes.begin() + offset);
    for (size_t i = 0; i < here; ++i) page.written.set(offset + i);
    data += here;
    count -= here;
    address += static_cast<uint32_t>(here);
  }
}

std::optional<uint8_t> SimRam::Read(uint32_t address) const {
  const uint32_t offset = address % kPageSize;
  const auto page = pages_.find(address - offset);
  if (page == pages_.end() || !page->second.written.test(offset)) return std::nullopt;
  return page->second.bytes[offset];
}

bool SimRam::EveryWrittenAddress(const std::function<bool(uint32_t)>& inside) const {
  for (const auto& [first, page] : pages_) {
    for (uint32_t offset = 0; offset < kPageSize; ++offset) {
      if (page.written.test(offset) && !inside(first + offset)) return false;
    }
  }
  return true;
}

}  // namespace kel::sim
