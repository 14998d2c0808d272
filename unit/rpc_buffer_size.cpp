#include "unit/rpc_buffer_size.h"

#include "runtime/output.h"
#include "runtime/runtime.h"
#include "unit/rpc_call.h"
#include "unit/rpc_codes.h"

namespace kel {

namespace {

constexpr uint32_t kDefaultBufferSize = 128;
constexpr int kFirstReleaseWithBufferSize = 10;
constexpr int kFirstReleaseWithNewCodes = 11;
constexpr int kAttempts = 2;

}  // namespace

bool GetBufferSize(Link& link, UnitInfo& unit) {
  unit.bufferSize = kDefaultBufferSize;
  if (link.state.overlappedActive || unit.mcuType == mcuH8S2145 ||
      unit.connectionMode == modeApplication ||
      (unit.connectionMode == modePonderixBootLoader &&
       unit.bootLoaderRelease < kFirstReleaseWithBufferSize)) {
    return true;
  }
  const uint16_t command = unit.bootLoaderRelease < kFirstReleaseWithNewCodes
                               ? rpc::kGetBufferSizeOld
                               : rpc::kGetBufferSize;
  Output& out = link.runtime.out;
  TraceRpc(out, "GetBufferSize");
  uint16_t size = 0;
  RpcRequest request(link.state.bootLoaderAddress, command);
  if (!RpcRetry(link, request, {6}, kAttempts, [&size](RpcReply& reply) {
        size = reply.U16();
        return true;
      })) {
    return false;
  }
  unit.bufferSize = size;
  out.Print(Sink::kDebug, "COMPLETE: Size=", size, "\r\n");
  return true;
}

}  // namespace kel
