#include "sim/sim_ram.h"

#include <gtest/gtest.h>

#include <vector>

namespace kel::sim {
namespace {

TEST(SimRam, KeepsOnlyTheBytesWrittenAcrossPages) {
  SimRam ram;
  EXPECT_TRUE(ram.empty());
  // Across a page boundary, and one byte at the very top of the address space.
  std::vector<uint8_t> data(SimRam::kPageSize + 10);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 13);
  const uint32_t start = 0x10000000 + SimRam::kPageSize - 5;
  ram.Write(start, data.data(), data.size());
  const uint8_t top = 0x5A;
  ram.Write(0xFFFFFFFF, &top, 1);
  for (size_t i = 0; i < data.size(); ++i) ASSERT_EQ(ram.Read(start + i), data[i]) << i;
  EXPECT_EQ(ram.Read(0xFFFFFFFF), top);
  // Unwritten bytes, in a touched page or not, read as never written.
  EXPECT_FALSE(ram.Read(start - 1).has_value());
  EXPECT_FALSE(ram.Read(static_cast<uint32_t>(start + data.size())).has_value());
  EXPECT_FALSE(ram.Read(0x20000000).has_value());

  std::vector<uint32_t> seen;
  EXPECT_TRUE(ram.EveryWrittenAddress([&](uint32_t a) {
    seen.push_back(a);
    return true;
  }));
  ASSERT_EQ(seen.size(), data.size() + 1);
  EXPECT_EQ(seen.front(), start);
  EXPECT_EQ(seen.back(), 0xFFFFFFFFu);
  EXPECT_FALSE(ram.EveryWrittenAddress([](uint32_t a) { return a != 0xFFFFFFFF; }));

  ram.clear();
  EXPECT_TRUE(ram.empty());
  EXPECT_FALSE(ram.Read(start).has_value());
}

}  // namespace
}  // namespace kel::sim
