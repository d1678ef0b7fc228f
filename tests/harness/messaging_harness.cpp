// Messaging harness for the end-to-end tests: reads config.ini from the
// working directory, opens the fifteen reply producers and the fifteen
// request consumers like the service does, and serves test routes instead
// of the trading operations:
//   userRecordUpdate (2)          waits request.pauseMs (default 1000) through
//                                 util::pauseMs, then echoes
//   userRecordPasswordUpdate (3)  reads request.login with asInt() (a text
//                                 login raises a conversion error), then echoes;
//                                 with "failReply": true its echo counts as
//                                 undelivered, without being sent
//   symboQuoteDateUpdate (15)     the route table's operation, on a context
//                                 without manager interfaces
//   every other route             echoes
// An echo replies 200 with the request's members, "serial" and "routeType"
// read as envelope texts, and "queue" = the route's number.
// Prints "harness ready" once serving; on SIGTERM or SIGINT stops the
// consumers (requests in progress finish), closes the producers, exits 0.
#include <signal.h>

#include <cstdio>

#include "config/Config.h"
#include "config/QueueTable.h"
#include "messaging/Dispatch.h"
#include "messaging/QueueSet.h"
#include "messaging/ReplyWriter.h"
#include "operations/Routes.h"
#include "server/ManagerLink.h"
#include "store/FinanceBalanceStore.h"
#include "store/UserInfoStore.h"
#include "util/Console.h"
#include "util/Pause.h"

namespace {

// The context of the real route: no manager, stores never saved.
struct NoManagerContext {
  server::ManagerLink normal{static_cast<mt::CManagerInterface*>(nullptr)};
  server::ManagerLink pumping{static_cast<mt::CManagerInterface*>(nullptr)};
  store::FinanceBalanceStore balances{"unused-financeBalanceHistory"};
  store::UserInfoStore users{"unused-userInfo"};
  operations::OperationContext ctx{normal, pumping, balances, users, balances, balances,
                                   config::current()};
};

std::string echoText(int queue, const Json::Value& request) {
  Json::Value data = request;
  data["serial"] = messaging::envelopeText(request, "serial");
  data["routeType"] = messaging::envelopeText(request, "routeType");
  data["queue"] = queue;
  return messaging::writeReply(data, 200);
}

void echo(int queue, const Json::Value& request, messaging::ReplySender& reply) {
  reply.send(echoText(queue, request));
}

messaging::Operation operationFor(int queue) {
  switch (queue) {
    case config::kUserRecordUpdate:
      return [queue](const Json::Value& request, messaging::ReplySender& reply) {
        int ms = request.isMember("pauseMs") ? request["pauseMs"].asInt() : 1000;
        util::pauseMs(ms);
        echo(queue, request, reply);
      };
    case config::kUserRecordPasswordUpdate:
      return [queue](const Json::Value& request, messaging::ReplySender& reply) {
        if (request["failReply"].asBool()) {
          echo(queue, request, reply);  // refused below
          return;
        }
        Json::Value copy = request;
        copy["login"] = request["login"].asInt();
        echo(queue, copy, reply);
      };
    case config::kSymboQuoteDateUpdate: {
      static NoManagerContext noManager;
      return operations::bindOperation(noManager.ctx,
                                       operations::routeTable()[queue - 1].operation);
    }
    default:
      return [queue](const Json::Value& request, messaging::ReplySender& reply) {
        echo(queue, request, reply);
      };
  }
}

}  // namespace

int main() {
  // Signals are taken by sigwait below, never by a handler on another thread.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  if (config::loadConfig() < 0) {
    util::consolePrint("harness: config.ini missing or incomplete\n");
    return 2;
  }
  messaging::QueueSet::Operations operations;
  for (const config::QueueInfo& q : config::queueTable()) {
    operations[static_cast<size_t>(q.number - 1)] = operationFor(q.number);
  }
  messaging::QueueSet queues(std::move(operations));
  queues.refuseReplies(config::kUserRecordPasswordUpdate, [](const std::string& text) {
    return text.find("\"failReply\":true") != std::string::npos;
  });
  if (queues.openReplies() <= 0) {
    util::consolePrint("harness start failed\n");
    return 255;
  }
  queues.startRequests();
  util::consolePrint("harness ready\n");

  int signal = 0;
  sigwait(&stopSignals, &signal);
  util::consolePrint("harness stopping\n");
  queues.stop();
  util::consolePrint("harness stopped\n");
  return 0;
}
