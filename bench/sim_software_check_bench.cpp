// Prints how long the simulator takes to compute a unit's software check
// values over a full two-bank flash, and to take a programmer's flash writes.
#include <chrono>
#include <cstdio>

#include "sim/programmer_role.h"
#include "sim/sim_unit.h"
#include "sim/software_checksum.h"

int main() {
  using Clock = std::chrono::steady_clock;
  kel::sim::SimUnit unit;
  unit.cardNumber = 653;  // KD4 display, LPC4337: about 1 MB of software regions
  unit.mcuType = 6;
  unit.role = kel::sim::SimRole::kProgrammer;
  std::vector<uint8_t> block(8192);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 7);

  auto start = Clock::now();
  size_t written = 0;
  for (uint32_t bank : {0x1A004000u, 0x1B000000u}) {
    for (uint32_t at = bank; at + block.size() <= (bank & 0xFF000000u) + 0x80000u; at += block.size()) {
      kel::sim::ProgramFlash(unit, at, block.data(), block.size());
      written += block.size();
    }
  }
  const double programMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();

  start = Clock::now();
  const uint32_t checksum = kel::sim::ReportedSoftwareCheck(unit).checksum;
  const double firstMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  start = Clock::now();
  const int rounds = 1000;
  uint32_t sink = 0;
  for (int i = 0; i < rounds; ++i) sink = kel::sim::ReportedSoftwareCheck(unit).checksum;
  const double againUs = std::chrono::duration<double, std::micro>(Clock::now() - start).count() / rounds;

  std::printf("programmed %zu bytes in %.1f ms\n", written, programMs);
  std::printf("software check over the KD4 regions: %.1f ms (checksum %08X), unchanged flash again: %.2f us (%08X)\n",
              firstMs, checksum, againUs, sink);
  return 0;
}
