// The balance-history readers' agreement, for the store harnesses: what the
// fast reader accepts, the JSON library must read to the same records.
#ifndef MT4BRIDGE_TESTS_FUZZ_HISTORY_AGREEMENT_H_
#define MT4BRIDGE_TESTS_FUZZ_HISTORY_AGREEMENT_H_

#include <json/json.h>

#include <cmath>
#include <limits>
#include <string>

#include "FuzzSupport.h"
#include "store/FinanceBalance.h"
#include "util/Json.h"

namespace fuzz {

// One element as the JSON library's conversions read it (the loader's
// fallback); false when it is not an object or a value does not convert.
inline bool libraryRecord(const Json::Value& element, store::FinanceBalance* r) {
  if (!element.isObject()) return false;
  try {
    *r = store::FinanceBalance{element.get("serial", "").asString(),
                               element.get("comment", "").asString(),
                               element.get("amount", 0).asDouble(),
                               element.get("login", 0).asInt(),
                               element.get("isHandle", 0).asInt(),
                               element.get("order", 0).asInt(),
                               element.get("cmd", 0).asInt(),
                               element.get("requested", 0).asDouble()};
  } catch (const Json::Exception&) {
    return false;
  }
  return true;
}

inline bool libraryRecord(const std::string& text, store::FinanceBalance* r) {
  Json::Value element;
  return util::parseJson(text, &element) && libraryRecord(element, r);
}

inline std::string describe(const store::FinanceBalance& r) {
  return "serial=" + r.serial + " comment=" + r.comment + " amount=" +
         std::to_string(r.amount) + " login=" + std::to_string(r.login) +
         " isHandle=" + std::to_string(r.isHandle) + " order=" + std::to_string(r.order) +
         " cmd=" + std::to_string(r.cmd) + " requested=" + std::to_string(r.requested);
}

// Equal field by field; amounts compare as numbers (-0 equals 0).
inline bool sameRecord(const store::FinanceBalance& a, const store::FinanceBalance& b) {
  return a.serial == b.serial && a.comment == b.comment && a.amount == b.amount &&
         a.login == b.login && a.isHandle == b.isHandle && a.order == b.order &&
         a.cmd == b.cmd && a.requested == b.requested;
}

inline void requireSame(const char* property, const store::FinanceBalance& expected,
                        const store::FinanceBalance& got) {
  if (!sameRecord(expected, got)) fail(property, describe(expected) + "\n" + describe(got));
}

// The amount as it reads back after a save: an infinite one is written as
// the largest finite number of its sign.
inline double savedAmount(double amount) {
  if (std::isinf(amount)) {
    return amount > 0 ? std::numeric_limits<double>::max() : std::numeric_limits<double>::lowest();
  }
  return amount;
}

}  // namespace fuzz

#endif  // MT4BRIDGE_TESTS_FUZZ_HISTORY_AGREEMENT_H_
