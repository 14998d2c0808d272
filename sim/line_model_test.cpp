// The line model: line time both ways at the line's own settings, a unit
// busy while it works with later requests waiting in its receive buffer,
// the window a unit keeps, and bytes read at other settings than they were
// sent with.

#include <gtest/gtest.h>

#include <string>

#include "platform/memory_serial.h"
#include "platform/virtual_clock.h"
#include "sim/boot_loader_role.h"
#include "sim/memory_peer.h"
#include "sim/programmer_role.h"
#include "sim/sim_network.h"
#include "sim/sim_test_support.h"
#include "sim/unit_timing.h"
#include "tests/sim_flash_support.h"

namespace kel::sim {
namespace {

using testing::Bench;
using testing::Command;
using testing::Line;
using testing::Pattern;
using testing::WithCrc;

// A KT3 transmitter (LPC1768) with its programmer running, and the default
// processing times.
SimUnit Kt3Programmer() {
  SimUnit unit;
  unit.name = "kt3";
  unit.cardNumber = 648;
  unit.mcuType = 5;
  unit.bootLoaderRelease = 18;
  unit.startRole = SimRole::kProgrammer;
  unit.timing = UnitTiming{100, 1000, 100};
  return unit;
}

std::vector<uint8_t> WindowedPiece(uint16_t tag, uint32_t address,
                                   const std::vector<uint8_t>& data) {
  return WithCrc(Command(0x41)
                     .U16(tag)
                     .U32(address)
                     .U8(static_cast<uint32_t>(data.size()))
                     .Bytes(data)
                     .Take());
}

// 0x1042 with 1024 bytes is 1036 bytes on the line, its reply 13; the unit
// takes 100 us for the request and 4 ms to program 1024 bytes.
TEST(SimLineModel, AnExchangeTakesItsLineTimeBothWaysAtTheLinesOwnSettings) {
  struct Case {
    int32_t baud;
    bool even;
    uint32_t arrivedMs;  // the request's last byte: 1036 bytes of 11 or 12 bits
    uint32_t repliedMs;  // + 4.1 ms + 13 bytes back
  };
  const Case cases[] = {{9600, false, 1188, 1207},  // 1187.08 ms + 4.1 + 14.90
                        {9600, true, 1295, 1316},   // 1295.00 ms + 4.1 + 16.25
                        {921600, false, 13, 17},    // 12.37 ms + 4.1 + 0.16
                        {921600, true, 14, 18}};    // 13.49 ms + 4.1 + 0.17
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.baud) + (c.even ? " even" : " none"));
    SimNetwork network;
    network.AddUnit(Kt3Programmer(), SimNetwork::Place::kConnected);
    network.SetLineModel(true);
    Bench bench(network);
    network.connected()->baudRate = c.baud;
    network.connected()->evenParity = c.even;
    const uint32_t sent = bench.now();
    const auto reply =
        bench.Send(WithCrc(Command(0x42).U32(0x4000).U16(1024).Bytes(Pattern(1024, 1)).Take()),
                   Line(c.baud, c.even));
    ASSERT_EQ(reply.size(), 13u);
    EXPECT_EQ(reply[10], 0);
    EXPECT_EQ(network.transcript().Filter(TranscriptEntry::Direction::kToUnit).front().time,
              sent + c.arrivedMs);
    EXPECT_EQ(bench.lastDelivery(), sent + c.repliedMs);
  }
}

// Programming 128 bytes takes 50 ms here, far longer than a piece takes on
// the line at 115200 baud: the second piece waits in the receive buffer
// (which holds one piece: the programmer's buffer is 128 bytes), a third
// finds it full and is lost, and one reply acknowledges the first two.
TEST(SimLineModel, ABusyUnitQueuesRequestsAndAcknowledgesThemWithOneReply) {
  SimNetwork network;
  SimUnit unit = Kt3Programmer();
  unit.timing.programPageUs = 100000;
  unit.programmerBufferSize = 128;
  network.AddUnit(unit, SimNetwork::Place::kConnected);
  network.SetLineModel(true);
  Bench bench(network);
  std::vector<uint8_t> three;
  for (uint16_t i = 0; i < 3; ++i) {
    const auto piece = WindowedPiece(i == 0 ? 0x8000 : i, 0x4000 + 128u * i, Pattern(128, i));
    three.insert(three.end(), piece.begin(), piece.end());
  }
  bench.Send(three, Line(115200));
  bench.Wait(200);
  const auto replies = network.TakeOutput();
  ASSERT_EQ(replies.size(), 1u);
  const auto& reply = replies[0].bytes;
  ASSERT_EQ(reply.size(), 14u);
  EXPECT_EQ((reply[4] << 8) | reply[5], 1);  // acknowledges sequences 0 and 1
  EXPECT_EQ(reply[11], 0);
  // Piece 0 arrives at 13.5 ms and takes 50.1 ms, piece 1 (arrived at
  // 26.9 ms) until 113.7 ms; the reply's 14 bytes take 1.3 ms.
  EXPECT_EQ(replies[0].deliverAt, 1000 + 116u);
  const SimUnit& programmer = *network.connected();
  EXPECT_EQ(programmer.flash.Read(0x4000, 128), Pattern(128, 0));
  EXPECT_EQ(programmer.flash.Read(0x4080, 128), Pattern(128, 1));
  EXPECT_FALSE(programmer.flash.HasData(0x4100, 0x417F));
  std::string notes;
  for (const auto& e : network.transcript().Filter(TranscriptEntry::Direction::kLost))
    notes += e.note + ";";
  EXPECT_NE(notes.find("a later reply acknowledges it"), std::string::npos) << notes;
  EXPECT_NE(notes.find("receive buffer full"), std::string::npos) << notes;
}

// Overlapped writes sent without waiting: a boot loader before release 18
// keeps one unanswered, release 18 keeps eight. Without the line model all
// arrive at once; with it a second write that starts arriving while the
// first's reply is still on the line finds the window full.
TEST(SimLineModel, TheBootLoaderKeepsTheWindowOfItsRelease) {
  struct Case {
    bool lineModel;
    uint8_t release;
    int sent;
    int answered;
  };
  const Case cases[] = {{false, 17, 3, 1}, {false, 18, 9, 8}, {true, 17, 2, 1}, {true, 18, 2, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE("release " + std::to_string(c.release) +
                 (c.lineModel ? " with the line model" : ""));
    SimNetwork network;
    SimUnit unit = Kt3Programmer();
    unit.startRole = SimRole::kBootLoader;
    unit.bootLoaderRelease = c.release;
    network.AddUnit(unit, SimNetwork::Place::kConnected);
    network.SetLineModel(c.lineModel);
    Bench bench(network);
    std::vector<uint8_t> writes;
    for (int i = 0; i < c.sent; ++i) {
      const auto w =
          WithCrc(Command(0x20).U32(0x10000000 + 100u * i).U8(100).Bytes(Pattern(100, i)).Take());
      writes.insert(writes.end(), w.begin(), w.end());
    }
    const auto replies = bench.Send(writes, Line(115200));
    EXPECT_EQ(replies.size(), 11u * c.answered);
    EXPECT_EQ(network.transcript().Filter(TranscriptEntry::Direction::kLost).size(),
              static_cast<size_t>(c.sent - c.answered));
  }
}

// Through the in-memory line the program reads a reply at the microsecond
// its last byte arrives, even when it sent the request inside a tick.
TEST(SimLineModel, TheProgramReadsAReplyTheMicrosecondItArrives) {
  VirtualClock clock;
  clock.AdvanceMicros(400);
  MemorySerialPorts ports(clock);
  SimNetwork network;
  network.AddUnit(Kt3Programmer(), SimNetwork::Place::kConnected);
  network.SetLineModel(true);
  MemoryPeer peer(network, ports.AddLine(1));
  network.connected()->baudRate = 921600;
  SerialOpenError error;
  auto device = ports.Open(1, Line(921600), error);
  ASSERT_TRUE(device);
  clock.AdvanceMicros(300);
  const auto payload = Command(0x42).U32(0x4000).U16(1024).Bytes(Pattern(1024, 1)).Take();
  const auto request = WithCrc(payload);
  const uint64_t sent = clock.Micros();
  ASSERT_EQ(device->Write(request.data(), request.size()), static_cast<int>(request.size()));
  ASSERT_TRUE(device->WaitReadable(1000));
  EXPECT_EQ(clock.Micros(), sent + LineTimeUs(request.size(), Line(921600)) +
                                ProcessingUs(*network.connected(), payload) +
                                LineTimeUs(13, Line(921600)));
}

// A reply still on its way when the program moves to another speed is read
// garbled, with a framing error; the unit, in turn, makes nothing of bytes
// sent at a speed it is not at, and notes them garbled.
TEST(SimLineModel, BytesReadAtOtherSettingsArriveGarbled) {
  VirtualClock clock;
  MemorySerialLine line(clock);
  SimNetwork network;
  SimUnit unit = Kt3Programmer();
  unit.startRole = SimRole::kApplication;
  unit.unitAddress = 5;
  network.AddUnit(unit, SimNetwork::Place::kConnected);
  network.SetLineModel(true);
  MemoryPeer peer(network, line);
  line.config = Line(19200);
  const auto ping = WithCrc({5, 0x41});
  line.HostWrite(ping.data(), ping.size());
  line.config = Line(9600);
  clock.Advance(20);
  uint8_t buffer[16];
  const size_t n = line.HostRead(buffer, sizeof buffer);
  ASSERT_EQ(n, 4u);
  EXPECT_NE(std::vector<uint8_t>(buffer, buffer + n), WithCrc({5, 0x42}));
  EXPECT_TRUE(line.pendingErrors.framing);

  line.HostWrite(ping.data(), ping.size());
  clock.Advance(20);
  EXPECT_EQ(line.HostRead(buffer, sizeof buffer), 0u);
  const auto lost = network.transcript().Filter(TranscriptEntry::Direction::kLost);
  ASSERT_EQ(lost.size(), 1u);
  EXPECT_NE(lost[0].bytes, ping);
  EXPECT_EQ(lost[0].bytes.size(), ping.size());
}

}  // namespace
}  // namespace kel::sim
