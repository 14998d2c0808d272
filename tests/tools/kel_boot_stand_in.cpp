// A stand-in for the external boot tool, for tests only (never shipped).
// It honours the tool's command line:
//   "-g<file>;mcu=<n>,..."  writes a flash programmer for that MCU into <file>;
//   "COM<n>"                programs the blank chip on port n: it asks the
//                           simulator, through its control file, to put a
//                           boot loader on the chip and waits for the answer.
// The options after the first argument (-l, -s, -d, -dd, -y) are accepted.
// Environment:
//   KELBOOT_STAND_IN_LOG       a file each run appends its arguments to, one line a run
//   KELBOOT_STAND_IN_EXIT      a non-zero exit code to fail with, doing nothing else
//   KELBOOT_STAND_IN_HANG      hang this many seconds, deaf to SIGINT, SIGTERM and
//                              SIGHUP (only SIGKILL ends it), then exit 0, doing
//                              nothing else; its pid goes into KELBOOT_STAND_IN_PID
//   KELBOOT_STAND_IN_CONTROL   the simulator's control file (--control)
//   KELBOOT_STAND_IN_BOOT_LOADER  the boot loader's version, e.g. 4r24 (default)
//   KELBOOT_STAND_IN_BOOT_IMAGE   an image container put into the chip's flash

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

void AppendBigEndian(std::vector<uint8_t>& out, uint32_t value, int bytes) {
  for (int shift = (bytes - 1) * 8; shift >= 0; shift -= 8) {
    out.push_back(static_cast<uint8_t>(value >> shift));
  }
}

// The RAM address a programmer for `mcu` is loaded at; 0 for MCUs the tool
// has no programmer for.
uint32_t LoadAddress(int mcu) {
  switch (mcu) {
    case 3:
      return 0x40000000;  // LPC2478
    case 4:
    case 5:
      return 0x10000000;  // LPC4078, LPC1768
    case 6:
    case 7:
      return 0x10080000;  // LPC4337, LPC4357
    default:
      return 0;
  }
}

// An image container of four 128-byte records of recognisable filler,
// loaded at `load` and started 0x41 bytes in.
std::vector<uint8_t> ProgrammerImage(uint32_t load) {
  constexpr uint32_t kRecord = 128;
  constexpr uint32_t kRecords = 4;
  const std::string filler = "KelBoot stand-in programmer ";
  std::vector<uint8_t> image;
  AppendBigEndian(image, load + 0x41, 4);
  AppendBigEndian(image, kRecord * kRecords, 4);
  for (uint32_t r = 0; r < kRecords; ++r) {
    AppendBigEndian(image, load + r * kRecord, 4);
    AppendBigEndian(image, kRecord, 2);
    for (uint32_t i = 0; i < kRecord; ++i) {
      image.push_back(static_cast<uint8_t>(filler[(r * kRecord + i) % filler.size()]));
    }
  }
  AppendBigEndian(image, 0xFFFFFFFF, 4);
  return image;
}

// "-g<file>;mcu=<n>,bootversion=...": writes the programmer into <file>.
int WriteProgrammer(const std::string& request) {
  const size_t semicolon = request.find(';');
  const size_t mcuAt = request.find("mcu=", semicolon == std::string::npos ? 0 : semicolon);
  if (semicolon == std::string::npos || mcuAt == std::string::npos) {
    std::cerr << "stand-in: malformed request " << request << "\n";
    return 2;
  }
  const std::string file = request.substr(2, semicolon - 2);
  const uint32_t load = LoadAddress(std::atoi(request.c_str() + mcuAt + 4));
  if (load == 0) {
    std::cerr << "stand-in: no programmer for " << request << "\n";
    return 2;
  }
  const std::vector<uint8_t> image = ProgrammerImage(load);
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(image.data()),
            static_cast<std::streamsize>(image.size()));
  return out ? 0 : 2;
}

// "COM<n>": one boot-loader command through the simulator's control file,
// written under another name and renamed into place, then the reply.
int ProgramBlankChip(const std::string& port) {
  const std::string control = Env("KELBOOT_STAND_IN_CONTROL");
  if (control.empty()) {
    std::cerr << "stand-in: KELBOOT_STAND_IN_CONTROL is not set\n";
    return 2;
  }
  std::string version = Env("KELBOOT_STAND_IN_BOOT_LOADER");
  if (version.empty()) version = "4r24";
  std::string command = "boot-loader " + port + " " + version;
  const std::string image = Env("KELBOOT_STAND_IN_BOOT_IMAGE");
  if (!image.empty()) command += " image=" + image;
  const std::string reply = control + ".reply";
  std::error_code ignored;
  fs::remove(reply, ignored);
  {
    std::ofstream out(control + ".new", std::ios::binary | std::ios::trunc);
    out << command << "\n";
    if (!out) return 2;
  }
  fs::rename(control + ".new", control);
  for (int waited = 0; waited < 400; ++waited) {
    if (fs::exists(reply)) {
      std::ifstream in(reply, std::ios::binary);
      std::stringstream text;
      text << in.rdbuf();
      in.close();
      fs::remove(reply, ignored);
      if (text.str().rfind("ok ", 0) == 0) return 0;
      std::cerr << "stand-in: " << text.str();
      return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  std::cerr << "stand-in: no reply from the simulator\n";
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string line;
  for (int i = 1; i < argc; ++i) line += (i > 1 ? " " : "") + std::string(argv[i]);
  const std::string log = Env("KELBOOT_STAND_IN_LOG");
  if (!log.empty()) std::ofstream(log, std::ios::app) << line << "\n";

  const int hang = std::atoi(Env("KELBOOT_STAND_IN_HANG").c_str());
  if (hang > 0) {
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) ::signal(signal, SIG_IGN);
    std::ofstream(Env("KELBOOT_STAND_IN_PID")) << getpid() << "\n";
    std::this_thread::sleep_for(std::chrono::seconds(hang));
    return 0;
  }
  const int failure = std::atoi(Env("KELBOOT_STAND_IN_EXIT").c_str());
  if (failure != 0) return failure;
  if (argc < 2) return 2;
  const std::string first = argv[1];
  if (first.rfind("-g", 0) == 0) return WriteProgrammer(first);
  if (first.rfind("COM", 0) == 0) return ProgramBlankChip(first);
  std::cerr << "stand-in: unknown request " << first << "\n";
  return 2;
}
