// One replaceable function for a test seam (the pause, a failing append):
// set() installs it, get() copies it out, both under a lock of its own, so
// a caller runs the copy without holding the lock.
#ifndef MT4BRIDGE_UTIL_HOOK_SLOT_H_
#define MT4BRIDGE_UTIL_HOOK_SLOT_H_

#include <mutex>
#include <utility>

namespace util {

template <typename Fn>
class HookSlot {
 public:
  // Installs fn (an empty one clears the slot); returns the previous one.
  Fn set(Fn fn) {
    std::lock_guard<std::mutex> lock(mutex_);
    Fn previous = std::move(fn_);
    fn_ = std::move(fn);
    return previous;
  }
  Fn get() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return fn_;
  }

 private:
  mutable std::mutex mutex_;
  Fn fn_;
};

}  // namespace util

#endif  // MT4BRIDGE_UTIL_HOOK_SLOT_H_
