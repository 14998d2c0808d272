// The simulator's control channel: any text is run as commands against a
// network whose connected unit is a blank chip (COM1; COM2 is served by
// nothing), with relative image paths starting in a scratch folder that
// holds one image container. Every command line gets one reply line.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "sim/control_channel.h"
#include "sim/scenario.h"
#include "sim/sim_network.h"

namespace {

// Removed when the process ends.
struct Scratch {
  std::string path;
  ~Scratch() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
};

// A boot-loader image of one 16-byte record at 0x100.
std::string MakeScratchFolder() {
  const char* tmp = std::getenv("TMPDIR");
  const std::string folder =
      std::string(tmp && *tmp ? tmp : "/tmp") + "/kel-control-fuzz-" + std::to_string(getpid());
  std::error_code ignored;
  std::filesystem::create_directories(folder, ignored);
  const unsigned char image[] = {0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                 0x00, 0x01, 0x00, 0x00, 0x10, 1,    2,    3,    4,
                                 5,    6,    7,    8,    9,    10,   11,   12,   13,
                                 14,   15,   16,   0xFF, 0xFF, 0xFF, 0xFF};
  if (std::FILE* file = std::fopen((folder + "/boot").c_str(), "wb")) {
    std::fwrite(image, 1, sizeof image, file);
    std::fclose(file);
  }
  return folder;
}

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
  static const Scratch scratch{MakeScratchFolder()};
  const std::string& folder = scratch.path;
  SimNetwork network;
  BuildNetwork(BlankChip(), network);
  const std::map<int, SimNetwork*> ports = {{1, &network}, {2, nullptr}};
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string replies = RunControlCommands(text, ports, folder);
  if (!replies.empty() && replies.back() != '\n') __builtin_trap();
  return 0;
}
