#include "messaging/Dispatch.h"

#include <array>
#include <exception>
#include <mutex>

#include "config/Config.h"
#include "config/QueueTable.h"
#include "util/Console.h"
#include "util/Json.h"
#include "util/Log.h"

namespace messaging {
namespace {

struct Route {
  Operation operation;
  ReplySender* reply = nullptr;
};

struct RouteTable {
  std::mutex mu;
  std::array<Route, config::kQueueCount> routes;
};

RouteTable& table() {
  static RouteTable* t = new RouteTable;  // used until the process ends
  return *t;
}

// Where the replies of a route without a reply producer go.
class NoReply : public ReplySender {
 public:
  void send(const std::string&) override {
    util::consolePrint("reply not sent: the route has no reply producer\n");
  }
};

// The route number for destURI in routing order, 0 when none.
int routeFor(const std::string& destURI) {
  if (destURI.empty()) return 0;
  const config::ConfigRecord& cfg = config::current();
  for (int number : config::routingOrder()) {
    const std::string& name = cfg.*(config::queueInfo(number).requestName);
    if (name == destURI) return number;
  }
  return 0;
}

}  // namespace

void setRoute(int queueNumber, Operation operation, ReplySender* reply) {
  if (queueNumber < 1 || queueNumber > config::kQueueCount) return;
  std::lock_guard<std::mutex> lock(table().mu);
  Route& route = table().routes[static_cast<size_t>(queueNumber - 1)];
  route.operation = std::move(operation);
  route.reply = reply;
}

void clearRoutes() {
  std::lock_guard<std::mutex> lock(table().mu);
  for (Route& route : table().routes) route = Route();
}

std::string envelopeText(const Json::Value& request, const char* key) {
  const Json::Value& value = request[key];
  if (value.isNull()) return std::string();
  return value.asString();
}

void dispatchRequest(const std::string& destURI, const std::string& text) {
  Json::Value request;
  if (!util::parseJson(text, &request) || !request.isObject()) return;
  int number = routeFor(destURI);
  if (number == 0) return;
  Route route;
  {
    std::lock_guard<std::mutex> lock(table().mu);
    route = table().routes[static_cast<size_t>(number - 1)];
  }
  if (!route.operation) {
    util::printAndLog("destURI #%s request not handled: no operation installed\n", destURI.c_str());
    return;
  }
  static NoReply noReply;
  ReplySender& reply = route.reply != nullptr ? *route.reply : noReply;
  try {
    route.operation(request, reply);
  } catch (const Json::Exception& e) {
    util::printAndLog("destURI #%s request not handled: %s\n", destURI.c_str(), e.what());
  } catch (const std::exception& e) {
    util::printAndLog("destURI #%s request not handled: %s\n", destURI.c_str(), e.what());
  }
}

}  // namespace messaging
