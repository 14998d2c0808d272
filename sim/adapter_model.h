#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "sim/sim_network.h"

namespace kel::sim {

/// A USB serial adapter's way with received bytes: it collects them and
/// passes them to the computer in packets, when a packet's data fills or
/// when its latency timer, started by the first byte of the packet, runs
/// out. A request/reply protocol waits for that timer on every reply
/// shorter than a packet.
struct AdapterSettings {
  uint32_t latencyMs = 16;  ///< the common adapters' default timer
  size_t packetBytes = 62;  ///< data bytes of a full-speed USB packet (64 less 2 status bytes)
};

/// Reads "latency-ms=N,packet=N" (either key may be left out; N from 1);
/// false with the reason in `error`.
bool ParseAdapterSettings(const std::string& text, AdapterSettings& settings, std::string& error);

/// Puts an adapter between the units' line and the program: the units'
/// bytes go in as the network sends them, and come out with the time at
/// which the adapter hands them on. Times in microseconds of the caller's
/// clock.
class AdapterModel {
 public:
  explicit AdapterModel(const AdapterSettings& settings) : settings_(settings) {}

  /// Bytes that have fully arrived at the adapter by `output.deliverAtUs`.
  /// With `lineTimed` they came one byte time apart at `output.line`'s
  /// speed, else all at once.
  void Add(const TimedOutput& output, bool lineTimed);
  /// The packets handed on by `nowUs`, stamped with their moment, in order.
  /// Later bytes never arrive before the moment they are added, so what is
  /// handed on by now is settled.
  std::vector<TimedOutput> Take(uint64_t nowUs);
  /// When the packet being collected goes out, as far as known now (its
  /// timer, or the byte that fills it); false when nothing is held.
  bool NextRelease(uint64_t& atUs) const;

 private:
  struct Byte {
    uint64_t arrivalUs;
    uint8_t value;
    SerialConfig line;
  };
  // The moment the packet starting at the oldest held byte goes out, and
  // how many bytes it takes.
  uint64_t Release(size_t& count) const;

  AdapterSettings settings_;
  std::deque<Byte> held_;  // in order of arrival
};

}  // namespace kel::sim
