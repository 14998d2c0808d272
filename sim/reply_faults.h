#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/faults.h"

namespace kel::sim {

/// A reply after the reply-side faults: the bytes that go on the line, how
/// many times (0 when the reply is lost) and how much later than usual.
struct FaultedReply {
  std::vector<uint8_t> wire;
  int copies = 1;
  uint32_t lateMs = 0;
};

/// Changes the reply's fields for the faults that act on them: another
/// command echoed (wrong-command), a failure code in the result
/// (hardware-failure).
void ApplyPayloadFaults(std::vector<uint8_t>& payload, const std::vector<FaultRule>& hits);

/// The payloads a stray-echo fault sends ahead of `payload`: a copy whose
/// first echoed field byte (the address or offset) is changed, so that it
/// answers a request never sent. Empty without that fault.
std::vector<std::vector<uint8_t>> StrayEchoes(const std::vector<uint8_t>& payload,
                                              const std::vector<FaultRule>& hits);

/// True when `hits` asks for the unit's previous reply to go out again first.
bool EchoesPrevious(const std::vector<FaultRule>& hits);

/// Applies the faults that act on the framed reply: a damaged byte, noise
/// before or after it, the reply cut short, lost, sent twice or late.
FaultedReply ApplyWireFaults(std::vector<uint8_t> wire, const std::vector<FaultRule>& hits);

/// " [kind]" for each rule, as the transcript notes them.
std::string FaultNotes(const std::vector<FaultRule>& hits, bool requestSide);

}  // namespace kel::sim
