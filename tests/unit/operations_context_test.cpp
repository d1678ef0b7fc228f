// The shape every operation runs in: the manager call through the context,
// the runner's one reply, and the route table.
#include <gtest/gtest.h>
#include <json/json.h>

#include <algorithm>
#include <string>
#include <vector>

#include "operations/OperationRunner.h"
#include "operations/PumpEvent.h"
#include "operations/Routes.h"
#include "operations/accounts/UserRecordCreate.h"
#include "operations/groups/GroupLeverage.h"
#include "operations/symbols/SymbolChanges.h"
#include "server/ManagerResults.h"
#include "test_util/OperationTest.h"

namespace {

struct ProbeEntity {
  std::string serial;
  int login = 0;
  int order = -1;  // reply only
  std::string routeType;

  template <typename Fields>
  void fields(Fields& f) {
    f.text("serial", &serial);
    f.int32("login", &login);
    f.replyInt32("order", &order);
    f.routeType(&routeType);
  }
};

class Runner : public test_util::OperationTest {
 protected:
  // Runs a probe operation whose body answers code after setting the
  // record's order to ticket; counts the body's runs.
  int run(const std::string& request, int code, int ticket = -1,
          const char* line = nullptr) {
    Json::Value parsed;
    EXPECT_TRUE(util::parseJson(request, &parsed));
    return operations::runOperation<ProbeEntity>(
        {25, line}, ctx, parsed, reply, [&](operations::OperationContext&, ProbeEntity& r) {
          ++bodyRuns;
          if (ticket >= 0) r.order = ticket;
          return code;
        });
  }
  int bodyRuns = 0;
};

TEST_F(Runner, OneReplyOnEveryPathAndNoneOnAConversionError) {
  EXPECT_EQ(run(R"({"serial":7,"login":5,"order":99})", 200, 4711), 200);
  EXPECT_EQ(reply.sent.back(),
            "{\"code\":200,\"data\":{\"login\":5,\"order\":4711,\"routeType\":\"\","
            "\"serial\":\"7\"},\"msg\":\"success\"}\n");
  // The request's own "order" is not read: the record's initial value is echoed.
  EXPECT_EQ(run(R"({"serial":"s","order":99,"routeType":"R"})", -65), -65);
  EXPECT_EQ(lastReply()["data"]["order"].asInt(), -1);
  EXPECT_EQ(lastReply()["msg"].asString(), "fail");
  EXPECT_EQ(reply.sent.size(), 2u);
  EXPECT_EQ(pauses, (std::vector<int>{25, 25}));

  EXPECT_THROW(run(R"({"login":"five"})", 200), Json::LogicError);
  EXPECT_EQ(reply.sent.size(), 2u);
  EXPECT_EQ(bodyRuns, 2);
}

TEST_F(Runner, WithoutAnInterfaceAnswersMinusOneAndCallsNothing) {
  for (server::ManagerLink* link : {&pumping, &normal}) {
    link->release();
    testing::internal::CaptureStdout();
    EXPECT_EQ(run(R"({"serial":"n"})", 200, 5, "Probe manager is null\n"), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Probe manager is null\n");
    EXPECT_EQ(lastReply()["data"]["order"].asInt(), -1);
  }
  EXPECT_EQ(bodyRuns, 0);
  EXPECT_EQ(reply.sent.size(), 2u);
  // Release is the only call the fakes saw.
  EXPECT_EQ(normalFake.names(), std::vector<std::string>{"Release"});
  EXPECT_EQ(pumpFake.names(), std::vector<std::string>{"Release"});
}

TEST_F(Runner, ManagerCallsTellAMissingInterfaceApartFromAnyResult) {
  mt::UserRecord user{};
  normalFake.script("UserRecordNew", {1, -1});
  auto create = [&](mt::CManagerInterface& m) { return m.UserRecordNew(&user); };
  operations::CallResult first = ctx.callNormal(create);
  EXPECT_TRUE(first.is(1) && first.in(server::kSuccessZeroOrOne));
  EXPECT_EQ(operations::replyCode(first, server::kSuccessZeroOnly), -1);
  EXPECT_EQ(operations::replyCode(first, server::kSuccessZeroOrOne), 200);
  // A negative result is a result like any other.
  EXPECT_FALSE(ctx.callNormal(create).missingInterface());

  normal.release();
  operations::CallResult none = ctx.callNormal(create);
  EXPECT_TRUE(none.missingInterface());
  EXPECT_FALSE(none.in(util::ResultSet::every()));
  EXPECT_EQ(operations::replyCode(none, server::kSuccessZeroOrOne), -1);
  EXPECT_EQ(normalFake.count("UserRecordNew"), 2);
}

TEST_F(Runner, PumpingReconnectSwitchesToTheServicesHandler) {
  EXPECT_EQ(ctx.reconnectPumping(), 1);
  EXPECT_EQ(pumpFake.pumpHandler(), &operations::pumpEvent);
}

TEST_F(Runner, EveryRouteHasItsOperation) {
  const auto& routes = operations::routeTable();
  for (size_t i = 0; i < routes.size(); ++i) {
    EXPECT_EQ(routes[i].queue->number, static_cast<int>(i) + 1);
    EXPECT_NE(routes[i].operation, nullptr);
  }
  EXPECT_EQ(routes[0].operation, &operations::userRecordCreate);
  EXPECT_EQ(routes[6].operation, &operations::groupLeverage);  // queue 7
  EXPECT_EQ(routes[13].operation, &operations::symboTraderDateUpdate);
  EXPECT_EQ(routes[14].operation, &operations::symboQuoteDateUpdate);
  // A failed MailSend is answered -r (account_change_test): the reference says so.
  const auto& mail = routes[config::kEmailSend - 1].codes;
  EXPECT_TRUE(std::any_of(mail.begin(), mail.end(), [](const operations::CodeRow& row) {
    return row.code == operations::kFailedCallCode;
  }));
}

TEST_F(Runner, WithoutAnInterfaceEveryRouteAnswersMinusOneAndCallsNothing) {
  normal.release();
  normalFake.clearCalls();
  Json::Value request;
  ASSERT_TRUE(util::parseJson(
      R"({"login":42,"serial":"s","type":1,"cmd":6,"openPrice":5,"amount":5,"logins":[42]})",
      &request));
  for (const operations::Route& route : operations::routeTable()) {
    EXPECT_EQ(-1, route.operation(ctx, request, reply)) << route.queue->number;
  }
  EXPECT_EQ(reply.sent.size(), operations::routeTable().size());
  EXPECT_EQ(0, managerCalls());
}

TEST_F(Runner, RetriedCallsEndAtOnceWhenTheLinkHasNoInterface) {
  server::ManagerLink none{static_cast<mt::CManagerInterface*>(nullptr)};
  util::RetryPlan plan;
  plan.attempts = 5;
  plan.pauseMs = 100;
  plan.pauseFirst = true;
  int calls = 0;
  const operations::CallResult got = operations::retryManager(none, plan, [&](mt::CManagerInterface&) {
    ++calls;
    return mt::RET_OK;
  });
  EXPECT_TRUE(got.missingInterface());
  EXPECT_EQ(0, calls);
  EXPECT_EQ((std::vector<int>{100}), pauses);  // the first pause only, no further attempts
}

}  // namespace
