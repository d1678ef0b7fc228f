// Writes the JSON Schema (draft 2020-12) of a request record by the same
// field list that RequestReader reads it with and EchoWriter echoes it
// with (see RequestReader.h), so the published schemas cannot drift from
// what the service reads and replies:
//
//   Json::Value request = recordSchema<CloseUserTradesEntity>(SchemaSide::kRequest);
//   Json::Value data = recordSchema<CloseUserTradesEntity>(SchemaSide::kReply);
//
// kRequest: the request object. Every key the reader reads, typed as the
// reader reads it best (texts "string", 32- and 64-bit integers "integer"
// with their range, reals "number", lists arrays of 32-bit integers,
// nested objects by their own field lists), narrowed to what its check
// (FieldCheck.h) admits; its "default" is what an
// absent key reads as and its "description" says what it means (the
// field list's meaning) and how it is read. null is
// allowed under every key: the reader takes null as absent. No key is
// required (absent keys read as their default) and other keys are allowed
// (the reader ignores them). Reply-only fields are not request keys.
//
// kReply: the reply's data object as EchoWriter writes it. Every key is
// required and no other key is allowed; a list or named-object array is
// null when empty (never an empty array). A key's meaning is the request's,
// except for a reply-only key, whose description gives it.
//
// Every key of a reply's data comes from its record's field list (no
// operation writes one through EchoWriter::set), so these schemas are
// whole; a key written by rules of its own would first need a method here
// that the reader and the echo writer share.
#ifndef MT4BRIDGE_OPERATIONS_SCHEMA_WRITER_H_
#define MT4BRIDGE_OPERATIONS_SCHEMA_WRITER_H_

#include <json/json.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "operations/FieldCheck.h"

namespace operations {

enum class SchemaSide { kRequest, kReply };

// The schema of Record's request object or reply data (defined below).
template <typename Record>
Json::Value recordSchema(SchemaSide side);

class SchemaWriter {
 public:
  explicit SchemaWriter(SchemaSide side);
  SchemaWriter(const SchemaWriter&) = delete;
  SchemaWriter& operator=(const SchemaWriter&) = delete;

  // meaning: what the key means to the back office, in one line.
  void text(const char* key, const std::string*, const char* meaning = nullptr);
  void int64(const char* key, const std::int64_t*, const char* meaning = nullptr,
             Check check = Check::kNone);
  void int32(const char* key, const int*, const char* meaning = nullptr,
             Check check = Check::kNone);
  void real(const char* key, const double*, const char* meaning = nullptr,
            Check check = Check::kNone);
  void routeType(const std::string*, const char* meaning = nullptr);
  void convertedText(const char* key, const std::string*, const char* meaning = nullptr);
  void truncatedInt32(const char* key, const int*, const char* meaning = nullptr,
                      Check check = Check::kNone);
  void millisAsSeconds(const char* key, const int*, const char* meaning = nullptr);
  void routedReal(const char* key, const double*, const char* meaning = nullptr,
                  Check check = Check::kNone);
  void intList(const char* key, const std::vector<int>*, const char* meaning = nullptr,
               Check check = Check::kNone);
  // In the reply only.
  void replyInt32(const char* key, const int*, const char* meaning = nullptr);
  void replyInt64(const char* key, const std::int64_t*, const char* meaning = nullptr);
  void replyReal(const char* key, const double*, const char* meaning = nullptr);
  void replyText(const char* key, const std::string*, const char* meaning = nullptr);
  template <typename Record>
  void replyObject(const char* key, Record*, const char* meaning = nullptr) {
    replyOnly(key, meaning, recordSchema<Record>(side_));
  }
  template <typename Item>
  void replyList(const char* key, std::vector<Item>*, const char* meaning = nullptr) {
    replyArray(key, meaning, recordSchema<Item>(side_));
  }
  template <typename Record>
  void object(const char* key, Record*, const char* meaning = nullptr) {
    add(key, meaning, recordSchema<Record>(side_), Json::Value(Json::objectValue),
        "read by its own keys; absent or null reads each of them as absent");
  }
  template <typename Item>
  void namedObjects(const char* key, std::map<std::string, Item>*,
                    const char* meaning = nullptr) {
    listOf(key, meaning, recordSchema<Item>(side_),
           "each kept under its name (a later one of a name "
           "replaces an earlier one); absent, null or not an array: none",
           "in ascending order of name, each name once; null when there is none");
  }

  // The object schema written so far.
  const Json::Value& schema() const { return schema_; }

 private:
  // Adds key with property (its "type" and range) and, on the request
  // side, the default and the meaning with the reading, on the reply side
  // reply.
  void add(const char* key, const char* meaning, Json::Value property, const Json::Value& absent,
           const std::string& reading, const char* reply = nullptr);
  // A reply-only key (on the reply side; nothing on the request side).
  void replyOnly(const char* key, const char* meaning, Json::Value property);
  // A reply-only array of items (each described by items).
  void replyArray(const char* key, const char* meaning, Json::Value items);
  void listOf(const char* key, const char* meaning, Json::Value items,
              const std::string& reading, const char* reply);
  // property (an integer or number) narrowed to what check admits, and
  // reading with the refusal appended, on the request side; as they are
  // on the reply side (the reply carries the value as read).
  Json::Value checked(Json::Value property, Check check) const;
  std::string checkedReading(const char* reading, Check check) const;

  SchemaSide side_;
  Json::Value schema_;
};

template <typename Record>
Json::Value recordSchema(SchemaSide side) {
  Record record;
  SchemaWriter writer(side);
  record.fields(writer);
  return writer.schema();
}

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_SCHEMA_WRITER_H_
