#include "tests/sim_client_checks.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

namespace kel::simclient {

namespace {

constexpr uint8_t kDisplay = 10;
constexpr uint8_t kLeft = 3;
constexpr uint8_t kRight = 12;
constexpr uint32_t kRamStart = 0x10000000;
constexpr uint32_t kSoftwareStart = 0x1A004000;  // after the display's boot loader

Bytes Pattern(size_t size, uint8_t seed) {
  Bytes out(size);
  uint32_t state = 0x9E3779B9u * (seed + 1u);
  for (uint8_t& b : out) {
    state = state * 1103515245u + 12345u;
    b = static_cast<uint8_t>(state >> 16);
  }
  return out;
}

std::vector<Record> Records(uint32_t address, size_t count, size_t size, uint8_t seed) {
  std::vector<Record> records;
  for (size_t i = 0; i < count; ++i) {
    records.push_back({static_cast<uint32_t>(address + i * size), Pattern(size, static_cast<uint8_t>(seed + i))});
  }
  return records;
}

// The image each program transport is shown with: small records for the
// one-byte lengths, large ones for 0x1042, records that split into more
// pieces than the window holds, and records that need three chunks.
std::vector<Record> ImageFor(MemoryTransport transport, uint8_t seed) {
  switch (transport) {
    case MemoryTransport::kSmall:
      return Records(kSoftwareStart, 4, 128, seed);
    case MemoryTransport::kLarge:
      return Records(kSoftwareStart, 2, 1024, seed);
    case MemoryTransport::kWindowed:
      return Records(kSoftwareStart, 3, 384, seed);
    case MemoryTransport::kBuffered:
      return Records(kSoftwareStart, 2, 300, seed);
  }
  return {};
}

std::vector<Record> ProgrammerFor(MemoryTransport transport) {
  if (transport == MemoryTransport::kSmall || transport == MemoryTransport::kWindowed) {
    return Records(kRamStart, 10, 100, 0x40);  // more than a window of writes
  }
  return Records(kRamStart, 1, 700, 0x40);
}

}  // namespace

void CheckDemoIdentification(SimClient& client) {
  ASSERT_TRUE(client.Open(19200));
  EXPECT_TRUE(client.Ping(kDisplay));
  Bytes remote;
  ASSERT_TRUE(client.ListRemoteUnits(kDisplay, remote));
  EXPECT_EQ(remote, (Bytes{kLeft, kRight}));

  // Card, circuit, version 6.08 and (build << 8 | release).
  const Bytes info[] = {
      {kDisplay, 0x45, 0x10, 0x10, 0x02, 0x8D, 0x00, 0x02, 0x02, 0x60, 0x01, 0x0C},
      {kLeft, 0x45, 0x10, 0x10, 0x02, 0x93, 0x00, 0x01, 0x02, 0x60, 0x00, 0x0C},
      {kRight, 0x45, 0x10, 0x10, 0x02, 0x93, 0x00, 0x01, 0x02, 0x60, 0x00, 0x0C},
  };
  for (const Bytes& expected : info) {
    Bytes reply;
    EXPECT_TRUE(client.ReadUnitInfo(expected[0], reply)) << int(expected[0]);
    EXPECT_EQ(reply, expected);
  }

  const Bytes advanced[] = {
      {kDisplay, 0x45, 0x10, 0x14, 35, 0, 6, 4, 18, 0x02, 0x8D, 0x00, 0x02, 1, 1, 0x02, 0x60, 12, 1,
       25, 6, 3, 9, 15, 0, 0x1C, 0xD6, 0xC5, 0xF1, 0x26, 0xD0, 0x00, 0x08, 0x16, 0x61, 0, 0, kDisplay, 0x01},
      {kLeft, 0x45, 0x10, 0x14, 35, 0, 6, 4, 18, 0x02, 0x93, 0x00, 0x01, 0, 0, 0x02, 0x60, 12, 0,
       26, 1, 1, 12, 0, 0, 0x20, 0x51, 0x31, 0x41, 0xC1, 0x38, 0x00, 0x09, 0x01, 0x15, 0, 0, kLeft, 0x01},
      {kRight, 0x45, 0x10, 0x14, 35, 0, 6, 4, 18, 0x02, 0x93, 0x00, 0x01, 0, 0, 0x02, 0x60, 12, 0,
       26, 1, 1, 12, 0, 0, 0x20, 0x51, 0x31, 0x42, 0xC1, 0x37, 0x00, 0x09, 0x01, 0x16, 0, 0, kRight, 0x01},
  };
  for (const Bytes& expected : advanced) {
    Bytes reply;
    EXPECT_TRUE(client.ReadAdvancedInfo(expected[0], reply)) << int(expected[0]);
    EXPECT_EQ(reply, expected);
  }
  // An address nobody has stays silent.
  Bytes reply;
  EXPECT_FALSE(client.Call({7, 0x45, 0x10, 0x10}, 12, reply, 4, 150));

  // The display hears only its own line settings: not with even parity,
  // and at 57600 only after it was asked to move there.
  const Bytes ping = {kDisplay, 0x41};
  ASSERT_TRUE(client.Open(19200, true));
  EXPECT_FALSE(client.Call(ping, 2, reply, 2, 150));
  ASSERT_TRUE(client.Open(57600));
  EXPECT_FALSE(client.Call(ping, 2, reply, 2, 150));
  ASSERT_TRUE(client.Open(19200));
  Bytes setSpeed = {kDisplay, 0x45, 0x10, 0x30};
  PutBe32(setSpeed, 57600);
  EXPECT_TRUE(client.Call(setSpeed, 4, reply));
  ASSERT_TRUE(client.Open(57600));
  EXPECT_TRUE(client.Ping(kDisplay));
  setSpeed.resize(4);
  PutBe32(setSpeed, 19200);
  EXPECT_TRUE(client.Call(setSpeed, 4, reply));
  ASSERT_TRUE(client.Open(19200));
  EXPECT_TRUE(client.Ping(kDisplay));
}

void CheckDemoFileWrites(SimClient& client) {
  ASSERT_TRUE(client.Open(19200));
  struct Case {
    uint8_t address;
    uint16_t file;
    size_t size;
    bool highSpeed;
  };
  // 1000 bytes are seven full blocks and one of 104; 1200 bytes need more
  // blocks than the window holds.
  const Case cases[] = {{kLeft, 0x01E0, 1000, false}, {kRight, 0x01E0, 1000, false},
                        {kDisplay, 0x01E1, 1200, true}, {kLeft, 0x01E2, 0, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE("unit " + std::to_string(c.address) + " file " + std::to_string(c.file));
    const Bytes data = Pattern(c.size, static_cast<uint8_t>(c.file));
    ASSERT_EQ(client.OpenFile(c.address, 1, c.file, true), 0);
    ASSERT_TRUE(client.WriteFileData(c.address, 1, c.file, data, c.highSpeed));
    ASSERT_EQ(client.CloseFile(c.address, 1, c.file), 0);

    FileAttributes attributes;
    ASSERT_TRUE(client.GetFileAttributes(c.address, 1, c.file, static_cast<uint32_t>(c.size), attributes));
    EXPECT_EQ(attributes.result, 0);
    EXPECT_EQ(attributes.size, c.size);
    const std::array<uint32_t, 4> sums = FileChecksums(data);
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(attributes.checksum[i], sums[i]) << "checksum " << i + 1;
    ASSERT_EQ(client.OpenFile(c.address, 1, c.file, false), 0);
    Bytes back;
    EXPECT_TRUE(client.ReadFileData(c.address, 1, c.file, back));
    EXPECT_EQ(back, data);
    EXPECT_EQ(client.CloseFile(c.address, 1, c.file), 0);

  }
  // A file nobody wrote.
  FileAttributes missing;
  ASSERT_TRUE(client.GetFileAttributes(kRight, 1, 0x01E2, 0, missing));
  EXPECT_NE(missing.result, 0);
}

uint32_t DemoDisplayChecksum(SimClient& client) {
  Bytes reply;
  if (!client.ReadAdvancedInfo(kDisplay, reply)) return 0;
  return GetBe32(reply, 25);
}

// A restarting unit answers after its restart time on an idle machine; on a
// loaded one the simulator process may take longer, so a real-time session
// asks again a few times before it counts the unit as gone.
static bool AnswersAfterRestart(SimClient& client, uint32_t restartMs, const std::function<bool()>& ask) {
  for (int attempt = 0; attempt < 30; ++attempt) {
    if (ask()) return true;
    client.Pause(restartMs);
  }
  return false;
}

uint32_t CheckDemoFlashSession(SimClient& client, MemoryTransport download, MemoryTransport program, uint8_t seed,
                               bool expectLate, uint32_t restartMs) {
  EXPECT_TRUE(client.Open(19200));
  const uint32_t before = DemoDisplayChecksum(client);
  EXPECT_NE(before, 0u);
  EXPECT_TRUE(client.GotoBootLoader(kDisplay));
  client.Pause(restartMs);
  EXPECT_TRUE(client.Open(115200));
  uint8_t version = 0;
  EXPECT_TRUE(AnswersAfterRestart(client, restartMs, [&] { return client.ReadBootLoaderVersion(version); }));
  EXPECT_EQ(version, 0x64);  // LPC4337, version 4

  const std::vector<Record> programmer = ProgrammerFor(download);
  EXPECT_TRUE(client.WriteMemory(programmer, download));
  for (const Record& r : programmer) EXPECT_TRUE(client.ExamineMemory(r.address, r.data));
  EXPECT_TRUE(client.TransferToRam(kRamStart));
  Bytes programmerVersion;
  EXPECT_TRUE(client.GetProgrammerVersion(programmerVersion));

  const std::vector<Record> image = ImageFor(program, seed);
  const Record& last = image.back();
  EXPECT_TRUE(client.EraseRange(kSoftwareStart, static_cast<uint32_t>(last.address + last.data.size() - 1)));
  const int staleBefore = client.staleReplies();
  EXPECT_TRUE(client.ProgramFlash(image, program));
  if (expectLate) {
    EXPECT_GT(client.staleReplies(), staleBefore);
  }
  for (const Record& r : image) {
    Bytes back;
    EXPECT_TRUE(client.ReadFlash(r.address, r.data.size(), back));
    EXPECT_EQ(back, r.data) << std::hex << r.address;
  }

  EXPECT_TRUE(client.Reset());
  client.Pause(restartMs);
  EXPECT_TRUE(client.Open(19200));
  EXPECT_TRUE(AnswersAfterRestart(client, restartMs, [&] { return client.Ping(kDisplay); }));
  uint32_t after = 0;
  EXPECT_TRUE(AnswersAfterRestart(client, restartMs, [&] { return (after = DemoDisplayChecksum(client)) != 0; }));
  EXPECT_NE(after, before);
  return after;
}

}  // namespace kel::simclient
