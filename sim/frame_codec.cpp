#include "sim/frame_codec.h"

#include "sim/crc16.h"
#include "sim/role_reply.h"

namespace kel::sim {

namespace {

constexpr uint8_t kLengthHeader = 0xF1;
constexpr uint8_t kCommand = 0x45;
constexpr uint8_t kFileBlock = 0x47;
constexpr uint8_t kFastFileBlock = 0x48;
constexpr size_t kCrcSize = 2;
constexpr size_t kProxySize = 5;

// Size of a 0x45 request from its command byte; the length-carrying kinds
// read their length field, which must already be there.
size_t CommandRequestSize(const uint8_t* d, size_t n) {
  if (n < 4) return 0;
  if (d[2] != 0x10) return 0;
  auto len8 = [&](size_t at) -> size_t { return at < n ? d[at] : SIZE_MAX; };
  auto len16 = [&](size_t at) -> size_t {
    return at + 1 < n ? static_cast<size_t>((d[at] << 8) | d[at + 1]) : SIZE_MAX;
  };
  auto plus = [](size_t base, size_t len) {
    return len == SIZE_MAX ? kSizeStillToCome : base + len;
  };
  switch (d[3]) {
    case 0x10:
    case 0x11:
    case 0x12:
    case 0x14:
    case 0x15:
    case 0x16:
    case 0x17:
    case 0x18:
    case 0x1B:
    case 0x1C:
    case 0x1F:
    case 0x91:
    case 0x31:
    case 0x32:
    case 0x33:
    case 0x34:
    case 0x3C:
    case 0x3E:
    case 0x3F:
      return 4;
    case 0x13:
    case 0x23:
    case 0x90:
    case 0x3B:
      return 5;
    case 0x20:
    case 0x40:
      return plus(9, len8(8));
    case 0x21:
    case 0x51:
      return 9;
    case 0x22:
    case 0x30:
      return 8;
    case 0x24:
    case 0x42:
      return plus(10, len16(8));
    case 0x26:
    case 0x29:
    case 0x2C:
      return 7;
    case 0x27:
      return 12;
    case 0x2B:
      return plus(8, len8(7));
    case 0x2F:
      return 11;
    case 0x35:
      return 12;
    case 0x36:
      return 8;
    case 0x38:
      return plus(7, len8(6));
    case 0x39:
    case 0x3A:
      return 10;
    case 0x3D:
      return 9;
    case 0x41:
      return plus(11, len8(10));
    case 0x50:
      return 137;
    default:
      return 0;
  }
}

}  // namespace

size_t ExpectedRequestSize(const uint8_t* data, size_t available) {
  if (available < 2) return 0;
  switch (data[1]) {
    case kPing:
      return 2;
    case kCommand:
      return CommandRequestSize(data, available);
    case kFileBlock:
      if (available < 3) return 0;
      if (data[2] == 0x30) return 11;
      if (data[2] == 0x32) return available > 10 ? 11 + data[10] : kSizeStillToCome;
      return 0;
    case kFastFileBlock:
      if (available < 4) return 0;
      if (data[3] == 0x30) return 12;
      if (data[3] == 0x32) return available > 11 ? 12 + data[11] : kSizeStillToCome;
      return 0;
    default:
      return 0;
  }
}

std::vector<uint8_t> EncodeFrame(const std::vector<uint8_t>& payload, bool lengthFramed,
                                 const ProxyHeader* proxy) {
  std::vector<uint8_t> frame;
  frame.reserve(payload.size() + 9);
  if (lengthFramed || proxy) {
    frame.push_back(kLengthHeader);
    // The length byte keeps only its low 8 bits, as on the real line.
    frame.push_back(static_cast<uint8_t>(payload.size() + kCrcSize + (proxy ? kProxySize : 0)));
  }
  const size_t checked = frame.size();
  if (proxy) {
    frame.push_back(proxy->jigAddress);
    frame.push_back(0x47);
    frame.push_back(proxy->direction);
    frame.push_back(proxy->port);
    frame.push_back(static_cast<uint8_t>(payload.size()));
  }
  frame.insert(frame.end(), payload.begin(), payload.end());
  AppendCrc16(frame, checked);
  return frame;
}

void FrameDecoder::Push(const uint8_t* data, size_t length) {
  buffer_.insert(buffer_.end(), data, data + length);
  if (buffer_.size() > kMaxPending) {
    // Endless noise: keep only the newest bytes, which may still start a frame.
    const size_t drop = buffer_.size() - kMaxPending;
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(drop));
    skipped_ += drop;
    consumed_ += drop;
  }
}

void FrameDecoder::DropPending() {
  skipped_ += buffer_.size();
  consumed_ += buffer_.size();
  buffer_.clear();
}

size_t FrameDecoder::TakeSkipped() {
  const size_t n = skipped_;
  skipped_ = 0;
  return n;
}

bool FrameDecoder::Next(DecodedFrame& frame) {
  for (size_t start = 0; start < buffer_.size(); ++start) {
    switch (TryAt(start, frame)) {
      case Found::kFrame:
        return true;
      case Found::kUnfinished:
        // The bytes after this start belong to a frame still arriving; a
        // frame found among them would be a piece of its data.
        return false;
      case Found::kNothing:
        break;
    }
  }
  return false;
}

void FrameDecoder::Emit(size_t start, size_t length, bool lengthFramed, DecodedFrame& frame) {
  frame = DecodedFrame();
  frame.raw.assign(buffer_.begin() + static_cast<std::ptrdiff_t>(start),
                   buffer_.begin() + static_cast<std::ptrdiff_t>(start + length));
  frame.lengthFramed = lengthFramed;
  size_t body = lengthFramed ? 2 : 0;
  const size_t end = length - kCrcSize;
  // A proxy header is only recognised behind a length header (the program
  // always sends proxied frames length-framed).
  if (lengthFramed && end - body >= kProxySize + 2 && frame.raw[body + 1] == 0x47 &&
      frame.raw[body + 2] == ProxyHeader::kToUnit) {
    frame.proxied = true;
    frame.proxy.jigAddress = frame.raw[body];
    frame.proxy.direction = frame.raw[body + 2];
    frame.proxy.port = frame.raw[body + 3];
    frame.proxy.size = frame.raw[body + 4];
    body += kProxySize;
  }
  frame.payload.assign(frame.raw.begin() + static_cast<std::ptrdiff_t>(body),
                       frame.raw.begin() + static_cast<std::ptrdiff_t>(end));
  skipped_ += start;
  consumed_ += start + length;
  buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start + length));
}

FrameDecoder::Found FrameDecoder::TryAt(size_t start, DecodedFrame& frame) {
  const uint8_t* d = buffer_.data() + start;
  const size_t n = buffer_.size() - start;
  // A length header still waiting for its bytes; a plain frame at the same
  // start may still be complete (0xF1 can be an address too).
  bool unfinished = false;
  if (n >= 2 && d[0] == kLengthHeader) {
    const size_t l = d[1];
    if (l >= 4 && n < 2 + l) unfinished = true;
    if (l >= 4 && n >= 2 + l && ModbusCrc16(d + 2, l) == 0) {
      Emit(start, 2 + l, true, frame);
      return Found::kFrame;
    }
  }
  const Found otherwise = unfinished ? Found::kUnfinished : Found::kNothing;
  if (n < 2 + kCrcSize) return otherwise;
  const size_t known = ExpectedRequestSize(d, n);
  if (known == kSizeStillToCome) return Found::kUnfinished;
  if (known != 0) {
    // A size no receive buffer holds is not a request but noise.
    if (known + kCrcSize > kMaxPending) return otherwise;
    if (n < known + kCrcSize) return Found::kUnfinished;
    if (ModbusCrc16(d, known + kCrcSize) == 0) {
      Emit(start, known + kCrcSize, false, frame);
      return Found::kFrame;
    }
    return otherwise;  // complete but its check value fails: noise
  }
  // Only the services a unit knows start a frame; anything else is noise.
  if (d[1] != kPing && d[1] != kCommand && d[1] != kFileBlock && d[1] != kFastFileBlock)
    return otherwise;
  // A command the unit does not know: the shortest run that checks good is the frame.
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < n && i < kMaxUnknownFrame; ++i) {
    crc = ModbusCrc16(d + i, 1, crc);
    if (i + 1 >= 2 + kCrcSize && crc == 0) {
      Emit(start, i + 1, false, frame);
      return Found::kFrame;
    }
  }
  return otherwise;
}

}  // namespace kel::sim
