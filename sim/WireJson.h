// JSON text reading and writing for the simulated server and its plugin.
// The plugin is loaded into other programs, so it carries its own copy
// instead of using the service's util::parseJson.
#ifndef MT4BRIDGE_SIM_WIRE_JSON_H_
#define MT4BRIDGE_SIM_WIRE_JSON_H_

#include <json/json.h>

#include <string>

namespace sim {

// Parses text (strict JSON, nesting bounded). Never throws; false with
// *error on failure.
bool parseJsonText(const std::string& text, Json::Value* root, std::string* error);

// One line of compact JSON without the line feed.
std::string compactJsonText(const Json::Value& value);

}  // namespace sim

#endif  // MT4BRIDGE_SIM_WIRE_JSON_H_
