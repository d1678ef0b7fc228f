#include "messaging/Dispatch.h"

#include <exception>

#include "util/Json.h"
#include "util/Log.h"

namespace messaging {

std::string envelopeText(const Json::Value& request, const char* key) {
  const Json::Value& value = request[key];
  if (value.isNull()) return std::string();
  return value.asString();
}

bool dispatchRequest(const std::string& destURI, const Operation& operation, ReplySender& reply,
                     const std::string& text) {
  Json::Value request;
  if (!util::parseJson(text, &request) || !request.isObject()) return false;
  if (!operation) {
    util::printAndLog("destURI #%s request not handled: no operation installed\n", destURI.c_str());
    return false;
  }
  try {
    operation(request, reply);
  } catch (const std::exception& e) {
    // Json::Exception included: a value the operation could not convert.
    util::printAndLog("destURI #%s request not handled: %s\n", destURI.c_str(), e.what());
    return false;
  }
  return true;
}

}  // namespace messaging
