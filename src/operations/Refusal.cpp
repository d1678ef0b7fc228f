#include "operations/Refusal.h"

#include "util/Log.h"

namespace operations {

int refuse(int code, const std::string& reason) {
  util::printAndLog("request refused (%d): %s\n", code, reason.c_str());
  return code;
}

}  // namespace operations
