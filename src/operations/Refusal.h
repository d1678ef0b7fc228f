// A request refused before anything is done: its code and, for the
// operator, why.
#ifndef MT4BRIDGE_OPERATIONS_REFUSAL_H_
#define MT4BRIDGE_OPERATIONS_REFUSAL_H_

#include <string>

namespace operations {

struct Refusal {
  int code = 0;  // 0: not refused
  std::string reason;
};

// Prints and logs "request refused (<code>): <reason>\n"; returns code.
int refuse(int code, const std::string& reason);
inline int refuse(const Refusal& refusal) { return refuse(refusal.code, refusal.reason); }

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_REFUSAL_H_
