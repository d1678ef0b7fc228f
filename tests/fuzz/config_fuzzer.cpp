// The configuration reader: config.ini's text -> parseConfig, and the
// broker address it names -> parseBrokerAddress, as start-up reads them.
//
// Checked beside the sanitizers:
// - a malformed text leaves the record untouched (never partly read);
// - kOk exactly when server, login and password are all set, and exactly
//   when no problem is told;
// - a record read, written back as a settings object, reads again to the
//   same record with the same result;
// - an accepted broker address gives amqp:// or amqps:// members only, at
//   least one, and one alone unless it is a failover list.
#include <json/json.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "config/Config.h"
#include "config/QueueTable.h"
#include "messaging/BrokerAddress.h"

namespace {

using config::ConfigRecord;
using config::ParseResult;

// Every value of the record, as texts, in a fixed order.
std::vector<std::string> values(const ConfigRecord& r) {
  std::vector<std::string> out = {r.server, std::to_string(r.login), r.password,
                                  r.activeMqName, r.activeMqPassword, r.brokerURI,
                                  r.tradeCancellationCreditTransInfo,
                                  std::to_string(r.pumpUpdateBidAsk), std::to_string(r.timeZone)};
  for (const config::QueueInfo& q : config::queueTable()) {
    out.push_back(r.*q.requestName);
    out.push_back(r.*q.replyName);
  }
  return out;
}

std::string joined(const std::vector<std::string>& texts) {
  std::string out;
  for (const std::string& t : texts) out += t + "|";
  return out;
}

// The record as a settings object (the file gives the time zone in hours).
std::string settingsText(const ConfigRecord& r) {
  Json::Value root(Json::objectValue);
  root["server"] = r.server;
  root["login"] = r.login;
  root["password"] = r.password;
  root["activeMqName"] = r.activeMqName;
  root["activeMqPassword"] = r.activeMqPassword;
  root["brokerURI"] = r.brokerURI;
  for (const config::QueueInfo& q : config::queueTable()) {
    root[q.requestKey] = r.*q.requestName;
    root[q.replyKey] = r.*q.replyName;
  }
  root["tradeCancellationCreditTransInfo"] = r.tradeCancellationCreditTransInfo;
  root["pumpUpdateBidAsk"] = r.pumpUpdateBidAsk;
  root["timeZone"] = r.timeZone / 3600;
  // Texts byte for byte (the reader takes any bytes in a text; the default
  // writer would turn bytes that are not UTF-8 into other characters).
  Json::StreamWriterBuilder writer;
  writer["indentation"] = "";
  writer["emitUTF8"] = true;
  return Json::writeString(writer, root);
}

bool complete(const ConfigRecord& r) {
  return !r.server.empty() && !r.password.empty() && r.login != 0;
}

void checkBrokerAddress(const std::string& uri) {
  messaging::BrokerAddress address;
  if (!messaging::parseBrokerAddress(uri, &address)) return;
  if (address.urls.empty() || (!address.failover && address.urls.size() != 1)) {
    fuzz::fail("an accepted broker address has no member, or several without failover", uri);
  }
  for (const std::string& url : address.urls) {
    if (url.rfind("amqp://", 0) != 0 && url.rfind("amqps://", 0) != 0) {
      fuzz::fail("an accepted broker address has a member that is not AMQP", uri + "\n" + url);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quietConsole();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  ConfigRecord untouched;
  untouched.server = "before";
  untouched.login = 77;
  untouched.userRecordCreate = "before.queue";
  untouched.timeZone = 3600;
  ConfigRecord record = untouched;
  std::vector<std::string> problems;
  const ParseResult result = config::parseConfig(text, &record, &problems);
  if (problems.empty() != (result == ParseResult::kOk)) {
    fuzz::fail("the problems told do not match the result", joined(problems));
  }
  if (result == ParseResult::kMalformed) {
    if (values(record) != values(untouched)) {
      fuzz::fail("a malformed text changed the record", joined(values(record)));
    }
    return 0;
  }
  if ((result == ParseResult::kOk) != complete(record)) {
    fuzz::fail("kOk does not say that server, login and password are set", joined(values(record)));
  }
  const std::string again = settingsText(record);
  ConfigRecord reread;
  if (config::parseConfig(again, &reread) != result || values(reread) != values(record)) {
    fuzz::fail("a record written back does not read again the same", again);
  }
  checkBrokerAddress(record.brokerURI);
  return 0;
}
