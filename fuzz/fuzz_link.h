#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "link/comm_port.h"
#include "link/link_state.h"
#include "link/packet_layer.h"
#include "platform/console.h"
#include "platform/environment.h"
#include "platform/memory_serial.h"
#include "platform/process_exit.h"
#include "platform/registry.h"
#include "platform/virtual_clock.h"
#include "runtime/options.h"
#include "runtime/output.h"
#include "runtime/runtime.h"

namespace kel::fuzz {

/// The fuzzer's bytes, cut into replies: each reply is one length byte and
/// that many bytes (fewer at the end of the input).
class ReplySource {
 public:
  ReplySource(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  std::vector<uint8_t> Next() {
    if (pos_ >= size_) return {};
    size_t length = data_[pos_++];
    if (length > size_ - pos_) length = size_ - pos_;
    std::vector<uint8_t> reply(data_ + pos_, data_ + pos_ + length);
    pos_ += length;
    return reply;
  }
  /// One byte of the input for the target's own choices (0 past the end).
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  bool empty() const { return pos_ >= size_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

/// Thrown once the input is used up and the program has had a few more
/// requests answered by silence (the retries and failure path of the call
/// under way); everything after that would only time out.
struct InputUsedUp {};

/// The unit's end of the line: answers every frame the program writes with
/// the next reply from the input, 2 ms later; silent once the input is used
/// up, and after kSilentRequests more requests the run ends (InputUsedUp).
class ReplyPeer : public MemorySerialPeer {
 public:
  ReplyPeer(MemorySerialLine& line, ReplySource& source) : line_(line), source_(source) {
    line.AttachPeer(this);
  }
  ~ReplyPeer() override { line_.AttachPeer(nullptr); }

  static constexpr int kSilentRequests = 8;

  void OnHostBytes(const uint8_t*, size_t, const SerialConfig&, uint32_t now) override {
    if (source_.empty() && ++silent_ > kSilentRequests) throw InputUsedUp{};
    const std::vector<uint8_t> reply = source_.Next();
    if (!reply.empty()) line_.SendToHost(reply.data(), reply.size(), now + 2);
  }

 private:
  MemorySerialLine& line_;
  ReplySource& source_;
  int silent_ = 0;
};

/// A whole runtime of fakes (virtual clock, recorded console, an exit that
/// throws ExitRequested) with COM3 open as an in-memory line whose far end
/// plays the fuzzer's replies, and a Link over it.
struct FuzzLink {
  FuzzLink(const uint8_t* data, size_t size) : source(data, size) {
    options.portNumber = 3;
    options.yesToPrompts = true;
    // The traces format the hostile bytes too; the input's first byte
    // turns them on, as they cost most of the time of a run.
    options.debug = size > 0 && (data[0] & 0x80);
    options.detailedDebug = options.debug;
    out.errorReportLevel = 1;
    port.RegisterClosePort();
    port.OpenPort();
  }
  // The port closes after the peer has gone: nothing may throw from there.
  ~FuzzLink() { line.AttachPeer(nullptr); }
  FuzzLink(const FuzzLink&) = delete;
  FuzzLink& operator=(const FuzzLink&) = delete;

  Options options;
  VirtualClock clock;
  ScriptedConsole console;
  Output out{console, clock, options};
  MapEnvironment env;
  MapRegistry registry;
  ThrowingExit exit;
  Runtime runtime{options, out, clock, console, env, registry, exit, {}};
  MemorySerialPorts ports{clock};
  MemorySerialLine& line = ports.AddLine(3);
  ReplySource source;
  ReplyPeer peer{line, source};
  CommPort port{runtime, ports};
  ProxySettings proxy;
  PacketLayer packets{runtime, port, proxy};
  LinkState state;
  Link link{runtime, port, packets, state};
};

/// Runs `body`; a fatal exit (ExitRequested) is one of the program's own
/// ways to refuse input and ends the run normally, as does the end of the
/// input.
template <typename Body>
void Guarded(Body body) {
  try {
    body();
  } catch (const ExitRequested&) {
  } catch (const InputUsedUp&) {
  }
}

}  // namespace kel::fuzz
