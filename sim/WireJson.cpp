#include "sim/WireJson.h"

#include <exception>
#include <memory>
#include <sstream>

namespace sim {

bool parseJsonText(const std::string& text, Json::Value* root, std::string* error) {
  try {
    Json::CharReaderBuilder builder;
    Json::CharReaderBuilder::strictMode(&builder.settings_);
    builder["stackLimit"] = 200;
    builder["failIfExtra"] = true;
    builder["rejectDupKeys"] = false;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string errs;
    Json::Value parsed;
    if (!reader->parse(text.data(), text.data() + text.size(), &parsed, &errs)) {
      if (error != nullptr) *error = errs;
      return false;
    }
    *root = std::move(parsed);
    return true;
  } catch (const std::exception& e) {
    if (error != nullptr) *error = e.what();
    return false;
  }
}

std::string compactJsonText(const Json::Value& value) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  builder["commentStyle"] = "None";
  std::unique_ptr<Json::StreamWriter> writer(builder.newStreamWriter());
  std::ostringstream out;
  writer->write(value, &out);
  return out.str();
}

}  // namespace sim
