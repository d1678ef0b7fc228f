#include "messaging/BrokerAddress.h"

#include <atomic>
#include <cctype>

#include "util/Console.h"
#include "util/Log.h"

namespace messaging {
namespace {

std::string trim(const std::string& s) {
  size_t b = 0;
  size_t e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

bool startsWith(const std::string& s, const char* prefix) {
  return s.rfind(prefix, 0) == 0;
}

// One amqp:// or amqps:// member with a host and a numeric port; options
// after '?' are dropped. Empty result when the member is not acceptable.
std::string readMember(const std::string& text) {
  std::string url = trim(text);
  size_t query = url.find('?');
  if (query != std::string::npos) url.erase(query);
  size_t rest;
  if (startsWith(url, "amqp://")) {
    rest = 7;
  } else if (startsWith(url, "amqps://")) {
    rest = 8;
  } else {
    return std::string();
  }
  std::string hostPort = url.substr(rest);
  if (!hostPort.empty() && hostPort.back() == '/') hostPort.pop_back();
  size_t colon = hostPort.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == hostPort.size()) {
    return std::string();
  }
  for (size_t i = colon + 1; i < hostPort.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(hostPort[i]))) return std::string();
  }
  if (hostPort.size() - colon - 1 > 5) return std::string();
  for (char c : hostPort.substr(0, colon)) {
    if (c == '/' || c == '@' || std::isspace(static_cast<unsigned char>(c))) {
      return std::string();
    }
  }
  return url.substr(0, rest) + hostPort;
}

}  // namespace

bool parseBrokerAddress(const std::string& text, BrokerAddress* out) {
  std::string s = trim(text);
  out->urls.clear();
  out->failover = false;
  std::string body;
  if (startsWith(s, "failover:")) {
    body = s.substr(9);
    if (startsWith(body, "//")) body.erase(0, 2);
    if (body.empty() || body[0] != '(') return false;
    size_t close = body.find(')');
    if (close == std::string::npos) return false;
    std::string tail = body.substr(close + 1);
    if (!tail.empty() && tail[0] != '?') return false;
    body = body.substr(1, close - 1);
    out->failover = true;
    size_t start = 0;
    while (start <= body.size()) {
      size_t comma = body.find(',', start);
      std::string member =
          body.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
      std::string url = readMember(member);
      if (url.empty()) return false;
      out->urls.push_back(url);
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
    return !out->urls.empty();
  }
  std::string url = readMember(s);
  if (url.empty()) return false;
  out->urls.push_back(url);
  return true;
}

void reportUnsupportedBrokerAddress(const std::string& text) {
  static std::atomic<bool> reported{false};
  if (reported.exchange(true)) return;
  util::printAndLog(
      "brokerURI \"%s\" is not supported: use amqp://host:port, amqps://host:port "
      "or failover:(amqp://host:port,...) (AMQP 1.0; OpenWire tcp:// and ssl:// are not spoken)\n",
      text.c_str());
}

}  // namespace messaging
