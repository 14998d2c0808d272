#include "flash/echo_window.h"

#include <algorithm>

#include "flash/reply_report.h"
#include "runtime/output.h"
#include "runtime/runtime.h"
#include "runtime/text_format.h"
#include "unit/rpc_call.h"
#include "unit/rpc_codes.h"
#include "unit/rpc_programmer.h"

namespace kel {

namespace {

constexpr int kEchoRetireAttempts = 20;

void Send(Link& link, const EchoKind& kind, const EchoSlot& slot) {
  RpcRequest request(link.state.bootLoaderAddress, kind.command);
  if (kind.keyBytes == 4) {
    request.U32(slot.key);
  } else {
    request.U16(static_cast<uint16_t>(slot.key));
  }
  request.U8(static_cast<uint8_t>(slot.length)).Bytes(slot.data.data(), slot.length);
  SendRpcRequest(link, request);
}

// An echo a retired request still owed: used up, true. Such an echo may
// also be the answer of an outstanding request with the same key and
// length; taking it for the owed one costs that request a repeat at worst.
bool TakeOwedEcho(EchoWindow& window, uint32_t key, uint32_t length) {
  for (auto it = window.owed.begin(); it != window.owed.end(); ++it) {
    if (it->key != key || it->length != length) continue;
    if (--it->count == 0) window.owed.erase(it);
    return true;
  }
  return false;
}

// Retires the tail; the echoes of its repeats that have not come yet are owed.
void RetireTail(EchoWindow& window) {
  const EchoSlot& tail = window.tailSlot();
  if (tail.sends > tail.echoes) {
    const uint32_t missing = tail.sends - tail.echoes;
    auto it = std::find_if(window.owed.begin(), window.owed.end(), [&](const OwedEcho& e) {
      return e.key == tail.key && e.length == tail.length;
    });
    if (it == window.owed.end()) {
      window.owed.push_back({tail.key, tail.length, missing});
    } else {
      it->count += missing;
    }
  }
  window.Retire();
}

}  // namespace

bool SendEchoed(Link& link, EchoWindow& window, const EchoKind& kind, size_t limit, uint32_t key,
                const uint8_t* data, size_t length) {
  if (window.MustRetire(limit) && !RetireEchoed(link, window, kind)) return false;
  EchoSlot& slot = window.headSlot();
  slot.key = key;
  slot.length = static_cast<uint32_t>(std::min(length, rpc::kSmallBlock));
  std::copy_n(data, slot.length, slot.data.begin());
  slot.acknowledged = false;
  slot.sends = 1;
  slot.echoes = 0;
  Send(link, kind, slot);
  window.Push();
  return true;
}

bool RetireEchoed(Link& link, EchoWindow& window, const EchoKind& kind) {
  Output& out = link.runtime.out;
  const size_t echoSize = 4 + static_cast<size_t>(kind.keyBytes) + 1;
  const int keyDigits = kind.keyBytes * 2;
  for (int attempt = 0; attempt < kEchoRetireAttempts; ++attempt) {
    EchoSlot& tail = window.tailSlot();
    if (tail.acknowledged) {
      RetireTail(window);
      return true;
    }
    ReplyHead head;
    uint32_t echoedKey = 0;
    uint8_t echoedLength = 0;
    const bool checked = ReceiveRpcReply(link, echoSize, head, [&](RpcReply& reply) {
      echoedKey = kind.keyBytes == 4 ? reply.U32() : reply.U16();
      echoedLength = reply.U8();
    });
    if (!checked) {
      ++tail.sends;
      Send(link, kind, tail);
    } else if (head.address == link.state.bootLoaderAddress && head.service == service::kCommand &&
               head.command == kind.command) {
      // An echo answers a request only when key and length are both its own.
      EchoSlot* answered = nullptr;
      for (size_t i = 0; i < window.count() && answered == nullptr; ++i) {
        EchoSlot& slot = window.Outstanding(i);
        if (slot.key == echoedKey && slot.length == echoedLength) answered = &slot;
      }
      const bool owed = TakeOwedEcho(window, echoedKey, echoedLength);
      if (answered != nullptr) {
        ++answered->echoes;
        if (!owed && answered == &tail) {
          RetireTail(window);
          return true;
        }
        // An echo that overtook the oldest one is remembered for its turn.
        if (!owed) answered->acknowledged = true;
      }
    }
    ReportRetry(out, "ACK MISSING FOR " + Hex(tail.key, keyDigits) + GotText(head) + " $" +
                         Hex(echoedKey, keyDigits) + " " + std::to_string(echoedLength));
  }
  TraceFailed(out);
  return false;
}

bool DrainEchoed(Link& link, EchoWindow& window, const EchoKind& kind) {
  while (!window.empty()) {
    if (!RetireEchoed(link, window, kind)) return false;
  }
  return true;
}

}  // namespace kel
