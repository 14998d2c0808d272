#include "sim/proxy_role.h"

#include "sim/payload_writer.h"
#include "sim/role_reply.h"

namespace kel::sim {

namespace {

constexpr uint8_t kSearchProxy = 0x3C;
constexpr uint8_t kSetProxySpeed = 0x3D;
constexpr uint8_t kOpenProxy = 0x3E;
constexpr uint8_t kCloseProxy = 0x3F;

constexpr uint8_t kResultOk = 0;
constexpr uint8_t kResultNotOpen = 1;
constexpr uint8_t kResultNoUnit = 2;
constexpr uint8_t kResultBadArgument = 3;

constexpr uint32_t kSpeeds[] = {9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600};

bool KnownSpeed(uint32_t rate) {
  for (uint32_t s : kSpeeds) {
    if (s == rate) return true;
  }
  return false;
}

}  // namespace

uint8_t AnsweringAddress(const SimUnit& unit) {
  return unit.role == SimRole::kApplication ? unit.unitAddress : kBootLoaderAddress;
}

bool HandleProxyRequest(SimUnit& jig, SimUnit* behind, const std::vector<uint8_t>& p,
                        SimReplies& replies) {
  if (!jig.isJig || p.size() < 4 || p[1] != 0x45 || p[2] != 0x10) return false;
  PayloadWriter w = PayloadWriter::EchoCommand(p);
  switch (p[3]) {
    case kOpenProxy:
      if (p.size() != 4) return false;
      jig.proxyOpen = true;
      w.U8(kResultOk);
      break;
    case kCloseProxy:
      if (p.size() != 4) return false;
      jig.proxyOpen = false;
      w.U8(kResultOk);
      break;
    case kSearchProxy: {
      if (p.size() != 4) return false;
      // The jig looks for a unit on its second port and settles its own
      // line there at the speed the unit answers.
      const bool usable = behind && !behind->restarting && behind->role != SimRole::kBlankChip;
      if (!jig.proxyOpen || !usable) {
        w.U8(jig.proxyOpen ? kResultNoUnit : kResultNotOpen).U8(jig.jigPortNumber).U32(0).U8(0).U8(0);
        break;
      }
      if (!behind->autoBaud) {
        jig.proxyBaud = behind->baudRate;
      } else if (jig.proxyBaud != 9600 && jig.proxyBaud != 115200) {
        jig.proxyBaud = 115200;
      }
      w.U8(kResultOk).U8(jig.jigPortNumber).U32(static_cast<uint32_t>(jig.proxyBaud));
      w.U8(AnsweringAddress(*behind)).U8(behind->role == SimRole::kApplication ? 0 : 1);
      break;
    }
    case kSetProxySpeed: {
      if (p.size() != 9) return false;
      const uint8_t port = p[4];
      const uint32_t rate = ReadU32(p, 5);
      uint8_t result = kResultOk;
      if (port != jig.jigPortNumber || !KnownSpeed(rate)) {
        result = kResultBadArgument;
      } else {
        jig.proxyBaud = static_cast<int32_t>(rate);
      }
      w.U8(port).U32(rate).U8(result);
      break;
    }
    default:
      return false;
  }
  SimReply r;
  r.payload = w.Take();
  replies.push_back(std::move(r));
  return true;
}

}  // namespace kel::sim
