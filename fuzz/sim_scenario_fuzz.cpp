// The simulator's scenario reader: any text is read as a scenario file
// whose relative paths start in a scratch folder holding an image container
// and a raw file; a scenario that reads is then built into a network.
#include <string>
#include <vector>

#include "fuzz/scratch_folder.h"
#include "sim/scenario.h"
#include "sim/sim_network.h"

namespace {

std::vector<uint8_t> Counting(size_t count) {
  std::vector<uint8_t> bytes(count);
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(i);
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kel::sim;
  // "image": a container of one record at 0x4000; "raw": 32 bytes.
  static const kel::fuzz::ScratchFolder scratch(
      "scenario", {{"image", kel::fuzz::OneRecordImage(0x4000)}, {"raw", Counting(32)}});
  const std::string& folder = scratch.path();
  const std::string text(reinterpret_cast<const char*>(data), size);
  Scenario scenario;
  std::string error;
  if (!ParseScenario(text, scenario, error, folder)) {
    if (error.empty()) __builtin_trap();  // a refusal always says why
    return 0;
  }
  SimNetwork network;
  BuildNetwork(scenario, network);
  if (network.connected() == nullptr) __builtin_trap();
  return 0;
}
