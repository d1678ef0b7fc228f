// The platform layer's test seams, the same on every platform.
#include <utility>

#include "util/HookSlot.h"
#include "util/Platform.h"

namespace platform {
namespace {
util::HookSlot<AppendFaultHook>& appendFaultSlot() {
  static util::HookSlot<AppendFaultHook> slot;
  return slot;
}
}  // namespace

AppendFaultHook setAppendFaultHook(AppendFaultHook hook) {
  return appendFaultSlot().set(std::move(hook));
}

int appendFault(const std::string& path) {
  const AppendFaultHook hook = appendFaultSlot().get();
  return hook ? hook(path) : 0;
}

}  // namespace platform
