// The log extraction of one unit: replies to its identification, to the
// opening of its configuration and crash logs and the reads of their blocks
// (the copy loop), to the list of its debug logs and their reads, all into
// files in a scratch folder that is emptied after each input.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "files/log_extraction.h"
#include "fuzz/fuzz_link.h"

namespace {

std::string ScratchFolder() {
  const char* folder = std::getenv("TMPDIR");
  return std::string(folder && *folder ? folder : "/tmp") + "/kel-logs-fuzz-" +
         std::to_string(getpid());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kel;
  static const std::string folder = ScratchFolder();
  fuzz::FuzzInput input(data, size);
  fuzz::FuzzLink& f = input.link;
  RemoteFileAccess files(f.link);
  UnitInfo unit;
  unit.connectionMode = modeApplication;
  unit.unitAddress = 5;
  fuzz::Guarded([&] { ExtractLogFilesFromUnit(files, unit, folder); });
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return 0;
}
