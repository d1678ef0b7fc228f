#include "util/Retry.h"

#include <algorithm>

#include "util/Pause.h"

namespace util {

int retry(const RetryPlan& plan, const std::function<int()>& call) {
  int pause = plan.pauseMs;
  int result = 0;
  for (int attempt = 1;; ++attempt) {
    if (attempt > 1 || plan.pauseFirst) {
      if (pause > 0) util::pauseMs(pause);
      if (plan.maxPauseMs > pause) pause = std::min(pause * 2, plan.maxPauseMs);
    }
    if (attempt > 1 && plan.reconnect && plan.reconnectOn.contains(result)) plan.reconnect();
    result = call();
    if (plan.afterCall) plan.afterCall(attempt, result);
    if (plan.success.contains(result) || !plan.retryable.contains(result)) return result;
    if (plan.attempts != kUntilStopped && attempt >= plan.attempts) return result;
    if (plan.stop && plan.stop()) return result;
  }
}

}  // namespace util
