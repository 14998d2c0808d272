// The simulator's control channel: any text is run as commands against a
// network whose connected unit is a blank chip (COM1; COM2 is served by
// nothing), with relative image paths starting in a scratch folder that
// holds one image container. Every command line gets one reply line.
#include <map>
#include <string>

#include "fuzz/scratch_folder.h"
#include "sim/control_channel.h"
#include "sim/scenario.h"
#include "sim/sim_network.h"

namespace {

const kel::sim::Scenario& BlankChip() {
  static const kel::sim::Scenario scenario = [] {
    kel::sim::Scenario s;
    std::string error;
    if (!kel::sim::ParseScenario(
            "[unit chip]\nplace = connected\nrole = blank-chip\ncard = 648\ncircuit = 3\n", s,
            error)) {
      __builtin_trap();
    }
    return s;
  }();
  return scenario;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kel::sim;
  // "boot": a boot-loader image.
  static const kel::fuzz::ScratchFolder scratch("control",
                                                {{"boot", kel::fuzz::OneRecordImage(0x100)}});
  const std::string& folder = scratch.path();
  SimNetwork network;
  BuildNetwork(BlankChip(), network);
  const std::map<int, SimNetwork*> ports = {{1, &network}, {2, nullptr}};
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string replies = RunControlCommands(text, ports, folder);
  if (!replies.empty() && replies.back() != '\n') __builtin_trap();
  return 0;
}
