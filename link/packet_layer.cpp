#include "link/packet_layer.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "link/comm_port.h"
#include "runtime/runtime.h"
#include "runtime/text_format.h"

namespace kel {

namespace {

constexpr uint8_t kLengthHeaderMark = 0xF1;
constexpr uint8_t kProxyMark = 0x47;         // 'G'
constexpr uint8_t kProxyRequestMark = 0x3E;  // '>'
constexpr uint8_t kProxyReplyMark = 0x3F;    // '?'
constexpr size_t kProxyHeaderSize = 5;
constexpr size_t kCrcSize = 2;
constexpr size_t kMinimumReply = 4;  // address, command, CRC
constexpr uint32_t kSlideLimitMs = 100;

// Register value of the CRC over `data`; zero for a frame with a good CRC.
uint16_t CrcRegister(const uint8_t* data, size_t length) {
#ifdef KEL_FUZZ_SKIP_CRC
  // Fuzzing builds: mutated replies would almost never carry a good CRC and
  // so would never reach the decoders behind it.
  if (fuzzing::skipCrcCheck) return 0;
#endif
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < length; ++i) crc = Crc16Update(crc, data[i]);
  return crc;
}

}  // namespace

#ifdef KEL_FUZZ_SKIP_CRC
bool fuzzing::skipCrcCheck = true;
#endif

struct PacketLayer::State {
  std::array<uint8_t, kBufferSize> packet{};  // the request payload being built
  size_t writeCount = 0;
  size_t lastSent = 0;
  std::array<uint8_t, kBufferSize> reply{};  // the reply, length header removed
  size_t held = 0;
  size_t consumed = 0;
  size_t readPos = 0;
  bool proxyHeader = false;
};

PacketLayer::PacketLayer(Runtime& runtime, CommPort& port, ProxySettings& proxy)
    : state_(std::make_unique<State>()), runtime_(runtime), port_(port), proxy_(proxy) {}

PacketLayer::~PacketLayer() = default;

size_t PacketLayer::replyHeld() const { return state_->held; }
size_t PacketLayer::lastSentSize() const { return state_->lastSent; }
size_t PacketLayer::writeCount() const { return state_->writeCount; }

bool PacketLayer::traced() const { return runtime_.out.errorReportLevel > 0; }

void PacketLayer::StartRequest() { state_->writeCount = 0; }

void PacketLayer::DiscardHeldReply() {
  State& s = *state_;
  if (s.held == 0) return;
  if (runtime_.out.Reaches(Sink::kDetail)) {
    runtime_.out.Print(Sink::kDetail, "[DISCARD (", s.held, ") ", HexBytes(s.reply.data(), s.held),
                       "]\r\n");
  }
  s.held = 0;
  s.proxyHeader = false;
}

void PacketLayer::ClearReply() {
  State& s = *state_;
  s.held = 0;
  s.lastSent = 0;
  s.proxyHeader = false;
  s.consumed = 0;
  s.readPos = 0;
}

void PacketLayer::ClearReplyState() { ClearReply(); }

void PacketLayer::PutPacketByte(uint8_t byte) {
  State& s = *state_;
  // A byte equal to the one sent at this place last time keeps the request
  // a possible repeat, whose late reply may already be waiting.
  if (s.writeCount < s.lastSent && s.packet[s.writeCount] == byte) {
    ++s.writeCount;
    return;
  }
  if (s.writeCount >= kBufferSize) return;  // dropped; SendPacket reports the size error
  s.packet[s.writeCount++] = byte;
  s.lastSent = s.writeCount;
  DiscardHeldReply();
}

void PacketLayer::PutPacketBytes(const uint8_t* bytes, size_t count) {
  if (count == 0) return;
  State& s = *state_;
  // The bytes equal to those sent at these places last time keep the
  // request a possible repeat; from the first that differs on, the rest is
  // new.
  size_t same = 0;
  if (s.writeCount < s.lastSent) {
    const size_t room = std::min(count, s.lastSent - s.writeCount);
    if (std::memcmp(&s.packet[s.writeCount], bytes, room) == 0) {
      same = room;
    } else {
      while (s.packet[s.writeCount + same] == bytes[same]) ++same;
    }
    s.writeCount += same;
  }
  if (same == count) return;
  // What does not fit is dropped; SendPacket reports the size error.
  const size_t fits = std::min(count - same, kBufferSize - std::min(s.writeCount, kBufferSize));
  if (fits == 0) return;
  std::memcpy(&s.packet[s.writeCount], bytes + same, fits);
  s.writeCount += fits;
  s.lastSent = s.writeCount;
  DiscardHeldReply();
}

void PacketLayer::SendPacket(size_t size) { SendFramed(size, false); }
void PacketLayer::SendLengthFramePacket(size_t size) { SendFramed(size, true); }

void PacketLayer::SendFramed(size_t size, bool lengthFraming) {
  State& s = *state_;
  Output& out = runtime_.out;
  if (size != s.writeCount) {
    out.Print(Sink::kInfo, "ERROR: SendPacket(", size, "): Write size error:", s.writeCount,
              "\r\n");
    // Nothing goes out, so nothing held may pass for this request's reply.
    DiscardHeldReply();
    ClearReply();
    s.writeCount = 0;
    return;
  }

  bool suppressed = false;
  if (size != s.lastSent) {
    s.lastSent = size;
    DiscardHeldReply();
  } else if (s.held > 0) {
    // A repeat of the previous request whose reply is already here.
    if (traced()) {
      out.Print(Sink::kDetail, "<SUPPRESS (", size, ") ", HexBytes(s.packet.data(), size), ">\r\n");
    }
    suppressed = true;
  }

  if (!suppressed) {
    uint8_t proxyHeader[kProxyHeaderSize] = {proxy_.unitId, kProxyMark, kProxyRequestMark,
                                             proxy_.portNumber, static_cast<uint8_t>(size)};
    if (proxy_.on || lengthFraming) {
      const size_t counted = size + kCrcSize + (proxy_.on ? kProxyHeaderSize : 0);
      const uint8_t header[2] = {kLengthHeaderMark, static_cast<uint8_t>(counted)};
      port_.TransmitBlock(header, sizeof header);
      if (traced()) out.Print(Sink::kDetail, "<LENGTH HEADER ", HexBytes(header, 2), "> ");
    }
    uint16_t crc = 0xFFFF;
    if (proxy_.on) {
      port_.TransmitBlock(proxyHeader, sizeof proxyHeader);
      for (uint8_t b : proxyHeader) crc = Crc16Update(crc, b);
      if (traced()) {
        out.Print(Sink::kDetail, "<PROXY HEADER ", HexBytes(proxyHeader, kProxyHeaderSize), "> ");
      }
    }
    port_.TransmitBlock(s.packet.data(), size);
    crc = Crc16Update(crc, s.packet.data(), size);
    const uint8_t crcBytes[kCrcSize] = {static_cast<uint8_t>(crc & 0xFF),
                                        static_cast<uint8_t>(crc >> 8)};
    port_.TransmitBlock(crcBytes, kCrcSize);
    if (traced()) {
      out.Print(Sink::kDetail, "<SEND (", size, ") ", HexBytes(s.packet.data(), size), ">",
                " <CRC ", HexBytes(crcBytes, kCrcSize), ">", "\r\n");
    }
  }

  const size_t pending = port_.transmitCount();
  if (pending > 0) {
    const int queued = port_.WriteCommPortOverlapped(port_.transmitData(), pending);
    if (queued < 0 || static_cast<size_t>(queued) < pending) {
      out.Print(Sink::kDebug, "<TRANSMIT FAIL>\r\n");
    } else {
      port_.totalSent += static_cast<uint64_t>(queued);
    }
    // A failed frame is not kept for the next send: it would go out again in
    // front of a later request. The caller's retry sends it afresh.
    port_.ClearTransmit();
  }
  s.writeCount = 0;
  s.consumed = 0;
  s.readPos = 0;
}

bool PacketLayer::Receive(size_t size) {
  State& s = *state_;
  Output& out = runtime_.out;
  size_t wanted = size;
  if (s.consumed == 0) wanted += kCrcSize + (proxy_.on ? kProxyHeaderSize : 0);

  // A reply that arrived ahead of this request's (late) repeat is used first.
  // Kept whole from an earlier exchange, it still starts with the proxy's
  // header, which the reader must step over as for a reply just received.
  const size_t early = s.held > s.consumed ? s.held - s.consumed : 0;
  const size_t take = early < wanted ? early : wanted;
  if (s.consumed == 0 && take > 0) TakeProxyHeader(s.reply.data(), take);
  s.consumed += take;
  wanted -= take;

  while (wanted > 0) {
    if (wanted > kBufferSize - s.held) {
      // More than the reply buffer holds can never be a valid reply.
      out.Print(Sink::kDebug, "[INCOMPLETE RECV (", s.held, ") ", HexBytes(s.reply.data(), s.held),
                "] - missing ", wanted, " bytes\r\n");
      ClearReply();
      return false;
    }
    uint8_t* at = s.reply.data() + s.held;
    const size_t got = port_.ReceiveBlock(at, wanted);
    if (got == 0) {
      if (s.held == 0) {
        out.Print(Sink::kDebug, "[NO DATA]\r\n");
      } else {
        out.Print(Sink::kDebug, "[INCOMPLETE RECV (", s.held, ") ",
                  HexBytes(s.reply.data(), s.held), "] - missing ", wanted, " bytes\r\n");
      }
      ClearReply();
      return false;
    }
    if (got < wanted) {
      const size_t shown = s.held + got;
      out.Print(Sink::kDebug, "[PARTIAL RECV (", shown, ") ", HexBytes(s.reply.data(), shown), "]");
      out.Print(Sink::kDetail, " {", PrintableBytes(s.reply.data(), shown), "}");
      out.Print(Sink::kDebug, " - missing ", wanted - got, " bytes\r\n");
      ClearReply();
      return false;
    }

    const bool first = s.held == 0;
    size_t fresh = got;
    wanted = 0;
    if (first && fresh >= 2 && at[0] == kLengthHeaderMark) {
      if (traced()) out.Print(Sink::kDetail, "[LENGTH HEADER ", HexBytes(at, 2), "] ");
      std::memmove(at, at + 2, fresh - 2);
      fresh -= 2;
      wanted = 2;  // the two header bytes took the place of reply bytes
    }
    if (first) TakeProxyHeader(at, fresh);
    s.held += fresh;
    s.consumed += fresh;
  }
  return true;
}

// The first bytes of a reply: with the proxy on, a reply starts with the
// proxy's header, which the reader skips.
void PacketLayer::TakeProxyHeader(const uint8_t* start, size_t count) {
  State& s = *state_;
  if (!proxy_.on || count < kProxyHeaderSize) return;
  Output& out = runtime_.out;
  if (start[1] == kProxyMark && start[2] == kProxyReplyMark) {
    if (traced()) {
      out.Print(Sink::kDetail, "[PROXY HEADER ", HexBytes(start, kProxyHeaderSize), "] ");
    }
    s.readPos = kProxyHeaderSize;
    s.proxyHeader = true;
  } else if (traced()) {
    out.Print(Sink::kDetail, "[PROXY HEADER MISSING] ");
  }
}

bool PacketLayer::RecvPacket(size_t size) {
  State& s = *state_;
  if (!Receive(size)) return false;
  if (CrcRegister(s.reply.data(), s.held) != 0) {
    runtime_.out.Print(Sink::kDetail, "[BAD CRC (", s.held, ") ", HexBytes(s.reply.data(), s.held),
                       "] {", PrintableBytes(s.reply.data(), s.held), "}\r\n");
    SlidePacket();
  }
  s.writeCount = 0;
  s.consumed = 0;
  return true;
}

bool PacketLayer::RecvPartialPacket(size_t size) { return Receive(size); }

uint8_t PacketLayer::NextReplyByte() {
  State& s = *state_;
  if (s.readPos >= s.held) return 0;
  return s.reply[s.readPos++];
}

void PacketLayer::SlidePacket() {
  State& s = *state_;
  Output& out = runtime_.out;
  Clock& clock = runtime_.clock;
  const uint32_t start = clock.Ticks();
  const size_t window = s.held;
  if (window == 0) return;
  uint8_t* w = s.reply.data();
  for (;;) {
    std::memmove(w, w + 1, window - 1);
    if (port_.ReceiveBlock(w + window - 1, 1) == 0) {
      out.Print(Sink::kDetail, "[NO MORE DATA FOR SLIDE PACKET (", window - 1, ") ",
                HexBytes(w, window - 1), "]\r\n");
      ClearReply();
      return;
    }
    if (CrcRegister(w, window) == 0) {
      out.Print(Sink::kDetail, "[SLIDE PACKET GOOD CRC (", window, ") ", HexBytes(w, window),
                "]\r\n");
      return;
    }
    if (clock.Ticks() - start > kSlideLimitMs) {
      out.Print(Sink::kDetail, "[SLIDE PACKET TIMEOUT (", window, ") ", HexBytes(w, window),
                "]\r\n");
      ClearReply();
      port_.FlushPendingWrites();
      return;
    }
  }
}

bool PacketLayer::CheckReply() {
  State& s = *state_;
  Output& out = runtime_.out;
  if (s.held < kMinimumReply) return false;
  bool ok = false;
  if (CrcRegister(s.reply.data(), s.held) == 0) {
    const size_t end = s.held - kCrcSize;
    if (traced()) {
      const bool skipHeader = s.proxyHeader && end >= 7;
      const uint8_t* data = s.reply.data() + (skipHeader ? kProxyHeaderSize : 0);
      const size_t count = skipHeader ? end - kProxyHeaderSize : end;
      out.Print(Sink::kDetail, "[RECV (", count, ") ", HexBytes(data, count), "] [CRC ",
                HexBytes(s.reply.data() + end, kCrcSize), "]\r\n");
    }
    ok = true;
    if (s.readPos != end) {
      out.Print(Sink::kDebug, "READ ERROR: final position=", s.readPos, ", should be at=", end,
                "\r\n");
      ok = false;
    }
    s.lastSent = 0;
    s.held = 0;
    s.proxyHeader = false;
  } else {
    out.Print(Sink::kDetail, "[BAD CRC (", s.held, ") ", HexBytes(s.reply.data(), s.held), "] {",
              PrintableBytes(s.reply.data(), s.held), "}\r\n");
    SlidePacket();
  }
  s.writeCount = 0;
  s.consumed = 0;
  s.readPos = 0;
  return ok;
}

}  // namespace kel
