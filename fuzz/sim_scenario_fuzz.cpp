// The simulator's scenario reader: any text is read as a scenario file
// whose relative paths start in a scratch folder holding an image container
// and a raw file; a scenario that reads is then built into a network.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

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

void WriteFile(const std::string& path, const unsigned char* bytes, size_t count) {
  if (std::FILE* file = std::fopen(path.c_str(), "wb")) {
    std::fwrite(bytes, 1, count, file);
    std::fclose(file);
  }
}

// The scratch folder, made once per process, with "image" (a container of
// one 16-byte record at 0x4000) and "raw" (32 bytes).
std::string MakeScratchFolder() {
  const char* tmp = std::getenv("TMPDIR");
  const std::string folder =
      std::string(tmp && *tmp ? tmp : "/tmp") + "/kel-scenario-fuzz-" + std::to_string(getpid());
  std::error_code ignored;
  std::filesystem::create_directories(folder, ignored);
  const unsigned char image[] = {0x00, 0x00, 0x40, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                 0x00, 0x40, 0x00, 0x00, 0x10, 1,    2,    3,    4,
                                 5,    6,    7,    8,    9,    10,   11,   12,   13,
                                 14,   15,   16,   0xFF, 0xFF, 0xFF, 0xFF};
  unsigned char raw[32];
  for (unsigned i = 0; i < sizeof raw; ++i) raw[i] = static_cast<unsigned char>(i);
  WriteFile(folder + "/image", image, sizeof image);
  WriteFile(folder + "/raw", raw, sizeof raw);
  return folder + "/";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kel::sim;
  static const Scratch scratch{MakeScratchFolder()};
  const std::string& folder = scratch.path;
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
