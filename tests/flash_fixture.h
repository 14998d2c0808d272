#pragma once

// A simulated unit in its boot loader, reached directly or through a test
// jig's proxy, with the transfer state of a run, for the tests of the
// programmer download and the flash writes.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "flash/image_catalogue.h"
#include "flash/programmer_download.h"
#include "flash/record_image.h"
#include "flash/transfer_state.h"
#include "sim/sim_network.h"
#include "tests/connect_fixture.h"
#include "tests/sim_flash_support.h"
#include "tests/unit_fixture.h"
#include "unit/proxy_switch.h"
#include "unit/rpc_buffer_size.h"
#include "unit/rpc_identification.h"
#include "unit/rpc_proxy.h"

namespace kel {

/// How blocks travel: one request per reply, overlapped through a window,
/// or buffered through a test jig.
enum class Transport { kDirect, kOverlapped, kBuffered };

struct FlashFixture : ConnectFixture {
  static constexpr uint8_t kJig = 1;
  static constexpr uint32_t kRamStart = 0x10000000;

  /// Serves one unit with an `mcu` in its boot loader at release
  /// `release`, whose transfer buffer holds `bufferSize` bytes, on a line
  /// that takes its time (the simulator's line model), and reaches it as
  /// the connection step leaves it: directly at 115200 baud, or behind a
  /// test jig through its proxy with buffered transfer. The unit record is
  /// read from the boot loader.
  void Reach(Transport transport, int release, int mcu, int bufferSize) {
    const std::string unitKeys = "role = boot-loader\nboot-loader = 4r" + std::to_string(release) +
                                 "\nboot-flags = 0\nmcu = " + std::to_string(mcu) +
                                 "\nbuffer-size = " + std::to_string(bufferSize) + "\n";
    const std::string port = "[port]\nline-model = yes\n";
    if (transport == Transport::kBuffered) {
      network = &Serve(3, port +
                              "[unit jig]\nplace = connected\njig = yes\ncard = 652\n"
                              "modbus = 1\nbaud = 38400\nproxy-baud = 115200\n"
                              "[unit target]\nplace = jig-port\n" +
                              unitKeys);
      target = network->jigPortUnit();
      options.initialBaudRate = 38400;
      ASSERT_TRUE(Open(3));
      ASSERT_TRUE(OpenKelUpdaterProxy(link, kJig));
      TurnProxyOn(link, kJig, 2, 115200, state.bootLoaderAddress);
      state.bufferedTransfer = true;
    } else {
      network = &Serve(3, port + "[unit target]\nplace = connected\n" + unitKeys);
      target = network->connected();
      options.initialBaudRate = 115200;
      ASSERT_TRUE(Open(3));
      state.overlappedActive = transport == Transport::kOverlapped;
    }
    unit.unitAddress = state.bootLoaderAddress;
    unit.connectionMode = modePonderixBootLoader;
    ASSERT_TRUE(ReadBootLoaderRelease(link, unit));
    GetBufferSize(link, unit);
    console.ClearOutput();
  }

  /// Downloads a small programmer into the RAM of the unit's MCU and starts
  /// it, so that flash can be written.
  void StartProgrammer() {
    const uint32_t ram = unit.mcuType == mcuLPC2478                                 ? 0x40000000
                         : unit.mcuType == mcuLPC4337 || unit.mcuType == mcuLPC4357 ? 0x10080000
                                                                                    : kRamStart;
    programmerBytes = sim::testing::BuildRecordImage(ram, {{ram, sim::testing::Pattern(64, 1)}});
    programmer = {"test programmer", programmerBytes.data(),
                  static_cast<uint32_t>(programmerBytes.size())};
    ASSERT_TRUE(DownloadProgrammer(link, transfer, unit, &programmer, ""));
    console.ClearOutput();
  }

  /// The unit's RAM from `address`, bytes never written as 0.
  std::vector<uint8_t> Ram(uint32_t address, size_t count) const {
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i) {
      bytes[i] = target->ram.Read(static_cast<uint32_t>(address + i)).value_or(0);
    }
    return bytes;
  }

  /// The request payloads the unit received with command 0x10 `command`,
  /// in order (length header, proxy header and check value removed; the
  /// simulator has checked them).
  std::vector<std::vector<uint8_t>> Requests(uint8_t command) {
    std::vector<std::vector<uint8_t>> found;
    for (const auto& entry : network->transcript().entries()) {
      if (entry.direction != sim::TranscriptEntry::Direction::kToUnit) continue;
      const std::vector<uint8_t>& frame = entry.bytes;
      size_t from = frame.size() >= 2 && frame[0] == 0xF1 ? 2 : 0;
      // A proxied frame: the jig's five header bytes come first.
      if (frame.size() > from + 5 && frame[from + 1] == 'G' && frame[from + 2] == '>') from += 5;
      if (frame.size() < from + 6 || frame[from + 1] != 0x45 || frame[from + 3] != command)
        continue;
      found.emplace_back(frame.begin() + static_cast<std::ptrdiff_t>(from), frame.end() - 2);
    }
    return found;
  }

  /// Adds a planned fault in the scenario's text form.
  void Fault(const std::string& text) {
    sim::FaultRule rule;
    std::string error;
    ASSERT_TRUE(sim::ParseFaultRule(text, rule, error)) << error;
    network->faults().Add(rule);
  }

  TransferState transfer{options};
  sim::SimNetwork* network = nullptr;
  sim::SimUnit* target = nullptr;  ///< the unit being programmed
  std::vector<uint8_t> programmerBytes;
  ImageRef programmer;
};

/// `image` with its records cut into pieces of at most `piece` bytes.
inline std::vector<uint8_t> Recut(const RecordImage& image, size_t piece) {
  std::vector<sim::testing::TestRecord> records;
  for (const ImageRecord& r : image.records()) {
    for (size_t done = 0; done < r.length; done += piece) {
      const size_t n = std::min<size_t>(piece, r.length - done);
      records.push_back({static_cast<uint32_t>(r.address + done),
                         std::vector<uint8_t>(r.data + done, r.data + done + n)});
    }
  }
  return sim::testing::BuildRecordImage(image.startAddress(), records);
}

}  // namespace kel
