#include "operations/RequestReader.h"

#include <cmath>
#include <limits>

#include "util/TextConvert.h"

namespace operations {

void RequestReader::text(const char* key, std::string* out) {
  *out = value(key).asString();
}

void RequestReader::int64(const char* key, std::int64_t* out) {
  *out = value(key).asInt64();
}

void RequestReader::int32(const char* key, int* out) {
  *out = value(key).asInt();
}

void RequestReader::real(const char* key, double* out) {
  *out = value(key).asDouble();
}

void RequestReader::routeType(std::string* out) {
  const Json::Value& v = value("routeType");
  *out = v.isNull() ? std::string() : v.asString();
}

void RequestReader::convertedText(const char* key, std::string* out) {
  *out = util::toServerText(value(key).asString());
}

void RequestReader::truncatedInt32(const char* key, int* out) {
  const double v = std::trunc(value(key).asDouble());
  if (!(v >= std::numeric_limits<int>::min() && v <= std::numeric_limits<int>::max())) {
    Json::throwLogicError(std::string(key) + ": real number out of the int range");
  }
  *out = static_cast<int>(v);
}

void RequestReader::millisAsSeconds(const char* key, int* out) {
  const std::int64_t seconds = value(key).asInt64() / 1000;
  if (seconds < std::numeric_limits<int>::min() || seconds > std::numeric_limits<int>::max()) {
    Json::throwLogicError(std::string(key) + ": seconds out of the int range");
  }
  *out = static_cast<int>(seconds);
}

void RequestReader::routedReal(const char* key, double* out) {
  *out = value("routeType").isNull() ? 0.0 : value(key).asDouble();
}

void RequestReader::intList(const char* key, std::vector<int>* out) {
  const Json::Value& v = value(key);
  const Json::ArrayIndex n = v.size();
  out->clear();
  out->reserve(n);
  for (Json::ArrayIndex i = 0; i < n; ++i) out->push_back(v[i].asInt());
}

}  // namespace operations
