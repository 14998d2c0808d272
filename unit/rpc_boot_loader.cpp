#include "unit/rpc_boot_loader.h"

#include "runtime/output.h"
#include "runtime/runtime.h"
#include "unit/rpc_call.h"
#include "unit/rpc_codes.h"

namespace kel {
namespace rpc {

namespace {

constexpr int kGotoBootLoaderAttempts = 8;
constexpr int kProgrammerCallAttempts = 8;

}  // namespace

bool GotoBootLoader(Link& link) {
  RpcRequest request(link.runtime.options.unitId, kGotoBootLoader);
  if (!CallRpc(link, "GotoBootLoader", request, {4}, kGotoBootLoaderAttempts)) return false;
  TraceComplete(link.runtime.out);
  return true;
}

bool TransferToRamProgramOnce(Link& link, uint32_t startAddress) {
  RpcRequest request(link.state.bootLoaderAddress, kTransferToRamProgram);
  request.U32(startAddress);
  return RpcAttempt(link, request, {4});
}

bool SetProgrammerSpeedOnce(Link& link, bool oldCodes, uint8_t speedCode) {
  RpcRequest request(link.state.bootLoaderAddress,
                     oldCodes ? kSetProgrammerSpeedOld : kSetProgrammerSpeed);
  request.U8(speedCode);
  return RpcAttempt(link, request, {4});
}

bool ResetProgrammerOnce(Link& link) {
  RpcRequest request(link.state.bootLoaderAddress, kResetProgrammer);
  return RpcAttempt(link, request, {4});
}

bool GetProgrammerVersion(Link& link, UnitInfo& unit) {
  RpcRequest request(link.state.bootLoaderAddress, kGetProgrammerVersion);
  if (!CallRpc(link, "GetProgrammerVersion", request, {6}, kProgrammerCallAttempts,
               [&unit](RpcReply& reply) {
                 unit.programmerVersion[0] = reply.U8();
                 unit.programmerVersion[1] = reply.U8();
                 return true;
               })) {
    return false;
  }
  TraceComplete(link.runtime.out);
  return true;
}

bool ConfigureProgrammer(Link& link, uint8_t value) {
  RpcRequest request(link.state.bootLoaderAddress, kConfigureProgrammer);
  request.U8(value);
  if (!CallRpc(link, "ConfigureProgrammer", request, {4}, kProgrammerCallAttempts)) return false;
  TraceComplete(link.runtime.out);
  return true;
}

}  // namespace rpc
}  // namespace kel
