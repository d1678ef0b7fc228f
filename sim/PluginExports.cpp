// The plugin's entry points, resolved by name by the service.
#include "server/ManagerApi.h"
#include "sim/ManagerClient.h"

// The Windows build names its own export attribute (__declspec(dllexport)).
#ifndef MT4SIM_EXPORT
#define MT4SIM_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {

MT4SIM_EXPORT int MtManVersion() { return mt::kManagerApiVersion; }

MT4SIM_EXPORT int MtManCreate(int version, mt::CManagerInterface** out) {
  if (out == nullptr) return mt::RET_INVALID_DATA;
  *out = nullptr;
  if (version != mt::kManagerApiVersion) return mt::RET_OLD_VERSION;
  *out = new sim::ManagerClient();
  return mt::RET_OK;
}

}  // extern "C"
