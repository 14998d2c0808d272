#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <span>
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

  /// The next reply, in place in the input (empty past its end).
  std::span<const uint8_t> Next() {
    if (pos_ >= size_) return {};
    size_t length = data_[pos_++];
    if (length > size_ - pos_) length = size_ - pos_;
    const std::span<const uint8_t> reply(data_ + pos_, length);
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
/// with empty replies (length 0), which are silence too. Thrown as well at
/// the first request past the run's budget of time (ReplyPeer::kBudgetTicks).
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
  /// The clock tick (it starts at 1,000) past which no request is answered
  /// and the run ends. The few inputs that wait out long timeouts again
  /// and again (eight unanswered erases of 10 s) took half of all the time
  /// when waits were polled every 10 ms; the bytes of replies are what is
  /// fuzzed, and 30 s leaves room for every call's first long wait and for
  /// many short ones.
  static constexpr uint32_t kBudgetTicks = 31000;

  void OnHostBytes(const uint8_t*, size_t, const SerialConfig&, uint32_t now) override {
    if (source_.empty() && ++silent_ > kSilentRequests) throw InputUsedUp{};
    if (now > kBudgetTicks) throw InputUsedUp{};
    const std::span<const uint8_t> reply = source_.Next();
    if (!reply.empty()) line_.SendToHost(reply.data(), reply.size(), now + 2);
  }
  // This peer acts only when written to; saying so directly spares every
  // wait for a reply two calls each time it looks for the peer's events.
  bool NextEventUs(uint64_t, uint64_t&) override { return false; }
  void OnTimeUs(uint64_t) override {}

 private:
  MemorySerialLine& line_;
  ReplySource& source_;
  int silent_ = 0;
};

/// The console of a fuzz run: it keeps a digest of the text written rather
/// than the text (a string grown a character at a time, anew for every
/// input, cost the reply targets a twentieth of their time). No keys come.
class DigestConsole final : public Console {
 public:
  static constexpr uint64_t kStart = 14695981039346656037ull;  // FNV-1a
  static constexpr uint64_t kPrime = 1099511628211ull;

  void PutChar(char c) override { digest_ = (digest_ ^ static_cast<uint8_t>(c)) * kPrime; }
  void PutText(std::string_view text) override {
    for (char c : text) PutChar(c);
  }
  int ReadKey() override { return -1; }
  bool KeyWaiting() override { return false; }
  uint64_t digest() const { return digest_; }

 private:
  uint64_t digest_ = kStart;
};

/// Destroys `object` and makes it again in its place, so that everything
/// holding a reference to it sees a new one.
template <typename T, typename... Args>
void Remake(T& object, Args&&... args) {
  std::destroy_at(&object);
  std::construct_at(&object, std::forward<Args>(args)...);
}

/// A whole runtime of fakes (virtual clock, a console that keeps a digest, an exit that
/// throws ExitRequested) with COM3 open as an in-memory line whose far end
/// plays the fuzzer's replies, and a Link over it.
///
/// Made once per process (Instance) and put back into its made state when
/// each input ends (FuzzInput): making the port and the packet layer costs
/// more than most inputs (their buffers are 64 KiB twice and 20,000 bytes
/// twice, fresh pages each time under AddressSanitizer). Every other part,
/// the runtime, output, options, clock, console, line and link state, is
/// destroyed and made again in place; the port is closed and its settings,
/// counts and totals made anew, and the packet layer forgets its request
/// and reply. Their buffers keep the previous input's bytes only past those
/// counts, where no read goes.
///
/// The put-back comes at the end of an input rather than at the start of
/// the next, so that an input frees what it allocated: libFuzzer runs an
/// input again, looking for a leak, whenever it leaves more allocated than
/// it found, which put-backs at the start made about every other input do.
struct FuzzLink {
  static FuzzLink& Instance() {
    static FuzzLink link;
    return link;
  }

  // The port closes after the peer has gone: nothing may throw from there.
  ~FuzzLink() { line->AttachPeer(nullptr); }
  FuzzLink(const FuzzLink&) = delete;
  FuzzLink& operator=(const FuzzLink&) = delete;

  /// Gives the link the input `data` (its replies, and its first byte's
  /// choice of traces).
  void Begin(const uint8_t* data, size_t size) {
    source = ReplySource(data, size);
    // The traces and the link layers' error lines format the hostile bytes
    // too; the input's first byte turns them on for a quarter of the
    // inputs, as they double the time of a run.
    options.debug = size > 0 && (data[0] & 0xC0) == 0xC0;
    options.detailedDebug = options.debug;
    out.errorReportLevel = options.debug ? 1 : 0;
#ifdef KEL_FUZZ_SKIP_CRC
    fuzzing::skipCrcCheck = true;
#endif
  }

  /// Ends the input: its digest, then the made state again.
  void End() {
    PrintDigest();
    MakeAfresh();
  }

  Options options;
  VirtualClock clock;
  DigestConsole console;
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
  FuzzLink() { MakeAfresh(); }

  // With KEL_FUZZ_DIGEST set, each input's outcome (console text, clock,
  // bytes each way) is printed as one number on stderr when it has run, so
  // that fuzz/check_reset.sh can compare inputs run in one process with
  // the same inputs run one process each.
  void PrintDigest() {
    static const bool wanted = std::getenv("KEL_FUZZ_DIGEST") != nullptr;
    if (!wanted) return;
    uint64_t hash = DigestConsole::kStart;
    auto mix = [&hash](uint64_t value) {
      for (int i = 0; i < 8; ++i)
        hash = (hash ^ ((value >> (8 * i)) & 0xFF)) * DigestConsole::kPrime;
    };
    mix(console.digest());
    mix(clock.Micros());
    mix(line->bytesFromHost);
    mix(line->bytesToHost);
    std::fprintf(stderr, "reset-digest %016llx\n", static_cast<unsigned long long>(hash));
  }

  void MakeAfresh() {
    // The line and the peer go first: the port's device refers to the line.
    port.CloseDevice();
    line->AttachPeer(nullptr);
    std::destroy_at(&peer);

    options = Options{};
    options.portNumber = 3;
    options.yesToPrompts = true;
    Remake(clock);
    Remake(console);
    Remake(out, console, clock, options);
    Remake(env);
    Remake(registry);
    std::destroy_at(&runtime);
    ::new (static_cast<void*>(&runtime))
        Runtime{options, out, clock, console, env, registry, exit, {}};
    Remake(ports, clock);
    line = &ports.AddLine(3);
    source = ReplySource(nullptr, 0);
    std::construct_at(&peer, *line, source);

    // The port as made, then opened: its settings refer to the options'
    // live link fields, which were made anew above.
    static_assert(sizeof(CommPort) == 336,
                  "CommPort has changed: make sure FuzzLink::MakeAfresh resets what it added");
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
  }
};

/// One input's use of the process's link, ready for the input when made,
/// put back into its made state when destroyed. Made first in a target, so
/// that whatever the target makes on top of the link is gone by then.
class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : link(FuzzLink::Instance()) {
    link.Begin(data, size);
  }
  ~FuzzInput() { link.End(); }
  FuzzInput(const FuzzInput&) = delete;
  FuzzInput& operator=(const FuzzInput&) = delete;

  FuzzLink& link;
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
