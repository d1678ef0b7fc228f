#include "util/Json.h"

#include <memory>
#include <sstream>

namespace util {

bool parseJson(const std::string& text, Json::Value* root, std::string* error) {
  Json::CharReaderBuilder builder;
  builder["collectComments"] = true;
  builder["allowComments"] = true;
  builder["stackLimit"] = 256;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  std::string errs;
  Json::Value parsed;
  bool ok = false;
  try {
    ok = reader->parse(text.data(), text.data() + text.size(), &parsed, &errs);
  } catch (const std::exception& e) {
    // The reader throws instead of failing on some hostile input (nesting
    // beyond the stack limit).
    errs = e.what();
    ok = false;
  }
  if (!ok) {
    if (error) *error = errs;
    return false;
  }
  *root = std::move(parsed);
  return true;
}

std::string writeCompactJson(const Json::Value& value) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  builder["commentStyle"] = "None";
  builder["enableYAMLCompatibility"] = false;
  builder["dropNullPlaceholders"] = false;
  std::unique_ptr<Json::StreamWriter> writer(builder.newStreamWriter());
  std::ostringstream out;
  writer->write(value, &out);
  out << '\n';
  return out.str();
}

}  // namespace util
