// The parameter file: any content is read for every key the program asks
// for, then the "Message" entry is rewritten. The rewrite must read back
// with the new message and leave every other key's value as it was.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "fuzz/fuzz_link.h"
#include "runtime/parameter_file.h"

namespace {

std::string ScratchFile() {
  const char* folder = std::getenv("TMPDIR");
  return std::string(folder && *folder ? folder : "/tmp") + "/kel-param-fuzz-" +
         std::to_string(getpid()) + ".ini";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kel;
  static const std::string path = ScratchFile();
  if (FILE* file = std::fopen(path.c_str(), "wb")) {
    if (size > 0) std::fwrite(data, 1, size, file);
    std::fclose(file);
  }
  fuzz::FuzzInput input(nullptr, 0);
  fuzz::FuzzLink& f = input.link;
  fuzz::Guarded([&] {
    const char* keys[] = {kParamManufacture, kParamProgram, kParamBootExe, kParamHomeDir};
    std::string before[4];
    for (int i = 0; i < 4; ++i) before[i] = GetParam(f.runtime, path, keys[i]);
    GetParamBool(f.runtime, path, kParamManufacture);
    GetParamInt(f.runtime, path, kParamProgram);
    WriteParam(f.runtime, path, kParamMessage, "Unable to change baud rate");
    if (GetParam(f.runtime, path, kParamMessage) != "Unable to change baud rate") __builtin_trap();
    for (int i = 0; i < 4; ++i) {
      if (GetParam(f.runtime, path, keys[i]) != before[i]) __builtin_trap();
    }
  });
  std::remove(path.c_str());
  return 0;
}
