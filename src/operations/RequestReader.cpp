#include "operations/RequestReader.h"

#include <cmath>
#include <limits>

#include "operations/ReplyCodes.h"
#include "util/Console.h"
#include "util/TextConvert.h"

namespace operations {

void RequestReader::text(const char* key, std::string* out, const char*) {
  *out = value(key).asString();
}

void RequestReader::int64(const char* key, std::int64_t* out, const char*, Check check) {
  *out = value(key).asInt64();
  admit(key, *out, check);
}

void RequestReader::int32(const char* key, int* out, const char*, Check check) {
  *out = value(key).asInt();
  admit(key, std::int64_t{*out}, check);
}

void RequestReader::real(const char* key, double* out, const char*, Check check) {
  *out = value(key).asDouble();
  admit(key, *out, check);
}

void RequestReader::routeType(std::string* out, const char*) {
  const Json::Value& v = value("routeType");
  *out = v.isNull() ? std::string() : v.asString();
}

void RequestReader::convertedText(const char* key, std::string* out, const char*) {
  *out = util::toServerText(value(key).asString());
}

void RequestReader::truncatedInt32(const char* key, int* out, const char*, Check check) {
  const double v = std::trunc(value(key).asDouble());
  if (!(v >= std::numeric_limits<int>::min() && v <= std::numeric_limits<int>::max())) {
    Json::throwLogicError(std::string(key) + ": real number out of the int range");
  }
  *out = static_cast<int>(v);
  admit(key, std::int64_t{*out}, check);
}

void RequestReader::millisAsSeconds(const char* key, int* out, const char*) {
  const std::int64_t seconds = value(key).asInt64() / 1000;
  if (seconds < std::numeric_limits<int>::min() || seconds > std::numeric_limits<int>::max()) {
    Json::throwLogicError(std::string(key) + ": seconds out of the int range");
  }
  *out = static_cast<int>(seconds);
}

void RequestReader::routedReal(const char* key, double* out, const char*, Check check) {
  *out = value("routeType").isNull() ? 0.0 : value(key).asDouble();
  admit(key, *out, check);
}

void RequestReader::intList(const char* key, std::vector<int>* out, const char*,
                            Check check) {
  const Json::Value& v = value(key);
  const Json::ArrayIndex n = v.size();
  out->clear();
  out->reserve(n);
  for (Json::ArrayIndex i = 0; i < n; ++i) {
    out->push_back(v[i].asInt());
    admit(key, std::int64_t{out->back()}, check);
  }
}

void RequestReader::admit(const char* key, std::int64_t value, Check check) {
  if (refusal_.code != 0) return;
  const std::int64_t lowest = check == Check::kLogin ? 1 : 0;
  if ((check == Check::kLogin || check == Check::kAgent) &&
      (value < lowest || value > kMaxLogin)) {
    refusal_ = {codes::kLoginOutOfRange,
                util::formatText("%s %lld is outside %lld to %lld", key,
                                 static_cast<long long>(value), static_cast<long long>(lowest),
                                 static_cast<long long>(kMaxLogin))};
  }
}

void RequestReader::admit(const char* key, double value, Check check) {
  if (refusal_.code != 0 || check != Check::kMoney) return;
  if (!std::isfinite(value) || std::fabs(value) >= kMoneyLimit) {
    refusal_ = {codes::kAmountOutOfRange,
                util::formatText("%s %g is not a finite amount below 10^13", key, value)};
  }
}

}  // namespace operations
