// The server's account number of a request's login.
#ifndef MT4BRIDGE_OPERATIONS_ACCOUNT_NUMBER_H_
#define MT4BRIDGE_OPERATIONS_ACCOUNT_NUMBER_H_

#include <cstdint>

namespace operations {

// The server's account of a 64-bit request login: its low 32 bits (the
// logins of every request are checked at the door to be 1 to 2^31 - 1, so
// nothing is cut).
inline int accountOf(std::int64_t login) {
  return static_cast<int>(static_cast<std::uint32_t>(login));
}

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_ACCOUNT_NUMBER_H_
