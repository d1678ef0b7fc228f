#include "app/Version.h"

#include <json/version.h>
#include <proton/version.h>
#include <simdjson.h>

#include "app/BuildVersion.h"

namespace app {
namespace {

std::string dotted(int major, int minor, int point) {
  return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(point);
}

}  // namespace

std::string versionText() {
  const std::string described = MT4BRIDGE_GIT_DESCRIBE;
  if (described.empty()) return MT4BRIDGE_VERSION;
  return std::string(MT4BRIDGE_VERSION) + " (" + described + ")";
}

std::string versionReport() {
  return "mt4bridge " + versionText() + "\n" +
         "Qpid Proton " + dotted(PN_VERSION_MAJOR, PN_VERSION_MINOR, PN_VERSION_POINT) + "\n" +
         "JsonCpp " + JSONCPP_VERSION_STRING + "\n" +
         "simdjson " +
         dotted(simdjson::SIMDJSON_VERSION_MAJOR, simdjson::SIMDJSON_VERSION_MINOR,
                simdjson::SIMDJSON_VERSION_REVISION) +
         "\n";
}

}  // namespace app
