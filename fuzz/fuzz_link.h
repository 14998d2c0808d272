#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <utility>
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

/// Thrown once the input is used up and the program has had two more
/// requests answered by silence (a retry of the call under way); everything
/// after that would only time out. An input reaches a call's failure path
/// with empty replies (length 0), which are silence too.
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

  static constexpr int kSilentRequests = 2;

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

/// Destroys `object` and makes it again in its place, so that everything
/// holding a reference to it sees a new one.
template <typename T, typename... Args>
void Remake(T& object, Args&&... args) {
  std::destroy_at(&object);
  std::construct_at(&object, std::forward<Args>(args)...);
}

/// A whole runtime of fakes (virtual clock, recorded console, an exit that
/// throws ExitRequested) with COM3 open as an in-memory line whose far end
/// plays the fuzzer's replies, and a Link over it.
///
/// Made once per process and put back into its made state before every
/// input (Reset): making the port and the packet layer costs more than most
/// inputs (their buffers are 64 KiB twice and 20,000 bytes twice, fresh
/// pages each time under AddressSanitizer). Every other part, the runtime,
/// output, options, clock, console, line and link state, is destroyed and
/// made again in place; the port is closed and its settings, counts and
/// totals made anew, and the packet layer forgets its request and reply.
/// Their buffers keep the previous input's bytes only past those counts,
/// where no read goes.
struct FuzzLink {
  /// The process's one link, made ready for the input `data`.
  static FuzzLink& Reset(const uint8_t* data, size_t size) {
    static FuzzLink link;
    link.Begin(data, size);
    return link;
  }

  // The port closes after the peer has gone: nothing may throw from there.
  ~FuzzLink() {
    PrintDigest();
    line->AttachPeer(nullptr);
  }
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
  MemorySerialLine* line = &ports.AddLine(3);
  ReplySource source{nullptr, 0};
  ReplyPeer peer{*line, source};
  CommPort port{runtime, ports};
  ProxySettings proxy;
  PacketLayer packets{runtime, port, proxy};
  LinkState state;
  Link link{runtime, port, packets, state};

 private:
  FuzzLink() = default;

  bool ran_ = false;

  // With KEL_FUZZ_DIGEST set, each input's outcome (console text, clock,
  // bytes each way) is printed as one number on stderr when it has run, so
  // that fuzz/check_reset.sh can compare inputs run in one process with
  // the same inputs run one process each.
  void PrintDigest() {
    static const bool wanted = std::getenv("KEL_FUZZ_DIGEST") != nullptr;
    if (!wanted || !ran_) return;
    uint64_t hash = 14695981039346656037ull;
    auto mix = [&hash](uint64_t value) {
      for (int i = 0; i < 8; ++i) hash = (hash ^ ((value >> (8 * i)) & 0xFF)) * 1099511628211ull;
    };
    for (char c : console.output()) mix(static_cast<uint8_t>(c));
    mix(clock.Micros());
    mix(line->bytesFromHost);
    mix(line->bytesToHost);
    std::fprintf(stderr, "reset-digest %016llx\n", static_cast<unsigned long long>(hash));
  }

  void Begin(const uint8_t* data, size_t size) {
    PrintDigest();
    ran_ = true;
    // The line and the peer go first: the port's device refers to the line.
    port.CloseDevice();
    line->AttachPeer(nullptr);
    std::destroy_at(&peer);

    options = Options{};
    options.portNumber = 3;
    options.yesToPrompts = true;
    // The traces and the link layers' error lines format the hostile bytes
    // too; the input's first byte turns them on, as they cost most of the
    // time of a run.
    options.debug = size > 0 && (data[0] & 0x80);
    options.detailedDebug = options.debug;
    Remake(clock);
    Remake(console);
    Remake(out, console, clock, options);
    out.errorReportLevel = options.debug ? 1 : 0;
    Remake(env);
    Remake(registry);
    std::destroy_at(&runtime);
    ::new (static_cast<void*>(&runtime))
        Runtime{options, out, clock, console, env, registry, exit, {}};
    Remake(ports, clock);
    line = &ports.AddLine(3);
    source = ReplySource(data, size);
    std::construct_at(&peer, *line, source);

    // The port as made, then opened: its settings refer to the options'
    // live link fields, which were made anew above.
    static_assert(sizeof(CommPort) == 304,
                  "CommPort has changed: make sure FuzzLink::Begin resets what it added");
    Remake(port.settings(), options.liveLink());
    port.ClearReceiveBuffer();
    port.ClearTransmit();
    port.totalReceived = 0;
    port.totalSent = 0;
    port.RegisterClosePort();
    port.OpenPort();

    proxy = ProxySettings{};
    packets.ClearReplyState();
    packets.StartRequest();
    state = LinkState{};
#ifdef KEL_FUZZ_SKIP_CRC
    fuzzing::skipCrcCheck = true;
#endif
  }
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
