// The windowed flash writes (overlapped programming) against a unit whose
// acknowledgements the input scripts: each write gets its own, one for a
// tag before or after it (stale or ahead), none, one held back until after
// the next (out of order), one with a wrong head or CRC, one with a failure
// result, two, or one that arrives after the wait for it has ended. The
// replies are well formed, so the CRC check stays on.
//
// A write reported as done must have been acknowledged: when WriteFlash
// succeeds, the unit must have sent an acknowledgement with result 0 for
// the last tag or a later one, and the window must be empty.
#include <deque>

#include "flash/flash_writer.h"
#include "flash/transfer_state.h"
#include "fuzz/fuzz_link.h"
#include "unit/rpc_codes.h"

namespace {

using namespace kel;

constexpr uint16_t kSequenceMask = 0x7FFF;

// The unit's end of the line, answering each windowed write as the next
// input byte says (a plain acknowledgement once the input is used up).
class WindowedUnit : public MemorySerialPeer {
 public:
  WindowedUnit(MemorySerialLine& line, fuzz::ReplySource& source) : line_(line), source_(source) {
    line.AttachPeer(this);
  }
  ~WindowedUnit() override { line_.AttachPeer(nullptr); }

  bool Cts() override { return true; }
  // Replies are stamped when they are sent; nothing happens in between.
  bool NextEventUs(uint64_t, uint64_t&) override { return false; }
  void OnTimeUs(uint64_t) override {}

  void OnHostBytes(const uint8_t* data, size_t length, const SerialConfig&, uint32_t now) override {
    // address, 0x45, command (2), tag (2), address (4), length (1), data, CRC
    if (length < 13 || data[1] != kel::service::kCommand ||
        (data[2] << 8 | data[3]) != rpc::kProgramFlashWindowed) {
      return;
    }
    ++requests_;
    const uint16_t sequence = static_cast<uint16_t>((data[4] << 8 | data[5]) & kSequenceMask);
    if (sequence > highestSent_) highestSent_ = sequence;
    const uint32_t address =
        uint32_t{data[6]} << 24 | uint32_t{data[7]} << 16 | uint32_t{data[8]} << 8 | data[9];
    Reply reply{data[0], sequence, address, data[10]};
    const uint8_t action = source_.Byte();
    const int8_t delta = static_cast<int8_t>(action & 0xF0 ? source_.Byte() : 0);
    switch (action & 7) {
      case 0:
        Send(reply, now);
        break;
      case 1:  // a tag before or after this one
        reply.sequence = static_cast<uint16_t>((sequence + delta) & kSequenceMask);
        Send(reply, now);
        break;
      case 2:  // lost
        break;
      case 3:  // sent after the next reply
        held_.push_back(reply);
        return;
      case 4:  // a wrong head or a damaged CRC
        reply.damage = 1 + (delta & 3) % 3;
        Send(reply, now);
        break;
      case 5:
        reply.result = static_cast<uint8_t>(delta | 1);
        Send(reply, now);
        break;
      case 6:
        Send(reply, now);
        Send(reply, now);
        break;
      case 7:  // after the wait for it has ended
        Send(reply, now + 1200);
        break;
    }
    while (!held_.empty()) {
      Send(held_.front(), now);
      held_.pop_front();
    }
  }

  int requests() const { return requests_; }
  uint16_t highestSent() const { return highestSent_; }
  /// The highest tag acknowledged with a good head, CRC and result 0; -1 for none.
  int acknowledgedThrough() const { return acknowledgedThrough_; }

 private:
  struct Reply {
    uint8_t address;
    uint16_t sequence;
    uint32_t target;
    uint8_t length;
    uint8_t result = 0;
    int damage = 0;  // 1 address, 2 command, 3 CRC
  };

  void Send(const Reply& r, uint32_t at) {
    uint8_t frame[14] = {r.address,
                         kel::service::kCommand,
                         static_cast<uint8_t>(rpc::kProgramFlashWindowed >> 8),
                         static_cast<uint8_t>(rpc::kProgramFlashWindowed),
                         static_cast<uint8_t>(r.sequence >> 8),
                         static_cast<uint8_t>(r.sequence),
                         static_cast<uint8_t>(r.target >> 24),
                         static_cast<uint8_t>(r.target >> 16),
                         static_cast<uint8_t>(r.target >> 8),
                         static_cast<uint8_t>(r.target),
                         r.length,
                         r.result};
    if (r.damage == 1) frame[0] ^= 0x02;
    if (r.damage == 2) frame[3] ^= 0x01;
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < 12; ++i) crc = Crc16Update(crc, frame[i]);
    frame[12] = static_cast<uint8_t>(crc);
    frame[13] = static_cast<uint8_t>(crc >> 8);
    if (r.damage == 3) frame[13] ^= 0x40;
    if (r.damage == 0 && r.result == 0 && r.sequence > acknowledgedThrough_) {
      acknowledgedThrough_ = r.sequence;
    }
    line_.SendToHost(frame, sizeof frame, at + 2);
  }

  MemorySerialLine& line_;
  fuzz::ReplySource& source_;
  std::deque<Reply> held_;
  int requests_ = 0;
  uint16_t highestSent_ = 0;
  int acknowledgedThrough_ = -1;
};

// An image at address 0 of `records` records: 100 bytes (sent whole), 128,
// or 300 (cut into windowed pieces of 128, 128 and 44).
std::vector<uint8_t> Image(fuzz::ReplySource& source) {
  const int records = 1 + source.Byte() % 8;
  std::vector<uint8_t> image = {0, 0, 0, 0, 0, 0, 0, 0};
  image.reserve(8 + records * (6 + 300) + 4);
  uint32_t address = 0;
  uint32_t total = 0;
  for (int r = 0; r < records; ++r) {
    static constexpr uint16_t kLengths[] = {100, 128, 300, 128};
    const uint16_t length = kLengths[source.Byte() & 3];
    for (int shift = 24; shift >= 0; shift -= 8) image.push_back(uint8_t(address >> shift));
    image.push_back(uint8_t(length >> 8));
    image.push_back(uint8_t(length));
    const size_t data = image.size();
    image.resize(data + length);
    for (uint16_t i = 0; i < length; ++i) image[data + i] = uint8_t(address + i);
    address += length;
    total += length;
  }
  for (int shift = 24; shift >= 0; shift -= 8) image[4 + (3 - shift / 8)] = uint8_t(total >> shift);
  for (int i = 0; i < 4; ++i) image.push_back(0xFF);
  return image;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::FuzzInput input(data, size);
  fuzz::FuzzLink& f = input.link;
  // The replies are well formed: a damaged CRC must be seen as damaged.
  fuzzing::skipCrcCheck = false;
  // This target's unit answers by itself; the input only steers it.
  f.line->AttachPeer(nullptr);
  fuzz::ReplySource& source = f.source;
  const uint8_t mode = source.Byte();
  const std::vector<uint8_t> bytes = Image(source);
  const ImageRef image{"fuzz image", bytes.data(), static_cast<uint32_t>(bytes.size())};
  WindowedUnit unit(*f.line, source);
  TransferState transfer(f.options);
  UnitInfo info;
  info.connectionMode = modeFlashProgrammer;
  info.mcuType = mcuLPC1768;
  info.bufferSize = 128;
  info.flashBlockSize = 256;
  f.state.overlappedActive = true;
  // With the hook, the window is drained before the first record past the
  // backup region, in the middle of the image.
  WriteBackHook hook;
  if (mode & 1) hook = [](UnitInfo&) { return true; };
  bool written = false;
  fuzz::Guarded([&] { written = WriteFlash(f.link, transfer, info, image, hook); });
  fuzzing::skipCrcCheck = true;
  if (written) {
    if (!transfer.programWindow.empty()) __builtin_trap();
    if (unit.acknowledgedThrough() < int{unit.highestSent()}) __builtin_trap();
  }
  return 0;
}
