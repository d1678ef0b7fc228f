#include "util/Pause.h"

#include <mutex>
#include <utility>

#include "util/Platform.h"

namespace util {
namespace {
std::mutex& hookMutex() {
  static std::mutex m;
  return m;
}
PauseHook& hookSlot() {
  static PauseHook hook;
  return hook;
}
}  // namespace

void pauseMs(int ms) {
  PauseHook hook;
  {
    std::lock_guard<std::mutex> lock(hookMutex());
    hook = hookSlot();
  }
  if (hook) {
    hook(ms);
  } else {
    platform::sleepMilliseconds(ms);
  }
}

PauseHook setPauseHook(PauseHook hook) {
  std::lock_guard<std::mutex> lock(hookMutex());
  PauseHook previous = std::move(hookSlot());
  hookSlot() = std::move(hook);
  return previous;
}

}  // namespace util
