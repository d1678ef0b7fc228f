#include "operations/EchoWriter.h"

namespace operations {

void EchoWriter::text(const char* key, const std::string* value, const char*) {
  data_[key] = *value;
}

void EchoWriter::int64(const char* key, const std::int64_t* value, const char*, Check) {
  data_[key] = Json::Int64(*value);
}

void EchoWriter::int32(const char* key, const int* value, const char*, Check) {
  data_[key] = *value;
}

void EchoWriter::real(const char* key, const double* value, const char*, Check) {
  data_[key] = *value;
}

void EchoWriter::routeType(const std::string* value, const char*) {
  data_["routeType"] = *value;
}

void EchoWriter::intList(const char* key, const std::vector<int>* value, const char*,
                         Check) {
  if (value->empty()) {
    data_[key] = Json::Value(Json::nullValue);
    return;
  }
  Json::Value list(Json::arrayValue);
  for (int v : *value) list.append(v);
  data_[key] = list;
}

}  // namespace operations
