#include "sim/flash_memory.h"

#include <algorithm>
#include <atomic>

namespace kel::sim {

namespace {

constexpr uint8_t kLpc2478 = 3;
constexpr uint8_t kLpc4078 = 4;
constexpr uint8_t kLpc1768 = 5;
constexpr uint8_t kLpc4337 = 6;
constexpr uint8_t kLpc4357 = 7;

constexpr uint32_t kBankA = 0x1A000000;
constexpr uint32_t kBankB = 0x1B000000;

FlashRange Sector(uint32_t base, uint32_t size, uint32_t address) {
  const uint32_t first = base + (address - base) / size * size;
  return {first, first + size - 1};
}

}  // namespace

void FlashMemory::Touch() {
  static std::atomic<uint64_t> next{0};
  stamp_ = ++next;
}

uint8_t FlashMemory::ReadByte(uint32_t address) const {
  const auto page = pages_.find(address / kPageSize * kPageSize);
  if (page == pages_.end()) return kErased;
  return page->second[address % kPageSize];
}

std::vector<uint8_t> FlashMemory::Read(uint32_t address, size_t count) const {
  std::vector<uint8_t> out(count, kErased);
  uint64_t at = address;
  size_t done = 0;
  while (done < count && at <= 0xFFFFFFFFull) {
    const uint32_t base = static_cast<uint32_t>(at / kPageSize * kPageSize);
    const size_t inPage = static_cast<size_t>(at - base);
    const size_t take = std::min(count - done, kPageSize - inPage);
    const auto page = pages_.find(base);
    if (page != pages_.end()) {
      std::copy_n(page->second.begin() + static_cast<std::ptrdiff_t>(inPage), take, out.begin() + static_cast<std::ptrdiff_t>(done));
    }
    done += take;
    at += take;
  }
  return out;
}

void FlashMemory::Write(uint32_t address, const std::vector<uint8_t>& data) {
  Write(address, data.data(), data.size());
}

void FlashMemory::Write(uint32_t address, const uint8_t* data, size_t count) {
  Touch();
  uint64_t at = address;
  size_t done = 0;
  while (done < count && at <= 0xFFFFFFFFull) {
    const uint32_t base = static_cast<uint32_t>(at / kPageSize * kPageSize);
    const size_t inPage = static_cast<size_t>(at - base);
    const size_t take = std::min(count - done, kPageSize - inPage);
    auto& page = pages_[base];
    if (page.empty()) page.assign(kPageSize, kErased);
    std::copy_n(data + done, take, page.begin() + static_cast<std::ptrdiff_t>(inPage));
    done += take;
    at += take;
  }
}

void FlashMemory::Erase(uint32_t first, uint32_t last) {
  if (last < first) return;
  Touch();
  // Walk only the pages that exist: erasing a whole bank costs nothing.
  auto page = pages_.lower_bound(first / kPageSize * kPageSize);
  while (page != pages_.end() && page->first <= last) {
    const uint32_t base = page->first;
    const uint32_t from = std::max(first, base);
    const uint32_t to = std::min<uint64_t>(last, uint64_t{base} + kPageSize - 1);
    std::fill(page->second.begin() + (from - base), page->second.begin() + (to - base) + 1, kErased);
    const bool blank = std::all_of(page->second.begin(), page->second.end(), [](uint8_t b) { return b == kErased; });
    page = blank ? pages_.erase(page) : std::next(page);
  }
}

void FlashMemory::EraseAll() {
  Touch();
  pages_.clear();
}

bool FlashMemory::HasData(uint32_t first, uint32_t last) const {
  if (last < first) return false;
  for (auto page = pages_.lower_bound(first / kPageSize * kPageSize); page != pages_.end() && page->first <= last; ++page) {
    const uint32_t base = page->first;
    const uint32_t from = std::max(first, base);
    const uint32_t to = std::min<uint64_t>(last, uint64_t{base} + kPageSize - 1);
    for (uint32_t a = from; a <= to; ++a) {
      if (page->second[a - base] != kErased) return true;
      if (a == 0xFFFFFFFFu) break;
    }
  }
  return false;
}

bool FlashMemory::BackupRegion(uint8_t mcuType, FlashRange& region) {
  switch (mcuType) {
    case kLpc2478:
    case kLpc1768:
    case kLpc4078:
      region = {0x300, 0x3FF};
      return true;
    case kLpc4337:
    case kLpc4357:
      region = {0x1A000400, 0x1A0005FF};
      return true;
    default:
      return false;
  }
}

uint32_t FlashMemory::FlashBase(uint8_t mcuType) {
  return (mcuType == kLpc4337 || mcuType == kLpc4357) ? kBankA : 0;
}

bool FlashMemory::InFlash(uint8_t mcuType, uint32_t address) {
  switch (mcuType) {
    case kLpc2478:
    case kLpc1768:
    case kLpc4078:
      return address < 0x80000;
    case kLpc4337:
    case kLpc4357:
      return (address >= kBankA && address - kBankA < 0x80000) || (address >= kBankB && address - kBankB < 0x80000);
    default:
      return true;
  }
}

FlashRange FlashMemory::SectorOf(uint8_t mcuType, uint32_t address) {
  switch (mcuType) {
    case kLpc1768:
    case kLpc4078:
      // 16 sectors of 4 KiB, then 32 KiB sectors.
      return address < 0x10000 ? Sector(0, 0x1000, address) : Sector(0x10000, 0x8000, address);
    case kLpc2478:
      // 8 sectors of 4 KiB, 14 of 32 KiB up to 0x77FFF, then 4 KiB again.
      if (address < 0x8000) return Sector(0, 0x1000, address);
      if (address < 0x78000) return Sector(0x8000, 0x8000, address);
      return Sector(0x78000, 0x1000, address);
    case kLpc4337:
    case kLpc4357: {
      // Each bank: 8 sectors of 8 KiB, then 64 KiB sectors.
      const uint32_t bank = address >= kBankB ? kBankB : kBankA;
      if (address < bank) return Sector(0, 0x1000, address);
      return address - bank < 0x10000 ? Sector(bank, 0x2000, address) : Sector(bank + 0x10000, 0x10000, address);
    }
    default:
      return Sector(0, 0x1000, address);
  }
}

}  // namespace kel::sim
