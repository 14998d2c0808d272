#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kel::sim {

/// The 5-byte header that carries a frame through a test jig: the jig's own
/// address, "G", ">" (towards the unit) or "?" (back from it), the jig port
/// the far unit hangs on and the payload size (low 8 bits).
struct ProxyHeader {
  static constexpr uint8_t kToUnit = 0x3E;    // ">"
  static constexpr uint8_t kFromUnit = 0x3F;  // "?"
  uint8_t jigAddress = 0;
  uint8_t direction = kToUnit;
  uint8_t port = 0;
  uint8_t size = 0;
};

/// One request as the unit received it.
struct DecodedFrame {
  std::vector<uint8_t> payload;  ///< address, service, command, arguments
  bool lengthFramed = false;     ///< arrived with the 0xF1 length header
  bool proxied = false;          ///< carried a proxy header
  ProxyHeader proxy;
  std::vector<uint8_t> raw;  ///< every byte of the frame as it came
};

/// ExpectedRequestSize of a request of a known kind whose length field has
/// not arrived yet.
inline constexpr size_t kSizeStillToCome = SIZE_MAX;

/// The number of payload bytes a request with this start must have, judged
/// from the service and command (and any length field); kSizeStillToCome
/// when the length field is still to come; 0 when the start is too short to
/// tell or the request is of a kind the unit does not know.
size_t ExpectedRequestSize(const uint8_t* data, size_t available);

/// Builds a frame for the wire: optional 0xF1 length header, optional proxy
/// header, payload and the check value over proxy header and payload.
std::vector<uint8_t> EncodeFrame(const std::vector<uint8_t>& payload, bool lengthFramed,
                                 const ProxyHeader* proxy = nullptr);

/// Cuts a unit's receive stream into requests. A serial line has no frame
/// marks, so the unit does what a real one does: a 0xF1 header gives the
/// length; otherwise the known size of the request (or failing that the
/// shortest run of bytes) whose check value is good ends a frame. Bytes in
/// front of a good frame are skipped as line noise. A frame whose size is
/// known but whose bytes are still arriving holds up the search: the bytes
/// after its start are its own, whatever frames they seem to contain, until
/// it is complete (and then taken, or skipped as noise when its check value
/// fails) or the caller declares a gap with DropPending.
class FrameDecoder {
 public:
  /// Bytes kept waiting: the largest request (a 16 KiB memory write) and
  /// its headers; more is noise and the oldest bytes are dropped.
  static constexpr size_t kMaxPending = 20000;
  /// Longest request of an unknown kind that is looked for by its check value.
  static constexpr size_t kMaxUnknownFrame = 512;

  void Push(const uint8_t* data, size_t length);
  /// Takes the next complete request out of the stream; false when none.
  bool Next(DecodedFrame& frame);
  /// Forgets unfinished bytes (the line went quiet in the middle of them).
  void DropPending();
  size_t pending() const { return buffer_.size(); }
  /// Bytes taken out of the stream so far (frames, noise and dropped bytes):
  /// the stream position just past the last frame returned.
  uint64_t consumed() const { return consumed_; }
  /// Bytes skipped as noise since the last call.
  size_t TakeSkipped();

 private:
  enum class Found : uint8_t { kNothing, kFrame, kUnfinished };
  Found TryAt(size_t start, DecodedFrame& frame);
  void Emit(size_t start, size_t length, bool lengthFramed, DecodedFrame& frame);

  std::vector<uint8_t> buffer_;
  size_t skipped_ = 0;
  uint64_t consumed_ = 0;
};

}  // namespace kel::sim
