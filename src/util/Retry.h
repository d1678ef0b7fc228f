// Bounded retries of a call that answers a result code. Every pause goes
// through the pause function (util/Pause.h), so tests see them and wait
// for nothing. The manager's result classes are in server/ManagerResults.h;
// array fetches are retried through server::fetchWithRetry.
#ifndef MT4BRIDGE_UTIL_RETRY_H_
#define MT4BRIDGE_UTIL_RETRY_H_

#include <array>
#include <cstddef>
#include <functional>
#include <initializer_list>

namespace util {

// A small set of result codes (at most four), or every code.
class ResultSet {
 public:
  constexpr ResultSet(std::initializer_list<int> codes) {
    for (int code : codes) {
      if (count_ < codes_.size()) codes_[count_++] = code;
    }
  }
  static constexpr ResultSet every() {
    ResultSet all{};
    all.every_ = true;
    return all;
  }
  constexpr bool contains(int result) const {
    if (every_) return true;
    for (std::size_t i = 0; i < count_; ++i) {
      if (codes_[i] == result) return true;
    }
    return false;
  }

 private:
  std::array<int, 4> codes_{};
  std::size_t count_ = 0;
  bool every_ = false;
};

// attempts value: no bound; the retries end only when stop answers true.
constexpr int kUntilStopped = 0;

struct RetryPlan {
  // Calls at most (at least 1), or kUntilStopped.
  int attempts = 1;
  // The pause before every call but the first; with pauseFirst before the
  // first one too.
  int pauseMs = 0;
  bool pauseFirst = false;
  // When above pauseMs, each further pause doubles, up to this.
  int maxPauseMs = 0;
  // Results that end the retries as a success.
  ResultSet success{0};
  // Failures that are tried again; any other failure ends the retries.
  ResultSet retryable = ResultSet::every();
  // Run after the pause and before the next call when the last result is
  // in reconnectOn; its own result is not used.
  std::function<void()> reconnect;
  ResultSet reconnectOn = ResultSet::every();
  // Asked before every call but the first: true ends the retries with the
  // last result.
  std::function<bool()> stop;
  // Told every call's result; attempt counts from 1.
  std::function<void(int attempt, int result)> afterCall;
};

// Calls call until it answers a success, a failure that is not retryable,
// the attempts are spent or stop answers true. Returns the last result.
int retry(const RetryPlan& plan, const std::function<int()>& call);

}  // namespace util

#endif  // MT4BRIDGE_UTIL_RETRY_H_
