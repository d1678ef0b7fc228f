// The checks a request key passes at the door, before any manager call. A
// value that fails one is refused with its code (ReplyCodes.h):
// the operation calls nothing on the server and replies that code.
#ifndef MT4BRIDGE_OPERATIONS_FIELD_CHECK_H_
#define MT4BRIDGE_OPERATIONS_FIELD_CHECK_H_

#include <cstdint>

namespace operations {

enum class Check {
  kNone,
  kLogin,  // an account: 1 to kMaxLogin (every element of a list)
  kAgent,  // an account, or 0 for none
  kMoney,  // an amount, price or profit: finite, magnitude below kMoneyLimit
};

constexpr std::int64_t kMaxLogin = 2147483647;  // 2^31 - 1
constexpr double kMoneyLimit = 1e13;

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_FIELD_CHECK_H_
