#include "tests/platform_test_support.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/files.h"

namespace kel {

TemporaryFolder::TemporaryFolder() {
  // Unique per process and per object, so parallel test runs never meet.
  static std::atomic<unsigned> counter{0};
  auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  std::ostringstream name;
  name << "kel_test_" << stamp << "_" << counter++;
  std::filesystem::path folder = std::filesystem::temp_directory_path() / name.str();
  std::filesystem::create_directories(folder);
  path_ = folder.string();
}

TemporaryFolder::~TemporaryFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TemporaryFolder::File(const std::string& name) const {
  return path_ + PathSeparator() + name;
}

bool WriteTextFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out.flush());
}

std::string ReadTextFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace kel
