#include "sim/adapter_model.h"

#include <algorithm>

#include "sim/line_timing.h"

namespace kel::sim {

namespace {

bool SameLine(const SerialConfig& a, const SerialConfig& b) {
  return a.baudRate == b.baudRate && a.parityOn == b.parityOn && a.evenParity == b.evenParity &&
         a.stopBits == b.stopBits;
}

bool ReadCount(const std::string& value, uint64_t limit, uint64_t& number) {
  if (value.empty() || value.size() > 9) return false;
  number = 0;
  for (char c : value) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + static_cast<uint64_t>(c - '0');
  }
  return number >= 1 && number <= limit;
}

}  // namespace

bool ParseAdapterSettings(const std::string& text, AdapterSettings& settings, std::string& error) {
  AdapterSettings parsed;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t end = std::min(text.find(',', start), text.size());
    const std::string item = text.substr(start, end - start);
    const size_t equals = item.find('=');
    const std::string key = item.substr(0, equals);
    const std::string value = equals == std::string::npos ? "" : item.substr(equals + 1);
    uint64_t number = 0;
    if (key == "latency-ms" && ReadCount(value, 255, number)) {
      parsed.latencyMs = static_cast<uint32_t>(number);
    } else if (key == "packet" && ReadCount(value, 4096, number)) {
      parsed.packetBytes = static_cast<size_t>(number);
    } else {
      error = "adapter: '" + item + "' is not latency-ms=1..255 or packet=1..4096";
      return false;
    }
    start = end + 1;
  }
  settings = parsed;
  return true;
}

void AdapterModel::Add(const TimedOutput& output, bool lineTimed) {
  const uint64_t byteUs = lineTimed ? LineTimeUs(1, output.line) : 0;
  const size_t count = output.bytes.size();
  for (size_t i = 0; i < count; ++i) {
    const uint64_t before = byteUs * (count - 1 - i);
    Byte byte{output.deliverAtUs > before ? output.deliverAtUs - before : 0, output.bytes[i],
              output.line};
    // Replies may overtake one another (a unit answers some late): each
    // byte takes its place by arrival, after those of the same moment.
    auto at = std::upper_bound(held_.begin(), held_.end(), byte, [](const Byte& a, const Byte& b) {
      return a.arrivalUs < b.arrivalUs;
    });
    held_.insert(at, byte);
  }
}

uint64_t AdapterModel::Release(size_t& count) const {
  const uint64_t timerEnds = held_.front().arrivalUs + uint64_t{settings_.latencyMs} * 1000;
  count = 0;
  while (count < held_.size() && count < settings_.packetBytes &&
         held_[count].arrivalUs < timerEnds) {
    ++count;
  }
  return count == settings_.packetBytes ? held_[count - 1].arrivalUs : timerEnds;
}

bool AdapterModel::NextRelease(uint64_t& atUs) const {
  if (held_.empty()) return false;
  size_t count = 0;
  atUs = Release(count);
  return true;
}

std::vector<TimedOutput> AdapterModel::Take(uint64_t nowUs) {
  std::vector<TimedOutput> out;
  while (!held_.empty()) {
    size_t count = 0;
    const uint64_t release = Release(count);
    if (release > nowUs) break;
    for (size_t i = 0; i < count; ++i) {
      const Byte& byte = held_[i];
      // One packet may carry bytes sent at different settings (a reply
      // after a speed change): each run keeps its own, to be read garbled.
      if (out.empty() || out.back().deliverAtUs != release ||
          !SameLine(out.back().line, byte.line)) {
        TimedOutput chunk;
        chunk.deliverAtUs = release;
        chunk.deliverAt = static_cast<uint32_t>((release + 999) / 1000);
        chunk.line = byte.line;
        out.push_back(std::move(chunk));
      }
      out.back().bytes.push_back(byte.value);
    }
    held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(count));
  }
  return out;
}

}  // namespace kel::sim
