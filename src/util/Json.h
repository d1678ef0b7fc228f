// JSON reading and writing shared by the configuration, the stores and the
// messages.
#ifndef MT4BRIDGE_UTIL_JSON_H_
#define MT4BRIDGE_UTIL_JSON_H_

#include <json/json.h>

#include <string>

namespace util {

// Parses text (comments allowed, nesting bounded). On failure returns false
// and leaves *error describing it (when error is not null). Never throws.
bool parseJson(const std::string& text, Json::Value* root,
               std::string* error = nullptr);

// Writes value compactly on one line, object keys in ascending byte order,
// followed by one line feed.
std::string writeCompactJson(const Json::Value& value);

}  // namespace util

#endif  // MT4BRIDGE_UTIL_JSON_H_
