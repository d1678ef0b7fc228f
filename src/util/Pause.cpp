#include "util/Pause.h"

#include <utility>

#include "util/HookSlot.h"
#include "util/Platform.h"

namespace util {
namespace {
HookSlot<PauseHook>& hookSlot() {
  static HookSlot<PauseHook> slot;
  return slot;
}
}  // namespace

void pauseMs(int ms) {
  const PauseHook hook = hookSlot().get();
  if (hook) {
    hook(ms);
  } else {
    platform::sleepMilliseconds(ms);
  }
}

PauseHook setPauseHook(PauseHook hook) { return hookSlot().set(std::move(hook)); }

}  // namespace util
