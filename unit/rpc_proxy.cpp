#include "unit/rpc_proxy.h"

#include "link/packet_layer.h"
#include "runtime/output.h"
#include "runtime/runtime.h"
#include "runtime/text_format.h"
#include "unit/rpc_call.h"
#include "unit/rpc_codes.h"

namespace kel {

namespace {

// The proxy calls answer with one result byte; 0 means done.
bool ResultCall(Link& link, const char* name, uint8_t address, uint16_t command, int attempts) {
  uint8_t result = 0;
  RpcRequest request(address, command);
  if (!CallRpc(link, name, request, {5}, attempts, [&result](RpcReply& reply) {
        result = reply.U8();
        return true;
      })) {
    return false;
  }
  link.runtime.out.Print(Sink::kDebug, "COMPLETE: Result=", Hex(result, 2), "\r\n");
  return result == 0;
}

}  // namespace

bool ListRemoteUnits(Link& link, std::vector<uint8_t>& addresses) {
  std::vector<uint8_t> listed;
  uint8_t count = 0;
  RpcRequest request(link.runtime.options.unitId, rpc::kListRemoteUnits);
  if (!CallRpc(link, "ListRemoteUnits", request, {5, true}, 8, [&](RpcReply& reply) {
        count = reply.U8();
        reply.Receive(count);
        listed.clear();
        for (int i = 0; i < count; ++i) {
          const uint8_t address = reply.U8();
          if (count <= kMaxRemoteUnits) listed.push_back(address);
        }
        return true;
      })) {
    return false;
  }
  addresses = listed;
  link.runtime.out.Print(Sink::kDebug, "COMPLETE: ", count, " unit(s) found\r\n");
  return true;
}

bool SearchKelUpdaterProxy(Link& link, uint8_t jigAddress, ProxySearchResult& found) {
  ProxySearchResult reported;
  RpcRequest request(jigAddress, rpc::kSearchKelUpdaterProxy);
  if (!CallRpc(link, "SearchKelUpdaterProxy", request, {12}, 8, [&reported](RpcReply& reply) {
        reported.result = reply.U8();
        reported.portNumber = reply.U8();
        reported.baudRate = reply.U32();
        reported.unitAddress = reply.U8();
        reported.bootLoader = reply.U8() != 0;
        return true;
      })) {
    return false;
  }
  found = reported;
  link.runtime.out.Print(Sink::kDebug, "COMPLETE: Result=", Hex(reported.result, 2),
                         " PortNumber=", reported.portNumber, " BaudRate=", reported.baudRate,
                         " UnitID=", reported.unitAddress,
                         " BootLoader=", reported.bootLoader ? 1 : 0, "\r\n");
  return reported.result == 0;
}

bool OpenKelUpdaterProxy(Link& link, uint8_t jigAddress) {
  return ResultCall(link, "OpenKelUpdaterProxy", jigAddress, rpc::kOpenKelUpdaterProxy, 2);
}

bool CloseKelUpdaterProxy(Link& link, uint8_t jigAddress) {
  return ResultCall(link, "CloseKelUpdaterProxy", jigAddress, rpc::kCloseKelUpdaterProxy, 8);
}

bool SetProxySpeed(Link& link, uint8_t proxyUnitId, uint8_t proxyPortNumber, uint32_t baudRate) {
  ProxySettings& proxy = link.packets.proxy();
  const bool wasOn = proxy.on;
  // The request is for the proxy unit itself, so it must not be wrapped in
  // a proxy header; the flag is restored whatever the outcome.
  proxy.on = false;
  uint8_t result = 0;
  RpcRequest request(proxyUnitId, rpc::kSetProxySpeed);
  request.U8(proxyPortNumber).U32(baudRate);
  const bool valid = CallRpc(link, "SetProxySpeed", request, {10}, 8, [&](RpcReply& reply) {
    const uint8_t port = reply.U8();
    const uint32_t rate = reply.U32();
    result = reply.U8();
    return port == proxyPortNumber && rate == baudRate;
  });
  proxy.on = wasOn;
  if (!valid) return false;
  link.runtime.out.Print(Sink::kDebug, "COMPLETE: Result=", Hex(result, 2), "\r\n");
  return result == 0;
}

}  // namespace kel
