// Writes a request record back as the data object of its reply, by the same
// field list that RequestReader reads it with (see RequestReader.h), so a
// reply echoes exactly what was parsed.
#ifndef MT4BRIDGE_OPERATIONS_ECHO_WRITER_H_
#define MT4BRIDGE_OPERATIONS_ECHO_WRITER_H_

#include <json/json.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "operations/FieldCheck.h"

namespace operations {

// The data object of *record, by its field list (defined below).
template <typename Record>
Json::Value echoRecord(Record& record);

class EchoWriter {
 public:
  EchoWriter() : data_(Json::objectValue) {}
  EchoWriter(const EchoWriter&) = delete;
  EchoWriter& operator=(const EchoWriter&) = delete;

  // A field's meaning is the schema's (SchemaWriter.h): nothing here.
  void text(const char* key, const std::string* value, const char* = nullptr);
  // A field's check (FieldCheck.h) is the reader's: the reply carries the
  // value as read, also when it was refused.
  void int64(const char* key, const std::int64_t* value, const char* = nullptr,
             Check = Check::kNone);
  void int32(const char* key, const int* value, const char* = nullptr, Check = Check::kNone);
  void real(const char* key, const double* value, const char* = nullptr, Check = Check::kNone);
  // "routeType" as text (empty when the request had none).
  void routeType(const std::string* value, const char* = nullptr);
  // The reader's conversions of these kinds are its own; the reply carries
  // the value as read.
  void convertedText(const char* key, const std::string* value, const char* = nullptr) {
    text(key, value);
  }
  void truncatedInt32(const char* key, const int* value, const char* = nullptr,
                      Check = Check::kNone) {
    int32(key, value);
  }
  void millisAsSeconds(const char* key, const int* value, const char* = nullptr) {
    int32(key, value);
  }
  void routedReal(const char* key, const double* value, const char* = nullptr,
                  Check = Check::kNone) {
    real(key, value);
  }
  // An array of the integers in order; null when the list is empty.
  void intList(const char* key, const std::vector<int>* value, const char* = nullptr,
               Check = Check::kNone);
  // A field only the reply carries (RequestReader leaves it alone).
  void replyInt32(const char* key, const int* value, const char* = nullptr) {
    int32(key, value);
  }
  void replyInt64(const char* key, const std::int64_t* value, const char* = nullptr) {
    int64(key, value);
  }
  void replyReal(const char* key, const double* value, const char* = nullptr) {
    real(key, value);
  }
  void replyText(const char* key, const std::string* value, const char* = nullptr) {
    text(key, value);
  }
  template <typename Record>
  void replyObject(const char* key, Record* value, const char* = nullptr) {
    object(key, value);
  }
  // An array of the items in order, each written by its field list; an
  // empty array when there is none.
  template <typename Item>
  void replyList(const char* key, std::vector<Item>* items, const char* = nullptr) {
    Json::Value list(Json::arrayValue);
    for (Item& item : *items) list.append(echoRecord(item));
    data_[key] = list;
  }
  // A nested object written by its own field list.
  template <typename Record>
  void object(const char* key, Record* value, const char* = nullptr) {
    data_[key] = echoRecord(*value);
  }

  // An array of the items in map order, each written by its field list;
  // null when the map is empty.
  template <typename Item>
  void namedObjects(const char* key, std::map<std::string, Item>* items, const char* = nullptr) {
    if (items->empty()) {
      data_[key] = Json::Value(Json::nullValue);
      return;
    }
    Json::Value list(Json::arrayValue);
    for (auto& entry : *items) list.append(echoRecord(entry.second));
    data_[key] = list;
  }

  // Sets key to value, for fields a record writes by rules of its own.
  void set(const char* key, const Json::Value& value) { data_[key] = value; }

  // The object written so far.
  const Json::Value& data() const { return data_; }

 private:
  Json::Value data_;
};

// The record is not changed (the field list is one member template for
// reading and writing, so it takes the record as non-const).
template <typename Record>
Json::Value echoRecord(Record& record) {
  EchoWriter writer;
  record.fields(writer);
  return writer.data();
}

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_ECHO_WRITER_H_
