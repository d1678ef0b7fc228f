#include "config/Config.h"

#include <cmath>
#include <cstdint>
#include <fstream>
#include <limits>
#include <sstream>

#include "config/QueueTable.h"
#include "util/Json.h"

namespace config {
namespace {

ConfigRecord& record() {
  static ConfigRecord r;
  return r;
}

// Reads a text key: strings as they are, numbers and booleans by their text.
bool readText(const Json::Value& root, const char* key, std::string* out) {
  const Json::Value& v = root[key];
  if (v.isNull()) {
    out->clear();
    return true;
  }
  if (v.isString() || v.isNumeric() || v.isBool()) {
    *out = v.asString();
    return true;
  }
  return false;
}

// Reads an integer key as a 64-bit value: booleans as 0/1, fractions
// truncated toward zero. Texts, objects, arrays and values beyond 64 bits
// are refused.
bool readInt64(const Json::Value& root, const char* key, std::int64_t* out) {
  const Json::Value& v = root[key];
  if (v.isNull()) {
    *out = 0;
    return true;
  }
  if (v.isBool()) {
    *out = v.asBool() ? 1 : 0;
    return true;
  }
  if (v.isInt64()) {
    *out = v.asInt64();
    return true;
  }
  if (v.isUInt64()) return false;  // beyond the signed 64-bit range
  if (v.isDouble()) {
    double d = std::trunc(v.asDouble());
    if (!std::isfinite(d) || d < -9223372036854775808.0 ||
        d >= 9223372036854775808.0) {
      return false;
    }
    *out = static_cast<std::int64_t>(d);
    return true;
  }
  return false;
}

bool readInt32(const Json::Value& root, const char* key, int* out) {
  std::int64_t v = 0;
  if (!readInt64(root, key, &v)) return false;
  if (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max()) {
    return false;
  }
  *out = static_cast<int>(v);
  return true;
}

}  // namespace

ParseResult parseConfig(const std::string& text, ConfigRecord* out) {
  Json::Value root;
  if (text.empty() || !util::parseJson(text, &root) || !root.isObject()) {
    return ParseResult::kMalformed;
  }
  ConfigRecord r;
  bool ok = readText(root, "server", &r.server) &&
            readInt32(root, "login", &r.login) &&
            readText(root, "password", &r.password) &&
            readText(root, "activeMqName", &r.activeMqName) &&
            readText(root, "activeMqPassword", &r.activeMqPassword) &&
            readText(root, "brokerURI", &r.brokerURI) &&
            readText(root, "brokerCaFile", &r.brokerCaFile);
  for (const QueueInfo& q : queueTable()) {
    ok = ok && readText(root, q.requestKey, &(r.*q.requestName));
  }
  for (const QueueInfo& q : queueTable()) {
    ok = ok && readText(root, q.replyKey, &(r.*q.replyName));
  }
  ok = ok && readText(root, "tradeCancellationCreditTransInfo",
                      &r.tradeCancellationCreditTransInfo);
  std::int64_t pump = 0;
  ok = ok && readInt64(root, "pumpUpdateBidAsk", &pump);
  int hours = 0;
  ok = ok && readInt32(root, "timeZone", &hours);
  if (ok && root.isMember("startupPauseMs") && !root["startupPauseMs"].isNull()) {
    ok = readInt32(root, "startupPauseMs", &r.startupPauseMs) && r.startupPauseMs >= 0;
  }
  ok = ok && readText(root, "metricsAddress", &r.metricsAddress);
  if (ok && root.isMember("logRetentionDays") && !root["logRetentionDays"].isNull()) {
    ok = readInt32(root, "logRetentionDays", &r.logRetentionDays) && r.logRetentionDays >= 0;
  }
  if (!ok) return ParseResult::kMalformed;
  // Stored as the low 32 bits of the 64-bit value.
  r.pumpUpdateBidAsk = static_cast<int>(static_cast<std::uint32_t>(
      static_cast<std::uint64_t>(pump) & 0xFFFFFFFFu));
  std::int64_t seconds = static_cast<std::int64_t>(hours) * 3600;
  if (seconds < std::numeric_limits<int>::min() ||
      seconds > std::numeric_limits<int>::max()) {
    return ParseResult::kMalformed;
  }
  r.timeZone = static_cast<int>(seconds);
  *out = r;
  if (r.server.empty() || r.password.empty() || r.login == 0) {
    return ParseResult::kIncomplete;
  }
  return ParseResult::kOk;
}

int loadConfig() {
  std::ifstream in("config.ini", std::ios::binary);
  std::string text;
  if (in) {
    std::ostringstream buffer;
    buffer << in.rdbuf();
    text = buffer.str();
  }
  return parseConfig(text, &record()) == ParseResult::kOk ? 1 : -1;
}

const ConfigRecord& current() { return record(); }

void setCurrent(const ConfigRecord& r) { record() = r; }

}  // namespace config
