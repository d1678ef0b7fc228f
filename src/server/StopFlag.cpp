#include "server/StopFlag.h"

namespace server {
namespace {

// Constant-initialised, so it is usable before main and from a signal
// handler without any initialisation guard.
constinit std::atomic<bool> gStop{false};
static_assert(std::atomic<bool>::is_always_lock_free,
              "the stop flag is set from signal handlers");

}  // namespace

std::atomic<bool>& stopFlag() { return gStop; }

}  // namespace server
