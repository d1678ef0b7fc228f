// The platform layer's test seams, the same on every platform.
#include <mutex>
#include <utility>

#include "util/Platform.h"

namespace platform {
namespace {

std::mutex& hookMutex() {
  static std::mutex m;
  return m;
}

AppendFaultHook& appendFaultSlot() {
  static AppendFaultHook hook;
  return hook;
}

}  // namespace

AppendFaultHook setAppendFaultHook(AppendFaultHook hook) {
  std::lock_guard<std::mutex> lock(hookMutex());
  AppendFaultHook previous = std::move(appendFaultSlot());
  appendFaultSlot() = std::move(hook);
  return previous;
}

int appendFault(const std::string& path) {
  AppendFaultHook hook;
  {
    std::lock_guard<std::mutex> lock(hookMutex());
    hook = appendFaultSlot();
  }
  return hook ? hook(path) : 0;
}

}  // namespace platform
