#include "config/Config.h"

#include <cmath>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>
#include <system_error>

#include "config/QueueTable.h"
#include "util/Json.h"

namespace config {
namespace {

constexpr const char* kConfigFile = "config.ini";

// What each kind of key must hold, as the problem lines say it.
constexpr const char* kTextRule = "must be a text or a number, not an object or an array";
constexpr const char* kInt32Rule = "must be a number from -2147483648 to 2147483647";
constexpr const char* kInt64Rule = "must be a number of 64 bits";
constexpr const char* kHoursRule = "must be a number of hours from -596523 to 596523";
constexpr const char* kPauseRule = "must be a number of milliseconds from 0 to 2147483647";
constexpr const char* kDaysRule = "must be a number of days from 0 to 2147483647";
constexpr const char* kBufferRule = "must be a number of events from 1 to 1000000";
constexpr int kBufferMax = 1000000;

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

// The problems found in one settings text: their kinds decide the result,
// and each is kept as a line when the caller asked for them.
class Findings {
 public:
  explicit Findings(std::vector<std::string>* lines) : lines_(lines) {}

  // The text as a whole cannot be read: not JSON, not an object.
  void unreadable(const std::string& line) {
    malformed_ = true;
    add(line);
  }
  // A value of the wrong kind, or out of range.
  void wrongKind(const char* key, const char* rule) {
    malformed_ = true;
    add(std::string(kConfigFile) + ": \"" + key + "\" " + rule);
  }
  // A required value absent or empty.
  void missing(const char* key, const char* how) {
    incomplete_ = true;
    add(std::string(kConfigFile) + ": \"" + key + "\" is " + how);
  }

  ParseResult result() const {
    if (malformed_) return ParseResult::kMalformed;
    return incomplete_ ? ParseResult::kIncomplete : ParseResult::kOk;
  }

 private:
  void add(const std::string& line) {
    if (lines_ != nullptr) lines_->push_back(line);
  }

  std::vector<std::string>* lines_;
  bool malformed_ = false;
  bool incomplete_ = false;
};

void textKey(const Json::Value& root, const char* key, std::string* out, Findings& found) {
  if (!readText(root, key, out)) found.wrongKind(key, kTextRule);
}

// A required text: present and not empty.
void requiredTextKey(const Json::Value& root, const char* key, std::string* out,
                     Findings& found) {
  if (!readText(root, key, out)) {
    found.wrongKind(key, kTextRule);
  } else if (out->empty()) {
    found.missing(key, "missing or empty");
  }
}

// An optional count, min to max: absent or null keeps *out.
void countKey(const Json::Value& root, const char* key, int* out, const char* rule,
              Findings& found, int min = 0, int max = std::numeric_limits<int>::max()) {
  if (root[key].isNull()) return;
  int value = 0;
  if (!readInt32(root, key, &value) || value < min || value > max) {
    found.wrongKind(key, rule);
    return;
  }
  *out = value;
}

// The JSON reader's first error on one line:
// "Line 3, Column 2: Missing ',' or '}' in object declaration".
std::string firstJsonError(const std::string& errors) {
  std::istringstream in(errors);
  std::string line;
  std::string piece;
  while (std::getline(in, piece)) {
    if (piece.rfind("* ", 0) == 0 && !line.empty()) break;  // the next error
    size_t start = piece.find_first_not_of(" *");
    if (start == std::string::npos) continue;
    if (!line.empty()) line += ": ";
    line += piece.substr(start);
  }
  return line;
}

// The working directory, for the lines that say where config.ini was
// looked for.
std::string workingFolder() {
  std::error_code ec;
  std::filesystem::path folder = std::filesystem::current_path(ec);
  if (ec) return ".";
  try {
    return folder.string();
  } catch (const std::exception&) {  // a name the narrow text cannot hold
    return ".";
  }
}

// Reads config.ini from the working directory into *text; false, with one
// line in *problems (when not null), when it is missing or cannot be read.
bool readConfigText(std::string* text, std::vector<std::string>* problems) {
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::status(kConfigFile, ec);
  std::ifstream in;
  if (!ec && std::filesystem::is_regular_file(status)) in.open(kConfigFile, std::ios::binary);
  if (in.is_open()) {
    text->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (!in.bad()) return true;
  }
  if (problems != nullptr) {
    problems->push_back(status.type() == std::filesystem::file_type::not_found
                            ? std::string(kConfigFile) + " not found in " + workingFolder()
                            : std::string(kConfigFile) + " in " + workingFolder() +
                                  " cannot be read");
  }
  return false;
}

}  // namespace

ParseResult parseConfig(const std::string& text, ConfigRecord* out,
                        std::vector<std::string>* problems) {
  Findings found(problems);
  Json::Value root;
  std::string error;
  if (text.empty()) {
    found.unreadable(std::string(kConfigFile) + " is empty");
  } else if (!util::parseJson(text, &root, &error)) {
    found.unreadable(std::string(kConfigFile) + " is not valid JSON: " + firstJsonError(error));
  } else if (!root.isObject()) {
    found.unreadable(std::string(kConfigFile) + " is not a JSON object");
  }
  if (found.result() != ParseResult::kOk) return found.result();

  ConfigRecord r;
  requiredTextKey(root, "server", &r.server, found);
  if (!readInt32(root, "login", &r.login)) {
    found.wrongKind("login", kInt32Rule);
  } else if (r.login == 0) {
    found.missing("login", "missing or 0");
  }
  requiredTextKey(root, "password", &r.password, found);
  textKey(root, "activeMqName", &r.activeMqName, found);
  textKey(root, "activeMqPassword", &r.activeMqPassword, found);
  textKey(root, "brokerURI", &r.brokerURI, found);
  textKey(root, "brokerCaFile", &r.brokerCaFile, found);
  for (const QueueInfo& q : queueTable()) textKey(root, q.requestKey, &(r.*q.requestName), found);
  for (const QueueInfo& q : queueTable()) textKey(root, q.replyKey, &(r.*q.replyName), found);
  textKey(root, "tradeCancellationCreditTransInfo", &r.tradeCancellationCreditTransInfo, found);
  std::int64_t pump = 0;
  if (readInt64(root, "pumpUpdateBidAsk", &pump)) {
    // Stored as the low 32 bits of the 64-bit value.
    r.pumpUpdateBidAsk = static_cast<int>(static_cast<std::uint32_t>(
        static_cast<std::uint64_t>(pump) & 0xFFFFFFFFu));
  } else {
    found.wrongKind("pumpUpdateBidAsk", kInt64Rule);
  }
  int hours = 0;
  const bool hoursRead = readInt32(root, "timeZone", &hours);
  const std::int64_t seconds = static_cast<std::int64_t>(hours) * 3600;
  if (hoursRead && seconds >= std::numeric_limits<int>::min() &&
      seconds <= std::numeric_limits<int>::max()) {
    r.timeZone = static_cast<int>(seconds);
  } else {
    found.wrongKind("timeZone", kHoursRule);
  }
  countKey(root, "startupPauseMs", &r.startupPauseMs, kPauseRule, found);
  textKey(root, "metricsAddress", &r.metricsAddress, found);
  countKey(root, "logRetentionDays", &r.logRetentionDays, kDaysRule, found);
  textKey(root, "serverEvents", &r.serverEvents, found);
  countKey(root, "serverEventsBuffer", &r.serverEventsBuffer, kBufferRule, found, 1, kBufferMax);

  if (found.result() != ParseResult::kMalformed) *out = r;
  return found.result();
}

int loadConfig(std::vector<std::string>* problems) {
  std::string text;
  if (!readConfigText(&text, problems)) return -1;
  return parseConfig(text, &record(), problems) == ParseResult::kOk ? 1 : -1;
}

const ConfigRecord& current() { return record(); }

void setCurrent(const ConfigRecord& r) { record() = r; }

}  // namespace config
