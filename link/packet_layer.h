#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace kel {

struct Runtime;
class CommPort;

/// Where requests go while a unit is reached through a proxy (a unit that
/// forwards frames to a unit behind it).
struct ProxySettings {
  bool on = false;
  uint8_t unitId = 0;      ///< address of the directly connected, forwarding unit
  uint8_t portNumber = 0;  ///< the proxy's own port behind which the remote unit sits
};

/// One request/reply exchange at a time: builds a request byte by byte,
/// frames it (length header, proxy header, CRC-16), sends it, receives the
/// reply, strips its headers, checks its CRC and resynchronises on damage.
/// A retry identical to the previous request reuses a reply that arrived
/// late instead of sending again.
class PacketLayer {
 public:
  static constexpr size_t kBufferSize = 20000;

  PacketLayer(Runtime& runtime, CommPort& port, ProxySettings& proxy);
  ~PacketLayer();
  PacketLayer(const PacketLayer&) = delete;
  PacketLayer& operator=(const PacketLayer&) = delete;

  /// Starts a new request (write count 0).
  void StartRequest();
  void PutPacketByte(uint8_t byte);
  /// PutPacketByte for each of `count` bytes, done a block at a time.
  void PutPacketBytes(const uint8_t* bytes, size_t count);
  /// Sends the built request of `size` bytes (no length header unless proxied).
  void SendPacket(size_t size);
  /// Sends it with the 0xF1 length header.
  void SendLengthFramePacket(size_t size);
  /// Receives a reply whose payload is `size` bytes; false only when bytes
  /// were missing. A bad CRC is resynchronised; CheckReply tells the outcome.
  bool RecvPacket(size_t size);
  /// Receives the next `size` payload bytes of a reply without checking.
  bool RecvPartialPacket(size_t size);
  /// The next reply byte, or 0 past the end.
  uint8_t NextReplyByte();
  /// Ends the exchange: true when the reply is at least 4 bytes, its CRC is
  /// good and exactly all its payload was read.
  bool CheckReply();
  /// Forgets any held reply so the next request is always transmitted
  /// (used by every speed or timeout change).
  void ClearReplyState();

  ProxySettings& proxy() { return proxy_; }
  CommPort& port() { return port_; }

  /// Bytes of the current reply held (headers removed, CRC included).
  size_t replyHeld() const;
  /// Size of the previous request as far as the new one matched it.
  size_t lastSentSize() const;
  /// Bytes put for the request being built.
  size_t writeCount() const;

 private:
  // Implementation state lives here (buffers, counts, read position).
  struct State;
  void SendFramed(size_t size, bool lengthFraming);
  bool Receive(size_t size);
  void TakeProxyHeader(const uint8_t* start, size_t count);
  void SlidePacket();
  void DiscardHeldReply();
  void ClearReply();
  bool traced() const;

  std::unique_ptr<State> state_;
  Runtime& runtime_;
  CommPort& port_;
  ProxySettings& proxy_;
};

#ifdef KEL_FUZZ_SKIP_CRC
namespace fuzzing {
/// Fuzzing builds only: every received frame counts as having a good CRC
/// while this is true (the default there), so that mutated replies reach the
/// reply decoders; a fuzz target of the frame receiver turns it off to reach
/// the resynchronisation.
extern bool skipCrcCheck;
}  // namespace fuzzing
#endif

/// One step of the Modbus CRC-16 (poly 0xA001, start 0xFFFF, no final XOR).
uint16_t Crc16Update(uint16_t crc, uint8_t byte);
/// Crc16Update over `length` bytes.
uint16_t Crc16Update(uint16_t crc, const uint8_t* data, size_t length);
/// CRC of a buffer from 0xFFFF, returned as the two CRC bytes in wire order
/// read big-endian (low CRC byte in the high half).
uint16_t Crc16OfBuffer(const uint8_t* data, size_t length);

}  // namespace kel
