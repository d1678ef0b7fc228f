#include "messaging/ConnectionLoss.h"

#include <atomic>

#include "util/Console.h"
#include "util/Platform.h"

namespace messaging {

void endProcessAfterConnectionLoss() {
  static std::atomic<bool> ending{false};
  if (ending.exchange(true)) return;
  util::consolePrint("CMS Exception occurred.  Shutting down client.\n");
  platform::exitNow(1);
}

}  // namespace messaging
