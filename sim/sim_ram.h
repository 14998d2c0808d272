#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>

namespace kel::sim {

/// A unit's RAM as write memory leaves it: only the bytes written are
/// known. Kept in 4 KiB pages so that a programmer of tens of KiB costs a
/// few map entries, not one per byte.
class SimRam {
 public:
  static constexpr uint32_t kPageSize = 4096;

  /// Stores `count` bytes from `address` (the caller keeps them within the
  /// 32-bit address space).
  void Write(uint32_t address, const uint8_t* data, size_t count);
  /// The byte at `address`, or nothing when it was never written.
  std::optional<uint8_t> Read(uint32_t address) const;
  /// True when `inside` holds for every address written.
  bool EveryWrittenAddress(const std::function<bool(uint32_t)>& inside) const;
  bool empty() const { return pages_.empty(); }
  void clear() { pages_.clear(); }

 private:
  struct Page {
    std::array<uint8_t, kPageSize> bytes{};
    std::bitset<kPageSize> written;
  };
  std::map<uint32_t, Page> pages_;  ///< keyed by the page's first address
};

}  // namespace kel::sim
