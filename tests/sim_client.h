#pragma once

// A scripted client for the unit simulator's tests. It builds every frame
// itself from the wire layouts (its own CRC and framing, none of the
// updater's link, unit, flash or file code), so the simulator is checked
// against the layouts rather than against the code that talks to it. It
// runs on any SerialPortOpener: an in-memory line with a virtual clock, or
// the pseudo-terminal the simulator program serves.

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/serial_device.h"

namespace kel::simclient {

using Bytes = std::vector<uint8_t>;

/// Modbus CRC-16 from 0xFFFF (no final XOR).
uint16_t Crc16(const uint8_t* data, size_t length);
/// The payload with its CRC appended low byte first, optionally behind the
/// 0xF1 length header.
Bytes Frame(const Bytes& payload, bool lengthHeader = false);
void PutBe16(Bytes& out, uint32_t value);
void PutBe32(Bytes& out, uint32_t value);
uint16_t GetBe16(const Bytes& in, size_t at);  ///< 0 when out of range
uint32_t GetBe32(const Bytes& in, size_t at);  ///< 0 when out of range

/// The attribute record of GetFileAttributes.
struct FileAttributes {
  uint8_t result = 0xFF;
  uint32_t size = 0;
  uint32_t checksum[4] = {0, 0, 0, 0};
  Bytes properties;
};

/// The four file checksums a unit reports in GetFileAttributes: the bytes
/// in 256-byte blocks (the last padded with zeros), each of 64
/// little-endian words; even words add into the first, odd ones into the
/// fourth, words 0 and 3 of each four are XORed into the second and words 1
/// and 2 into the third, each after rotating it right by one bit.
std::array<uint32_t, 4> FileChecksums(const Bytes& data);

/// How a programmer image or a flash image is carried to the unit.
enum class MemoryTransport : uint8_t { kSmall, kLarge, kWindowed, kBuffered };

/// One record of an image: address and bytes.
struct Record {
  uint32_t address = 0;
  Bytes data;
};

class SimClient {
 public:
  SimClient(SerialPortOpener& ports, int portNumber, Clock& clock)
      : ports_(ports), portNumber_(portNumber), clock_(clock) {}

  /// (Re)opens the port at `baud` with no or even parity, and with
  /// hardware flow control when asked; pending input is dropped.
  bool Open(int32_t baud, bool evenParity = false, bool ctsFlow = false);
  void Close() { port_.reset(); }
  /// Lets `ms` pass (a unit restarting, say) without reading.
  void Pause(uint32_t ms);
  /// Forgets every byte received and not yet taken; returns how many.
  size_t Discard();
  /// The CTS line as the port sees it.
  bool Cts() { return port_ && port_->Cts(); }
  /// Sends every frame from now on through the test jig at `jigAddress` to
  /// the unit on its port `jigPort` (behind the proxy header, length-framed),
  /// and takes the header off the replies; port 0 ends it.
  void SetProxy(uint8_t jigAddress, uint8_t jigPort) {
    proxyAddress_ = jigAddress;
    proxyPort_ = jigPort;
  }

  // ---- raw bytes (a blank chip's ROM talks text) ----
  void SendRaw(const Bytes& bytes);
  bool ReceiveRaw(Bytes& bytes, size_t count, uint32_t timeoutMs = 500);

  // ---- frames ----
  void Send(const Bytes& payload, bool lengthHeader = false);
  /// Receives one frame of `size` payload bytes (the 0xF1 header, when
  /// present, gives the size instead). `more`, when given, is asked once
  /// `size` bytes are in how many further bytes the frame has. False on a
  /// timeout or a bad CRC; `payload` then holds what came.
  bool Receive(Bytes& payload, size_t size, uint32_t timeoutMs = 500,
               const std::function<size_t(const Bytes&)>& more = nullptr);
  /// Send, then receive a reply that must echo the request's first `echo` bytes.
  bool Call(const Bytes& request, size_t replySize, Bytes& reply, size_t echo = 4,
            uint32_t timeoutMs = 500);
  /// The same for a large request: the reply is awaited once the request
  /// has left the port, as a large request takes long on a slow line.
  bool CallLarge(const Bytes& request, size_t replySize, Bytes& reply, size_t echo);

  // ---- identification ----
  bool Ping(uint8_t address);
  bool ReadUnitInfo(uint8_t address, Bytes& reply);
  bool ReadAdvancedInfo(uint8_t address, Bytes& reply);
  bool ListRemoteUnits(uint8_t address, Bytes& addresses);

  // ---- files ----
  /// OpenFile (0x1026) or CreateFile (0x1029); returns the result byte, 0xFF when no reply.
  uint8_t OpenFile(uint8_t address, uint8_t drive, uint16_t file, bool create);
  uint8_t CloseFile(uint8_t address, uint8_t drive, uint16_t file);
  bool GetFileAttributes(uint8_t address, uint8_t drive, uint16_t file, uint32_t newSize,
                         FileAttributes& out);
  /// Sends `data` in blocks of 128 ("G", or "H" when `highSpeed`), up to 8
  /// in flight, retiring them on cumulative "3" acknowledgements and
  /// resending from the oldest on a "4" or a missing one.
  bool WriteFileData(uint8_t address, uint8_t drive, uint16_t file, const Bytes& data,
                     bool highSpeed);
  /// Reads a whole open file with "G" read requests, 128 bytes each.
  bool ReadFileData(uint8_t address, uint8_t drive, uint16_t file, Bytes& data);

  // ---- boot loader and programmer (address 1) ----
  bool GotoBootLoader(uint8_t address);
  bool ReadBootLoaderVersion(uint8_t& value);
  bool ReadBootLoaderRelease(Bytes& reply);
  /// Writes `records` into RAM with write memory: 0x1020, 0x1024, 0x1020
  /// overlapped (8 in flight, echoes as acknowledgements) or buffered 0x1038
  /// chunks with a 0x1039 commit per record.
  bool WriteMemory(const std::vector<Record>& records, MemoryTransport transport);
  /// Compares RAM with `data` through examine memory 0x1021.
  bool ExamineMemory(uint32_t address, const Bytes& data);
  bool TransferToRam(uint32_t start);
  bool GetProgrammerVersion(Bytes& reply);
  bool EraseRange(uint32_t first, uint32_t last, uint32_t timeoutMs = 1000);
  /// Programs `records` into flash: 0x1040, 0x1042, windowed 0x1041 (tags,
  /// cumulative acknowledgement, resend from the oldest on a timeout) or
  /// buffered 0x1038 chunks with 0x103A.
  bool ProgramFlash(const std::vector<Record>& records, MemoryTransport transport);
  /// Reads flash in 128-byte pieces with 0x1051.
  bool ReadFlash(uint32_t address, size_t length, Bytes& data);
  /// Reset 0x1032 of the boot loader or the programmer.
  bool Reset();

  /// Replies the windowed transfer met that it had to pass over (stale or
  /// after a resend); tests use it to see that replies came late.
  int staleReplies() const { return staleReplies_; }

 private:
  bool ReadExact(Bytes& into, size_t count, uint32_t deadline);
  /// A request in flight and whether its reply has come.
  struct InFlight {
    Bytes request;
    bool acknowledged = false;
  };
  /// Waits for the reply of the oldest request of an echo window (write
  /// memory or buffered chunks): replies are matched by the echoed key
  /// (address or offset); a timeout sends the oldest request again.
  bool RetireEcho(std::deque<InFlight>& window, size_t replySize, size_t keyAt, size_t keyLength);
  /// Retires windowed program requests on a cumulative reply.
  bool RetireTagged(std::deque<InFlight>& window);
  /// Sends `data` as buffered chunks of up to 128 bytes, 8 in flight.
  bool Chunks(const Bytes& data);
  bool Proxied() const { return proxyPort_ != 0; }

  SerialPortOpener& ports_;
  int portNumber_;
  Clock& clock_;
  std::unique_ptr<SerialDevice> port_;
  std::deque<uint8_t> received_;
  uint16_t sequence_ = 0;
  int staleReplies_ = 0;
  uint8_t proxyAddress_ = 0;
  uint8_t proxyPort_ = 0;
};

}  // namespace kel::simclient
