#include "tests/sim_client.h"

#include <algorithm>

namespace kel::simclient {

namespace {

constexpr uint8_t kBootAddress = 1;
constexpr uint8_t kService = 0x45;
constexpr uint8_t kBlock = 0x47;      // "G"
constexpr uint8_t kFastBlock = 0x48;  // "H"
constexpr size_t kPiece = 128;
constexpr size_t kWindow = 8;
constexpr int kAttempts = 20;

Bytes Command(uint8_t address, uint8_t command) { return {address, kService, 0x10, command}; }

bool Echoes(const Bytes& reply, const Bytes& request, size_t count) {
  return reply.size() >= count && request.size() >= count &&
         std::equal(request.begin(), request.begin() + count, reply.begin());
}

uint16_t SequenceOf(const Bytes& request) { return GetBe16(request, 4) & 0x7FFF; }

}  // namespace

uint16_t Crc16(const uint8_t* data, size_t length) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < length; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
  }
  return crc;
}

Bytes Frame(const Bytes& payload, bool lengthHeader) {
  Bytes wire;
  wire.reserve(payload.size() + 4);
  if (lengthHeader) {
    wire.push_back(0xF1);
    wire.push_back(static_cast<uint8_t>(payload.size() + 2));
  }
  wire.insert(wire.end(), payload.begin(), payload.end());
  const uint16_t crc = Crc16(payload.data(), payload.size());
  wire.push_back(static_cast<uint8_t>(crc));
  wire.push_back(static_cast<uint8_t>(crc >> 8));
  return wire;
}

void PutBe16(Bytes& out, uint32_t value) {
  out.push_back(static_cast<uint8_t>(value >> 8));
  out.push_back(static_cast<uint8_t>(value));
}

void PutBe32(Bytes& out, uint32_t value) {
  PutBe16(out, value >> 16);
  PutBe16(out, value);
}

// A memory request: command, address, length in `lengthBytes` bytes, then
// the data (none for a commit, which names a block already sent).
Bytes BlockRequest(uint8_t command, uint32_t address, size_t length, int lengthBytes,
                   const Bytes* data) {
  Bytes request = Command(kBootAddress, command);
  PutBe32(request, address);
  if (lengthBytes == 1) {
    request.push_back(static_cast<uint8_t>(length));
  } else {
    PutBe16(request, static_cast<uint32_t>(length));
  }
  if (data != nullptr) request.insert(request.end(), data->begin(), data->end());
  return request;
}

uint16_t GetBe16(const Bytes& in, size_t at) {
  return at + 2 <= in.size() ? static_cast<uint16_t>((in[at] << 8) | in[at + 1]) : 0;
}

uint32_t GetBe32(const Bytes& in, size_t at) {
  return at + 4 <= in.size() ? (uint32_t{GetBe16(in, at)} << 16) | GetBe16(in, at + 2) : 0;
}

std::array<uint32_t, 4> FileChecksums(const Bytes& data) {
  std::array<uint32_t, 4> sums{0, 0, 0, 0};
  const auto rotate = [](uint32_t v) { return (v >> 1) | (v << 31); };
  for (size_t block = 0; block < data.size(); block += 256) {
    for (size_t j = 0; j < 64; ++j) {
      uint32_t w = 0;
      for (size_t k = 0; k < 4; ++k) {
        const size_t at = block + 4 * j + k;
        if (at < data.size()) w |= uint32_t{data[at]} << (8 * k);
      }
      if (j % 2 == 0) {
        sums[0] += w;
      } else {
        sums[3] += w;
      }
      if (j % 4 == 0 || j % 4 == 3) {
        sums[1] = w ^ rotate(sums[1]);
      } else {
        sums[2] = w ^ rotate(sums[2]);
      }
    }
  }
  return sums;
}

bool SimClient::Open(int32_t baud, bool evenParity, bool ctsFlow) {
  port_.reset();
  received_.clear();
  SerialConfig config;
  config.baudRate = baud;
  config.parityOn = evenParity;
  config.evenParity = evenParity;
  config.ctsFlow = ctsFlow;
  SerialOpenError error;
  port_ = ports_.Open(portNumber_, config, error);
  return port_ != nullptr;
}

void SimClient::Pause(uint32_t ms) {
  // A clock's sleep may end early (a stop signal pending in the test
  // process ends the system clock's waits); the unit's timing does not.
  const uint32_t until = clock_.Ticks() + ms;
  for (int32_t left = static_cast<int32_t>(ms); left > 0;
       left = static_cast<int32_t>(until - clock_.Ticks())) {
    clock_.Sleep(static_cast<uint32_t>(left));
  }
}

size_t SimClient::Discard() {
  size_t count = received_.size();
  received_.clear();
  if (!port_) return count;
  uint8_t buffer[256];
  for (int n = port_->Read(buffer, sizeof buffer); n > 0; n = port_->Read(buffer, sizeof buffer)) {
    count += static_cast<size_t>(n);
  }
  return count;
}

void SimClient::SendRaw(const Bytes& bytes) {
  if (port_) port_->Write(bytes.data(), bytes.size());
}

bool SimClient::ReceiveRaw(Bytes& bytes, size_t count, uint32_t timeoutMs) {
  bytes.clear();
  return ReadExact(bytes, count, clock_.Ticks() + timeoutMs);
}

void SimClient::Send(const Bytes& payload, bool lengthHeader) {
  if (!port_) return;
  if (Proxied()) {
    // jig address, "G", ">", port, size, then the payload; one check value
    // over both, behind the length header.
    Bytes body = {proxyAddress_, 0x47, '>', proxyPort_, static_cast<uint8_t>(payload.size())};
    body.insert(body.end(), payload.begin(), payload.end());
    const Bytes wire = Frame(body, true);
    port_->Write(wire.data(), wire.size());
    return;
  }
  const Bytes wire = Frame(payload, lengthHeader);
  port_->Write(wire.data(), wire.size());
}

bool SimClient::ReadExact(Bytes& into, size_t count, uint32_t deadline) {
  while (received_.size() < count) {
    const int32_t left = static_cast<int32_t>(deadline - clock_.Ticks());
    if (!port_ || left <= 0) return false;
    if (!port_->WaitReadable(static_cast<uint32_t>(left))) continue;
    uint8_t buffer[512];
    const int n = port_->Read(buffer, sizeof buffer);
    if (n < 0) return false;
    received_.insert(received_.end(), buffer, buffer + n);
  }
  into.insert(into.end(), received_.begin(),
              received_.begin() + static_cast<std::ptrdiff_t>(count));
  received_.erase(received_.begin(), received_.begin() + static_cast<std::ptrdiff_t>(count));
  return true;
}

bool SimClient::Receive(Bytes& payload, size_t size, uint32_t timeoutMs,
                        const std::function<size_t(const Bytes&)>& more) {
  payload.clear();
  const uint32_t deadline = clock_.Ticks() + timeoutMs;
  Bytes frame;
  if (!ReadExact(frame, 1, deadline)) return false;
  if (frame[0] == 0xF1) {
    // The length header counts the payload and the CRC.
    Bytes length;
    if (!ReadExact(length, 1, deadline) || length[0] < 3) return false;
    frame.clear();
    if (!ReadExact(frame, length[0], deadline)) return false;
  } else {
    if (!ReadExact(frame, size + 1, deadline)) return false;
    if (more) {
      const Bytes head(frame.begin(),
                       frame.begin() + static_cast<std::ptrdiff_t>(std::min(size, frame.size())));
      const size_t extra = more(head);
      if (extra > 0 && !ReadExact(frame, extra, deadline)) return false;
    }
  }
  const bool good = Crc16(frame.data(), frame.size()) == 0;
  payload.assign(frame.begin(), frame.end() - 2);
  // A reply through the jig comes behind jig address, "G", "?", port, size.
  if (Proxied() && payload.size() >= 5 && payload[1] == 0x47 && payload[2] == '?')
    payload.erase(payload.begin(), payload.begin() + 5);
  return good;
}

bool SimClient::Call(const Bytes& request, size_t replySize, Bytes& reply, size_t echo,
                     uint32_t timeoutMs) {
  Send(request);
  return Receive(reply, replySize, timeoutMs) && reply.size() == replySize &&
         Echoes(reply, request, echo);
}

bool SimClient::CallLarge(const Bytes& request, size_t replySize, Bytes& reply, size_t echo) {
  constexpr uint32_t kLeaveMs = 60000;
  Send(request);
  if (port_ && !port_->Drain(kLeaveMs)) return false;
  return Receive(reply, replySize) && reply.size() == replySize && Echoes(reply, request, echo);
}

bool SimClient::Ping(uint8_t address) {
  Bytes reply;
  Send({address, 0x41});
  return Receive(reply, 2) && reply == Bytes{address, 0x42};
}

bool SimClient::ReadUnitInfo(uint8_t address, Bytes& reply) {
  return Call(Command(address, 0x10), 12, reply);
}

bool SimClient::ReadAdvancedInfo(uint8_t address, Bytes& reply) {
  const Bytes request = Command(address, 0x14);
  Send(request);
  // The length byte counts everything after the header; 33 of them are in
  // the fixed head.
  const auto rest = [](const Bytes& head) {
    const int extra = static_cast<int8_t>(static_cast<uint8_t>(head[4] - 33));
    return extra > 0 ? static_cast<size_t>(extra) : size_t{0};
  };
  return Receive(reply, 37, 500, rest) && Echoes(reply, request, 4);
}

bool SimClient::ListRemoteUnits(uint8_t address, Bytes& addresses) {
  const Bytes request = Command(address, 0x17);
  Send(request);
  Bytes reply;
  if (!Receive(reply, 5, 500, [](const Bytes& head) { return size_t{head[4]}; }) ||
      !Echoes(reply, request, 4)) {
    return false;
  }
  addresses.assign(reply.begin() + 5, reply.end());
  return true;
}

uint8_t SimClient::OpenFile(uint8_t address, uint8_t drive, uint16_t file, bool create) {
  Bytes request = Command(address, create ? 0x29 : 0x26);
  request.push_back(drive);
  PutBe16(request, file);
  Bytes reply;
  return Call(request, 8, reply, 7) ? reply[7] : 0xFF;
}

uint8_t SimClient::CloseFile(uint8_t address, uint8_t drive, uint16_t file) {
  Bytes request = Command(address, 0x2C);
  request.push_back(drive);
  PutBe16(request, file);
  Bytes reply;
  return Call(request, 8, reply, 7) ? reply[7] : 0xFF;
}

bool SimClient::GetFileAttributes(uint8_t address, uint8_t drive, uint16_t file, uint32_t newSize,
                                  FileAttributes& out) {
  Bytes request = Command(address, 0x2F);
  request.push_back(drive);
  PutBe16(request, file);
  PutBe32(request, newSize);
  Send(request);
  Bytes reply;
  if (!Receive(reply, 29, 500, [](const Bytes& head) { return size_t{head[28]}; }) ||
      !Echoes(reply, request, 7)) {
    return false;
  }
  out.result = reply[7];
  out.size = GetBe32(reply, 8);
  for (size_t i = 0; i < 4; ++i) out.checksum[i] = GetBe32(reply, 12 + 4 * i);
  out.properties.assign(reply.begin() + 29, reply.end());
  return out.properties.size() == reply[28];
}

bool SimClient::WriteFileData(uint8_t address, uint8_t drive, uint16_t file, const Bytes& data,
                              bool highSpeed) {
  struct Block {
    uint32_t offset;
    Bytes request;
  };
  std::deque<Block> window;
  // Waits for acknowledgements until at least one block retires; a negative
  // or missing one sends every outstanding block again, oldest first.
  const auto retire = [&]() {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
      Bytes ack;
      const bool got = Receive(ack, 12, 1000);
      const bool valid = got && ack.size() == 12 && ack[0] == address && ack[1] == kBlock &&
                         ack[3] == drive && GetBe16(ack, 4) == file;
      if (valid && ack[11] != 0) return false;  // the unit's flash failed
      if (valid && ack[2] == '3') {
        const uint32_t upTo = GetBe32(ack, 6);
        if (upTo < window.front().offset) continue;
        while (!window.empty() && window.front().offset <= upTo) window.pop_front();
        return true;
      }
      if (valid && ack[2] != '4') continue;
      ++staleReplies_;
      Discard();
      for (const Block& b : window) Send(b.request, true);
    }
    return false;
  };
  for (size_t offset = 0; offset < data.size(); offset += kPiece) {
    if (window.size() >= kWindow && !retire()) return false;
    const size_t length = std::min(kPiece, data.size() - offset);
    Bytes request = {address};
    if (highSpeed) {
      request.insert(request.end(), {kFastBlock, 0x04});
    } else {
      request.push_back(kBlock);
    }
    request.insert(request.end(), {'2', drive});
    PutBe16(request, file);
    PutBe32(request, static_cast<uint32_t>(offset));
    request.push_back(static_cast<uint8_t>(length));
    request.insert(request.end(), data.begin() + static_cast<std::ptrdiff_t>(offset),
                   data.begin() + static_cast<std::ptrdiff_t>(offset + length));
    Send(request, true);
    window.push_back({static_cast<uint32_t>(offset), std::move(request)});
  }
  while (!window.empty()) {
    if (!retire()) return false;
  }
  return true;
}

bool SimClient::ReadFileData(uint8_t address, uint8_t drive, uint16_t file, Bytes& data) {
  data.clear();
  for (uint32_t offset = 0;; offset += kPiece) {
    Bytes request = {address, kBlock, '0', drive};
    PutBe16(request, file);
    PutBe32(request, offset);
    request.push_back(static_cast<uint8_t>(kPiece));
    Send(request, true);
    Bytes reply;
    if (!Receive(reply, 11, 500) || reply.size() < 11 || reply[2] != '1' ||
        GetBe32(reply, 6) != offset)
      return false;
    const size_t count = reply[10];
    if (count > kPiece || reply.size() != 11 + count) return false;
    data.insert(data.end(), reply.begin() + 11, reply.end());
    if (count < kPiece) return true;
  }
}

bool SimClient::GotoBootLoader(uint8_t address) {
  Bytes reply;
  return Call(Command(address, 0x11), 4, reply);
}

bool SimClient::ReadBootLoaderVersion(uint8_t& value) {
  Bytes reply;
  if (!Call(Command(kBootAddress, 0x12), 5, reply)) return false;
  value = reply[4];
  return true;
}

bool SimClient::ReadBootLoaderRelease(Bytes& reply) {
  Bytes request = Command(kBootAddress, 0x13);
  request.push_back(1);
  return Call(request, 13, reply);
}

bool SimClient::RetireEcho(std::deque<InFlight>& window, size_t replySize, size_t keyAt,
                           size_t keyLength) {
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    if (window.front().acknowledged) {
      window.pop_front();
      return true;
    }
    Bytes reply;
    if (!Receive(reply, replySize, 1000) || reply.size() != replySize) {
      // A lost reply: the oldest request goes again.
      ++staleReplies_;
      Send(window.front().request);
      continue;
    }
    for (InFlight& slot : window) {
      if (Echoes(reply, slot.request, 4) &&
          std::equal(reply.begin() + keyAt, reply.begin() + keyAt + keyLength,
                     slot.request.begin() + keyAt)) {
        slot.acknowledged = true;
        break;
      }
    }
  }
  return false;
}

bool SimClient::Chunks(const Bytes& data) {
  std::deque<InFlight> window;
  for (size_t offset = 0; offset < data.size(); offset += kPiece) {
    if (window.size() >= kWindow && !RetireEcho(window, 7, 4, 3)) return false;
    const size_t length = std::min(kPiece, data.size() - offset);
    Bytes request = Command(kBootAddress, 0x38);
    PutBe16(request, static_cast<uint32_t>(offset));
    request.push_back(static_cast<uint8_t>(length));
    request.insert(request.end(), data.begin() + static_cast<std::ptrdiff_t>(offset),
                   data.begin() + static_cast<std::ptrdiff_t>(offset + length));
    Send(request);
    window.push_back({std::move(request), false});
  }
  while (!window.empty()) {
    if (!RetireEcho(window, 7, 4, 3)) return false;
  }
  return true;
}

bool SimClient::WriteMemory(const std::vector<Record>& records, MemoryTransport transport) {
  std::deque<InFlight> window;
  for (const Record& record : records) {
    const size_t length = record.data.size();
    Bytes request;
    Bytes reply;
    switch (transport) {
      case MemoryTransport::kSmall:
      case MemoryTransport::kWindowed:
        if (length > kPiece) return false;
        request = BlockRequest(0x20, record.address, length, 1, &record.data);
        if (transport == MemoryTransport::kSmall) {
          if (!Call(request, 9, reply, 9)) return false;
          break;
        }
        if (window.size() >= kWindow && !RetireEcho(window, 9, 4, 5)) return false;
        Send(request);
        window.push_back({std::move(request), false});
        break;
      case MemoryTransport::kLarge:
        request = BlockRequest(0x24, record.address, length, 2, &record.data);
        if (!CallLarge(request, 10, reply, 10)) return false;
        break;
      case MemoryTransport::kBuffered:
        if (!Chunks(record.data)) return false;
        request = BlockRequest(0x39, record.address, length, 2, nullptr);
        if (!Call(request, 10, reply, 10)) return false;
        break;
    }
  }
  while (!window.empty()) {
    if (!RetireEcho(window, 9, 4, 5)) return false;
  }
  return true;
}

bool SimClient::ExamineMemory(uint32_t address, const Bytes& data) {
  for (size_t at = 0; at < data.size(); at += kPiece) {
    const size_t count = std::min(kPiece, data.size() - at);
    Bytes request = Command(kBootAddress, 0x21);
    PutBe32(request, static_cast<uint32_t>(address + at));
    request.push_back(static_cast<uint8_t>(count));
    Bytes reply;
    if (!Call(request, 9 + count, reply, 9)) return false;
    if (!std::equal(reply.begin() + 9, reply.end(), data.begin() + static_cast<std::ptrdiff_t>(at)))
      return false;
  }
  return true;
}

bool SimClient::TransferToRam(uint32_t start) {
  Bytes request = Command(kBootAddress, 0x22);
  PutBe32(request, start);
  Bytes reply;
  return Call(request, 4, reply);
}

bool SimClient::GetProgrammerVersion(Bytes& reply) {
  return Call(Command(kBootAddress, 0x31), 6, reply);
}

bool SimClient::EraseRange(uint32_t first, uint32_t last, uint32_t timeoutMs) {
  Bytes request = Command(kBootAddress, 0x35);
  PutBe32(request, first);
  PutBe32(request, last);
  Bytes reply;
  return Call(request, 4, reply, 4, timeoutMs);
}

bool SimClient::RetireTagged(std::deque<InFlight>& window) {
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    Bytes reply;
    if (!Receive(reply, 12, 1000) || reply.size() != 12) {
      // Go back to the oldest: every outstanding request again, in order.
      ++staleReplies_;
      for (const InFlight& slot : window) Send(slot.request);
      continue;
    }
    if (!Echoes(reply, window.front().request, 4)) continue;
    const uint16_t acknowledged = GetBe16(reply, 4) & 0x7FFF;
    if (acknowledged < SequenceOf(window.front().request)) {
      ++staleReplies_;  // a late reply to a request already retired
      continue;
    }
    while (!window.empty() && SequenceOf(window.front().request) <= acknowledged)
      window.pop_front();
    return reply[11] == 0;
  }
  return false;
}

bool SimClient::ProgramFlash(const std::vector<Record>& records, MemoryTransport transport) {
  std::deque<InFlight> window;
  sequence_ = 0;
  for (const Record& record : records) {
    const size_t length = record.data.size();
    Bytes request;
    Bytes reply;
    switch (transport) {
      case MemoryTransport::kSmall:
        if (length > kPiece) return false;
        request = BlockRequest(0x40, record.address, length, 1, &record.data);
        if (!Call(request, 10, reply, 9) || reply[9] != 0) return false;
        break;
      case MemoryTransport::kLarge:
        request = BlockRequest(0x42, record.address, length, 2, &record.data);
        if (!CallLarge(request, 11, reply, 10) || reply[10] != 0) return false;
        break;
      case MemoryTransport::kWindowed:
        // Records are cut into pieces of 128; the first piece of each
        // record carries bit 15 in its tag.
        for (size_t at = 0; at < length; at += kPiece) {
          if (window.size() >= kWindow && !RetireTagged(window)) return false;
          const size_t count = std::min(kPiece, length - at);
          request = Command(kBootAddress, 0x41);
          PutBe16(request, sequence_ | (at == 0 ? 0x8000u : 0u));
          PutBe32(request, static_cast<uint32_t>(record.address + at));
          request.push_back(static_cast<uint8_t>(count));
          request.insert(request.end(), record.data.begin() + static_cast<std::ptrdiff_t>(at),
                         record.data.begin() + static_cast<std::ptrdiff_t>(at + count));
          Send(request);
          window.push_back({std::move(request), false});
          sequence_ = (sequence_ + 1) & 0x7FFF;
        }
        break;
      case MemoryTransport::kBuffered:
        if (!Chunks(record.data)) return false;
        request = BlockRequest(0x3A, record.address, length, 2, nullptr);
        if (!Call(request, 11, reply, 10) || reply[10] != 0) return false;
        break;
    }
  }
  while (!window.empty()) {
    if (!RetireTagged(window)) return false;
  }
  return true;
}

bool SimClient::ReadFlash(uint32_t address, size_t length, Bytes& data) {
  data.clear();
  for (size_t at = 0; at < length; at += kPiece) {
    Bytes request = Command(kBootAddress, 0x51);
    PutBe32(request, static_cast<uint32_t>(address + at));
    request.push_back(static_cast<uint8_t>(kPiece));
    Bytes reply;
    if (!Call(request, 9 + kPiece, reply, 9)) return false;
    const size_t take = std::min(kPiece, length - at);
    data.insert(data.end(), reply.begin() + 9,
                reply.begin() + 9 + static_cast<std::ptrdiff_t>(take));
  }
  return true;
}

bool SimClient::Reset() {
  Bytes reply;
  return Call(Command(kBootAddress, 0x32), 4, reply);
}

}  // namespace kel::simclient
