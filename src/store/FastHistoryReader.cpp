#include "store/FastHistoryReader.h"

#include <simdjson.h>

#include <climits>
#include <cstdint>

namespace store {
namespace {

using simdjson::dom::element;
using simdjson::dom::element_type;

// Shallower than the JSON library's own nesting limit, so that whatever
// that library refuses for its depth is refused here first.
constexpr size_t kMaxDepth = 64;

bool readText(const element& value, std::string* out) {
  std::string_view text;
  if (value.get_string().get(text) != simdjson::SUCCESS) return false;
  out->assign(text);
  return true;
}

bool readNumber(const element& value, double* out) {
  switch (value.type()) {
    case element_type::DOUBLE: *out = value.get_double().value_unsafe(); return true;
    case element_type::INT64: *out = static_cast<double>(value.get_int64().value_unsafe()); return true;
    case element_type::UINT64: *out = static_cast<double>(value.get_uint64().value_unsafe()); return true;
    default: return false;
  }
}

bool readInt32(const element& value, int* out) {
  int64_t number = 0;
  if (value.type() != element_type::INT64 ||
      value.get_int64().get(number) != simdjson::SUCCESS || number < INT_MIN || number > INT_MAX) {
    return false;
  }
  *out = static_cast<int>(number);
  return true;
}

bool readObject(const element& value, FinanceBalance* out) {
  simdjson::dom::object object;
  if (value.get_object().get(object) != simdjson::SUCCESS) return false;
  *out = FinanceBalance{};
  for (const simdjson::dom::key_value_pair field : object) {
    const std::string_view key = field.key;
    bool ok = true;
    if (key == "serial") {
      ok = readText(field.value, &out->serial);
    } else if (key == "comment") {
      ok = readText(field.value, &out->comment);
    } else if (key == "amount") {
      ok = readNumber(field.value, &out->amount);
    } else if (key == "login") {
      ok = readInt32(field.value, &out->login);
    } else if (key == "isHandle") {
      ok = readInt32(field.value, &out->isHandle);
    } else if (key == "order") {
      ok = readInt32(field.value, &out->order);
    } else if (key == "cmd") {
      ok = readInt32(field.value, &out->cmd);
    } else if (key == "requested") {
      ok = readNumber(field.value, &out->requested);
    }
    if (!ok) return false;
  }
  return true;
}

}  // namespace

class FastHistoryReader::Parser {
 public:
  Parser() { usable_ = parser_.allocate(simdjson::dom::MINIMAL_DOCUMENT_CAPACITY, kMaxDepth) ==
                       simdjson::SUCCESS; }
  // Parses text (copied to a padded buffer); false when it is not JSON.
  bool parse(std::string_view text, element* root) {
    return usable_ && parser_.parse(text.data(), text.size(), true).get(*root) == simdjson::SUCCESS;
  }

 private:
  simdjson::dom::parser parser_;
  bool usable_ = false;
};

FastHistoryReader::FastHistoryReader() : parser_(std::make_unique<Parser>()) {}
FastHistoryReader::~FastHistoryReader() = default;

bool FastHistoryReader::readArray(std::string_view text, std::vector<FinanceBalance>* out) {
  element root;
  simdjson::dom::array array;
  if (!parser_->parse(text, &root) || root.get_array().get(array) != simdjson::SUCCESS) {
    return false;
  }
  out->reserve(out->size() + array.size());
  for (const element item : array) {
    FinanceBalance record;
    if (!readObject(item, &record)) return false;
    out->push_back(std::move(record));
  }
  return true;
}

bool FastHistoryReader::readRecord(std::string_view text, FinanceBalance* out) {
  element root;
  return parser_->parse(text, &root) && readObject(root, out);
}

}  // namespace store
