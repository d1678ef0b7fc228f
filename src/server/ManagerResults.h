// The manager's result classes as the retrying steps use them, and the
// retried fetch of an array.
#ifndef MT4BRIDGE_SERVER_MANAGER_RESULTS_H_
#define MT4BRIDGE_SERVER_MANAGER_RESULTS_H_

#include "server/ManagerApi.h"
#include "server/ManagerLink.h"
#include "util/Retry.h"

namespace server {

// Success: 0 and 1 for most calls, only 0 where a step says so.
inline constexpr util::ResultSet kSuccessZeroOrOne{mt::RET_OK, mt::RET_OK_NONE};
inline constexpr util::ResultSet kSuccessZeroOnly{mt::RET_OK};
// The failures worth another call; 6 (no connection) also calls for a
// reconnect first.
inline constexpr util::ResultSet kRetryable{mt::RET_ERROR, mt::RET_NO_CONNECT,
                                            mt::RET_UNKNOWN};
inline constexpr util::ResultSet kNoConnection{mt::RET_NO_CONNECT};

// What fetchWithRetry tells plan.afterCall: an array with at least one item
// came back, or none did.
constexpr int kArrayReturned = 0;
constexpr int kNoArray = -1;

// Runs fetch() -> ManagerArray<T> under plan until it returns at least one
// item; plan.success is set to kArrayReturned. Returns that array, or an
// empty one (every array that was not kept has been freed).
template <typename T, typename Fetch>
ManagerArray<T> fetchWithRetry(util::RetryPlan plan, Fetch&& fetch) {
  plan.success = util::ResultSet{kArrayReturned};
  ManagerArray<T> list;
  util::retry(plan, [&] {
    list = fetch();
    if (list.count() > 0) return kArrayReturned;
    list.reset();
    return kNoArray;
  });
  return list;
}

}  // namespace server

#endif  // MT4BRIDGE_SERVER_MANAGER_RESULTS_H_
