#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace kel::fuzz {

/// A folder of the fuzz target's own for files its inputs name, made once
/// per process under $TMPDIR (or /tmp) and removed when the process ends.
class ScratchFolder {
 public:
  using Files = std::vector<std::pair<std::string, std::vector<uint8_t>>>;

  /// Makes the folder for `target` and writes `files` (name, bytes) in it.
  ScratchFolder(const std::string& target, const Files& files) {
    const char* tmp = std::getenv("TMPDIR");
    path_ = std::string(tmp && *tmp ? tmp : "/tmp") + "/kel-" + target + "-fuzz-" +
            std::to_string(getpid()) + "/";
    std::error_code ignored;
    std::filesystem::create_directories(path_, ignored);
    for (const auto& [name, bytes] : files) {
      if (std::FILE* file = std::fopen((path_ + name).c_str(), "wb")) {
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
      }
    }
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  /// The folder, ending in '/'.
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

/// An image container of one 16-byte record (1 to 16) at `address`.
inline std::vector<uint8_t> OneRecordImage(uint32_t address) {
  std::vector<uint8_t> image;
  for (int twice = 0; twice < 2; ++twice) {  // start address, then the record's
    for (int shift = 24; shift >= 0; shift -= 8) image.push_back(uint8_t(address >> shift));
    if (twice == 0) image.insert(image.end(), {0x00, 0x00, 0x00, 0x10});  // total length
  }
  image.insert(image.end(), {0x00, 0x10});  // the record's length
  for (uint8_t i = 1; i <= 16; ++i) image.push_back(i);
  image.insert(image.end(), {0xFF, 0xFF, 0xFF, 0xFF});
  return image;
}

}  // namespace kel::fuzz
