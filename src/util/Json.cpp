#include "util/Json.h"

#include <memory>
#include <sstream>

namespace util {

namespace {

// One reader and one writer per thread, built on first use: building one
// costs more than a small parse, and neither may be shared between threads.
Json::CharReader& threadReader() {
  thread_local const std::unique_ptr<Json::CharReader> reader = [] {
    Json::CharReaderBuilder builder;
    builder["collectComments"] = true;
    builder["allowComments"] = true;
    builder["stackLimit"] = 256;
    return std::unique_ptr<Json::CharReader>(builder.newCharReader());
  }();
  return *reader;
}

Json::StreamWriter& threadWriter() {
  thread_local const std::unique_ptr<Json::StreamWriter> writer = [] {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["commentStyle"] = "None";
    builder["enableYAMLCompatibility"] = false;
    builder["dropNullPlaceholders"] = false;
    return std::unique_ptr<Json::StreamWriter>(builder.newStreamWriter());
  }();
  return *writer;
}

}  // namespace

bool parseJson(const std::string& text, Json::Value* root, std::string* error) {
  std::string errs;
  Json::Value parsed;
  bool ok = false;
  try {
    ok = threadReader().parse(text.data(), text.data() + text.size(), &parsed, &errs);
  } catch (const std::exception& e) {
    // The reader throws instead of failing on some hostile input (nesting
    // beyond the stack limit); it starts afresh on the next parse.
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
  std::ostringstream out;
  threadWriter().write(value, &out);
  out << '\n';
  return out.str();
}

}  // namespace util
