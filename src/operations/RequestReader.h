// Reads a request record from the top-level keys of a request object.
//
// Every request record lists its keys once, in a member template that both
// this reader and EchoWriter run:
//
//   struct CloseUserTradesEntity {
//     std::int64_t login = 0;
//     std::string serial;
//     std::string routeType;
//     template <typename Fields>
//     void fields(Fields& f) {
//       f.int64("login", &login, "the account whose trades are closed");
//       f.text("serial", &serial, "echoed only");
//       f.routeType(&routeType, "echoed only");
//     }
//   };
//
// Each key is read with JsonCpp's own conversion, so an absent or null key
// gives the empty text or 0, a number or bool under a text key gives its
// text, and a value JsonCpp cannot convert (an object where a text is
// expected, a text where a number is expected, a number out of range)
// throws Json::LogicError out of the reader. The reader catches nothing:
// read the whole record before any manager call or reply.
//
// Each key gives, after its place in the record, what it means to the back
// office in one line (optional; only SchemaWriter uses it).
//
// A key may name a check (FieldCheck.h) after its meaning: f.int64("login",
// &login, "the account", Check::kLogin). The value is read all the same;
// the first value that fails its check is the record's refusal
// (readRecord), and the operation replies its code without calling
// anything.
#ifndef MT4BRIDGE_OPERATIONS_REQUEST_READER_H_
#define MT4BRIDGE_OPERATIONS_REQUEST_READER_H_

#include <json/json.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "operations/FieldCheck.h"
#include "operations/Refusal.h"

namespace operations {

class RequestReader {
 public:
  // object: the request object (or a nested object, or null); must outlive
  // the reader.
  explicit RequestReader(const Json::Value& object) : object_(object) {}
  RequestReader(const RequestReader&) = delete;
  RequestReader& operator=(const RequestReader&) = delete;

  // asString(): "" when absent or null.
  void text(const char* key, std::string* out, const char* = nullptr);
  // asInt64(): 0 when absent or null; a fraction is cut toward zero.
  void int64(const char* key, std::int64_t* out, const char* = nullptr,
             Check check = Check::kNone);
  // asInt(): 0 when absent or null; a fraction is cut toward zero.
  void int32(const char* key, int* out, const char* = nullptr, Check check = Check::kNone);
  // asDouble(): 0.0 when absent or null; an integer is taken as is.
  void real(const char* key, double* out, const char* = nullptr, Check check = Check::kNone);
  // "routeType" with asString(), only when present and not null; else "".
  void routeType(std::string* out, const char* = nullptr);
  // asString() converted to the server's single-byte text
  // (util::toServerText); the record keeps only the converted text.
  void convertedText(const char* key, std::string* out, const char* = nullptr);
  // asDouble() cut toward zero (an account or ticket sent as a real
  // number); a value outside the int range, or not finite, throws.
  void truncatedInt32(const char* key, int* out, const char* = nullptr,
                      Check check = Check::kNone);
  // A time in milliseconds (asInt64()) as whole seconds, cut toward zero;
  // seconds outside the int range throw.
  void millisAsSeconds(const char* key, int* out, const char* = nullptr);
  // asDouble() only when the request carries a "routeType" that is not
  // null; else 0.0 whatever the key holds.
  void routedReal(const char* key, double* out, const char* = nullptr,
                  Check check = Check::kNone);
  // The value's size(), then every element with asInt(), in order. Absent,
  // null, or a plain number or text gives an empty list; an object with
  // members throws.
  void intList(const char* key, std::vector<int>* out, const char* = nullptr,
               Check check = Check::kNone);
  // A field the request does not carry (a ticket the operation finds):
  // left as the record initialises it; only the reply writes it.
  void replyInt32(const char*, int*, const char* = nullptr) {}
  void replyInt64(const char*, std::int64_t*, const char* = nullptr) {}
  void replyReal(const char*, double*, const char* = nullptr) {}
  void replyText(const char*, std::string*, const char* = nullptr) {}
  template <typename Record>
  void replyObject(const char*, Record*, const char* = nullptr) {}
  template <typename Item>
  void replyList(const char*, std::vector<Item>*, const char* = nullptr) {}
  // A nested object read by its own field list; absent or null reads every
  // field of it as absent, a value that is not an object throws.
  template <typename Record>
  void object(const char* key, Record* out, const char* = nullptr) {
    RequestReader nested(value(key));
    out->fields(nested);
    if (refusal_.code == 0) refusal_ = nested.refusal_;
  }

  // An array of objects, each read by Item's field list and kept under its
  // item.name(), so a later element replaces an earlier one of the same name
  // and the map holds each name once, in ascending byte order. A value that
  // is not an array gives an empty map; an element that is neither an
  // object nor null throws.
  template <typename Item>
  void namedObjects(const char* key, std::map<std::string, Item>* out, const char* = nullptr) {
    out->clear();
    const Json::Value& list = value(key);
    if (!list.isArray()) return;
    for (const Json::Value& element : list) {
      Item item;
      RequestReader nested(element);
      item.fields(nested);
      if (refusal_.code == 0) refusal_ = nested.refusal_;
      (*out)[item.name()] = item;
    }
  }

  // The raw value under key (null when absent), for records that read a key
  // by rules of their own.
  const Json::Value& value(const char* key) const { return object_[key]; }

  // The first value that failed its check (code 0 when none did).
  const Refusal& refusal() const { return refusal_; }

 private:
  // Records key's value as the refusal when it fails check and none has
  // been recorded yet.
  void admit(const char* key, std::int64_t value, Check check);
  void admit(const char* key, double value, Check check);

  const Json::Value& object_;
  Refusal refusal_;
};

// Fills *record from request by the record's field list and returns the
// refusal of the first value that failed its check (code 0 when none did).
// Throws what RequestReader throws.
template <typename Record>
Refusal readRecord(const Json::Value& request, Record* record) {
  RequestReader reader(request);
  record->fields(reader);
  return reader.refusal();
}

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_REQUEST_READER_H_
