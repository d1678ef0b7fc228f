// What every request operation works with: the two manager links, the two
// stores and the settings. One context is built at start-up from the
// process-wide objects and handed to every operation; tests build one over
// fakes.
#ifndef MT4BRIDGE_OPERATIONS_OPERATION_CONTEXT_H_
#define MT4BRIDGE_OPERATIONS_OPERATION_CONTEXT_H_

#include <json/json.h>

#include <functional>

#include "config/Config.h"
#include "messaging/ReplySender.h"
#include "server/ManagerLink.h"
#include "store/FinanceBalanceStore.h"
#include "store/UserInfoStore.h"

namespace operations {

// References only: everything referred to must outlive the context and
// every operation running on it.
struct OperationContext {
  server::ManagerLink& normal;   // changes and direct requests
  server::ManagerLink& pumping;  // cached reads
  store::FinanceBalanceStore& balances;
  store::UserInfoStore& users;
  const config::ConfigRecord& config;

  // True while both links hold an interface.
  bool hasInterfaces() const {
    return normal.hasInterface() && pumping.hasInterface();
  }
};

// Runs fn(mt::CManagerInterface&) -> int on link's interface under the
// link's lock and stores its result in *result. False, with nothing run and
// *result untouched, when the link has no interface (it was never created,
// or was released at shut-down).
template <typename Fn>
bool callManager(server::ManagerLink& link, int* result, Fn&& fn) {
  return link.call(false, [&](mt::CManagerInterface& m) {
    *result = fn(m);
    return true;
  });
}

// A request operation: reads its request record from request, does its
// work, sends exactly one reply through reply and returns the reply's code.
// JsonCpp's conversion errors (Json::LogicError) raised while the request is
// read leave the operation before any manager call and without a reply.
using OperationFn = int (*)(OperationContext& ctx, const Json::Value& request,
                            messaging::ReplySender& reply);

// fn bound to ctx in the shape the dispatcher calls (request, reply); the
// returned code is dropped. ctx must outlive the result.
inline std::function<void(const Json::Value&, messaging::ReplySender&)>
bindOperation(OperationContext& ctx, OperationFn fn) {
  return [&ctx, fn](const Json::Value& request, messaging::ReplySender& reply) {
    fn(ctx, request, reply);
  };
}

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_OPERATION_CONTEXT_H_
