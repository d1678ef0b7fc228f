// The one pause function: every fixed pause and retry delay of the service
// goes through pauseMs, so tests can replace the waiting with a recorder.
#ifndef MT4BRIDGE_UTIL_PAUSE_H_
#define MT4BRIDGE_UTIL_PAUSE_H_

#include <functional>

namespace util {

using PauseHook = std::function<void(int ms)>;

// Waits ms milliseconds (through the hook when one is installed).
// Callers must not hold a lock across it.
void pauseMs(int ms);

// Installs hook in place of real sleeping; an empty hook restores real
// sleeping. Returns the previous hook. Not meant to be called while other
// threads are pausing.
PauseHook setPauseHook(PauseHook hook);

}  // namespace util

#endif  // MT4BRIDGE_UTIL_PAUSE_H_
