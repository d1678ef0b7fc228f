// What every request operation works with: the two manager links, the four
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
#include "util/Retry.h"

namespace operations {

// The outcome of one manager call: the call's result, or no interface (the
// link had none, nothing ran).
class CallResult {
 public:
  static CallResult noInterface() { return CallResult(); }
  explicit CallResult(int result) : ran_(true), result_(result) {}

  bool missingInterface() const { return !ran_; }
  // The call's result; -1 when nothing ran.
  int result() const { return result_; }
  bool is(int result) const { return ran_ && result_ == result; }
  bool in(const util::ResultSet& results) const {
    return ran_ && results.contains(result_);
  }

 private:
  CallResult() = default;
  bool ran_ = false;
  int result_ = -1;
};

// Runs fn(mt::CManagerInterface&) -> int on link's interface under the
// link's lock. No interface: nothing runs.
template <typename Fn>
CallResult callManager(server::ManagerLink& link, Fn&& fn) {
  int result = 0;
  const bool ran = link.call(false, [&](mt::CManagerInterface& m) {
    result = fn(m);
    return true;
  });
  return ran ? CallResult(result) : CallResult::noInterface();
}

// callManager(link, fn) under plan (util::retry), ending early when the
// link has no interface. Returns the last call's outcome.
template <typename Fn>
CallResult retryManager(server::ManagerLink& link, util::RetryPlan plan, Fn&& fn) {
  CallResult last = CallResult::noInterface();
  plan.stop = [&last, stop = plan.stop] { return last.missingInterface() || (stop && stop()); };
  util::retry(plan, [&] {
    last = callManager(link, fn);
    return last.result();
  });
  return last;
}

// The reply code for a call: 200 when its result is in success, -1 without
// interface, -r for any other result r.
int replyCode(const CallResult& call, const util::ResultSet& success);

// References only: everything referred to must outlive the context and
// every operation running on it.
struct OperationContext {
  server::ManagerLink& normal;   // changes and direct requests
  server::ManagerLink& pumping;  // cached reads
  store::FinanceBalanceStore& balances;
  store::UserInfoStore& users;
  // The trade imports carried out, by serial and login (kept apart from the
  // balance history, which holds money movements only).
  store::FinanceBalanceStore& imports;
  // The internal mails sent, by serial.
  store::FinanceBalanceStore& mails;
  const config::ConfigRecord& config;

  // True while both links hold an interface.
  bool hasInterfaces() const {
    return normal.hasInterface() && pumping.hasInterface();
  }

  // One manager call on the normal or the pumping manager (callManager).
  template <typename Fn>
  CallResult callNormal(Fn&& fn) {
    return callManager(normal, fn);
  }
  template <typename Fn>
  CallResult callPumping(Fn&& fn) {
    return callManager(pumping, fn);
  }
  // The same under a retry plan (retryManager).
  template <typename Fn>
  CallResult retryNormal(const util::RetryPlan& plan, Fn&& fn) {
    return retryManager(normal, plan, fn);
  }
  template <typename Fn>
  CallResult retryPumping(const util::RetryPlan& plan, Fn&& fn) {
    return retryManager(pumping, plan, fn);
  }

  // UserRecordGet of login on the pumping manager into *user: 0 when it
  // answered 0 or 1, else the reply code of the call (-r, or -1 without an
  // interface).
  int readAccount(int login, mt::UserRecord* user);

  // ServerTime on the normal manager; 0 without interface.
  mt::ServerTimeT serverTime() {
    return normal.call(mt::ServerTimeT{0}, [](mt::CManagerInterface& m) { return m.ServerTime(); });
  }

  // The connection routines for the operations that reconnect a link: 1 or
  // -1. The pumping manager is switched to the service's pumping handler.
  int reconnectNormal();
  int reconnectPumping();
};

// A request operation: reads its request record from request, does its
// work, sends exactly one reply through reply and returns the reply's code.
// JsonCpp's conversion errors (Json::LogicError) raised while the request is
// read leave the operation before any manager call and without a reply.
//
// A request can be delivered twice: when the service stops or dies after
// the operation but before the broker has the acknowledgement, the broker
// delivers it again, to this process or the next one. Every operation must
// therefore be safe to run twice for one request, each kind in its way:
// - account creation: a second run finds the account (identity store or
//   server) with the same identity and answers 200 without a write;
// - account, password, leverage, group and symbol changes set values: a
//   second run sets the same values again, or finds them set;
// - money movements and balance imports are recorded in the balance-history
//   store (by comment or serial, and login) before money moves, and are
//   recognised there and in the server's recent history, so a second run
//   answers with the first ticket instead of moving money again; a trade
//   import is recorded the same way, in imports, before it opens a trade
//   (RememberedAction.h);
// - closing an account's trades: a second run finds nothing left open;
// - internal mail: a second run must not send the mail again, so its
//   serial is remembered like a movement's.
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
