#include "operations/SchemaWriter.h"

#include <cctype>
#include <limits>
#include <utility>

#include "operations/ReplyCodes.h"

namespace operations {
namespace {

using Limits32 = std::numeric_limits<int>;
using Limits64 = std::numeric_limits<std::int64_t>;

Json::Value typed(const char* type) {
  Json::Value property(Json::objectValue);
  property["type"] = type;
  return property;
}

Json::Value integer(std::int64_t min, std::int64_t max) {
  Json::Value property = typed("integer");
  property["minimum"] = Json::Int64(min);
  property["maximum"] = Json::Int64(max);
  return property;
}

Json::Value int32Range() { return integer(Limits32::min(), Limits32::max()); }

Json::Value orNull(const Json::Value& type) {
  Json::Value types(Json::arrayValue);
  types.append(type);
  types.append("null");
  return types;
}

constexpr const char* kTextReading = "absent or null: \"\"";

// "meaning. Text": the field's meaning, then how it is read or replied.
std::string withMeaning(const char* meaning, std::string text) {
  if (meaning == nullptr) return text;
  text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
  return std::string(meaning) + ". " + text;
}

}  // namespace

SchemaWriter::SchemaWriter(SchemaSide side) : side_(side), schema_(typed("object")) {
  schema_["properties"] = Json::Value(Json::objectValue);
  if (side_ == SchemaSide::kReply) {
    schema_["required"] = Json::Value(Json::arrayValue);
    schema_["additionalProperties"] = false;
  }
}

void SchemaWriter::add(const char* key, const char* meaning, Json::Value property,
                       const Json::Value& absent, const std::string& reading,
                       const char* reply) {
  if (side_ == SchemaSide::kRequest) {
    property["type"] = orNull(property["type"]);
    property["default"] = absent;
    property["description"] = withMeaning(meaning, reading);
  } else {
    if (reply != nullptr) property["description"] = reply;
    schema_["required"].append(key);
  }
  schema_["properties"][key] = property;
}

void SchemaWriter::listOf(const char* key, const char* meaning, Json::Value items,
                          const std::string& reading, const char* reply) {
  Json::Value property = typed("array");
  property["items"] = items;
  if (side_ == SchemaSide::kReply) {
    property["type"] = orNull("array");
    property["minItems"] = 1;
  }
  add(key, meaning, property, Json::Value(Json::arrayValue), reading, reply);
}

Json::Value SchemaWriter::checked(Json::Value property, Check check) const {
  if (side_ != SchemaSide::kRequest) return property;
  const bool integer = property["type"] == "integer";
  switch (check) {
    case Check::kLogin:
    case Check::kAgent:
      property["minimum"] = check == Check::kLogin ? 1 : 0;
      if (integer) {
        property["maximum"] = Json::Int64(kMaxLogin);
      } else {
        property.removeMember("exclusiveMinimum");
        property["exclusiveMaximum"] = Json::Int64(kMaxLogin) + 1;
      }
      break;
    case Check::kMoney:
      property["exclusiveMinimum"] = -Json::Int64(kMoneyLimit);
      property["exclusiveMaximum"] = Json::Int64(kMoneyLimit);
      break;
    case Check::kNone:
      break;
  }
  return property;
}

std::string SchemaWriter::checkedReading(const char* reading, Check check) const {
  switch (check) {
    case Check::kLogin:
      return std::string(reading) + "; an account outside 1 to " + std::to_string(kMaxLogin) +
             " is refused (" + std::to_string(codes::kLoginOutOfRange) + ")";
    case Check::kAgent:
      return std::string(reading) + "; outside 0 (none) to " + std::to_string(kMaxLogin) +
             " refused (" + std::to_string(codes::kLoginOutOfRange) + ")";
    case Check::kMoney:
      return std::string(reading) + "; refused (" + std::to_string(codes::kAmountOutOfRange) +
             ") when not finite or of magnitude 10^13 or more";
    case Check::kNone:
      break;
  }
  return reading;
}

void SchemaWriter::text(const char* key, const std::string*, const char* meaning) {
  add(key, meaning, typed("string"), "", kTextReading);
}

void SchemaWriter::int64(const char* key, const std::int64_t*, const char* meaning,
                         Check check) {
  add(key, meaning, checked(integer(Limits64::min(), Limits64::max()), check), 0,
      checkedReading("absent or null: 0", check));
}

void SchemaWriter::int32(const char* key, const int*, const char* meaning, Check check) {
  add(key, meaning, checked(int32Range(), check), 0, checkedReading("absent or null: 0", check));
}

void SchemaWriter::real(const char* key, const double*, const char* meaning, Check check) {
  add(key, meaning, checked(typed("number"), check), 0,
      checkedReading("absent or null: 0", check));
}

void SchemaWriter::routeType(const std::string*, const char* meaning) {
  add("routeType", meaning, typed("string"), "", kTextReading);
}

void SchemaWriter::convertedText(const char* key, const std::string*, const char* meaning) {
  add(key, meaning, typed("string"), "",
      "taken in the server's single-byte text (the reply carries that text); "
      "absent or null: \"\"");
}

void SchemaWriter::truncatedInt32(const char* key, const int*, const char* meaning,
                                  Check check) {
  Json::Value property = int32Range();
  if (side_ == SchemaSide::kRequest) {
    property = typed("number");
    property["exclusiveMinimum"] = Json::Int64(Limits32::min()) - 1;
    property["exclusiveMaximum"] = Json::Int64(Limits32::max()) + 1;
  }
  add(key, meaning, checked(property, check), 0,
      checkedReading("a fraction is cut toward zero; absent or null: 0", check),
      "the 32-bit integer read");
}

void SchemaWriter::millisAsSeconds(const char* key, const int*, const char* meaning) {
  Json::Value property = int32Range();
  if (side_ == SchemaSide::kRequest) {
    property = integer(Json::Int64(Limits32::min()) * 1000 - 999,
                       Json::Int64(Limits32::max()) * 1000 + 999);
  }
  add(key, meaning, property, 0,
      "milliseconds, taken as whole seconds (cut toward zero); absent or null: 0",
      "whole seconds, as read");
}

void SchemaWriter::routedReal(const char* key, const double*, const char* meaning,
                              Check check) {
  add(key, meaning, checked(typed("number"), check), 0,
      checkedReading("read only when the request's routeType is present and not null; "
                     "absent or null, or without routeType: 0",
                     check));
}

void SchemaWriter::intList(const char* key, const std::vector<int>*, const char* meaning,
                           Check check) {
  listOf(key, meaning, checked(int32Range(), check),
         checkedReading("in order; absent, null or not an array: none", check),
         "the integers in request order; null when there is none");
}

void SchemaWriter::replyOnly(const char* key, const char* meaning, Json::Value property) {
  if (side_ == SchemaSide::kReply) {
    const std::string reply =
        withMeaning(meaning, "set by the operation; not read from the request");
    add(key, nullptr, std::move(property), 0, "", reply.c_str());
  }
}

void SchemaWriter::replyArray(const char* key, const char* meaning, Json::Value items) {
  Json::Value property = typed("array");
  property["items"] = std::move(items);
  replyOnly(key, meaning, std::move(property));
}

void SchemaWriter::replyInt32(const char* key, const int*, const char* meaning) {
  replyOnly(key, meaning, int32Range());
}

void SchemaWriter::replyInt64(const char* key, const std::int64_t*, const char* meaning) {
  replyOnly(key, meaning, integer(Limits64::min(), Limits64::max()));
}

void SchemaWriter::replyReal(const char* key, const double*, const char* meaning) {
  replyOnly(key, meaning, typed("number"));
}

void SchemaWriter::replyText(const char* key, const std::string*, const char* meaning) {
  replyOnly(key, meaning, typed("string"));
}

}  // namespace operations
