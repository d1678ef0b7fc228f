// The operation context's manager call and the binding of an operation to
// the dispatcher's shape.
#include <gtest/gtest.h>

#include "test_util/ReplyRecorder.h"
#include <json/json.h>

#include <string>
#include <vector>

#include "FakeManager.h"
#include "config/Config.h"
#include "operations/OperationContext.h"
#include "operations/Reply.h"
#include "server/ManagerLink.h"
#include "store/FinanceBalanceStore.h"
#include "store/UserInfoStore.h"

namespace {

using testing_support::FakeManager;

using Recorder = test_util::ReplyRecorder;

TEST(CallManager, ReportsWhetherTheCallRan) {
  FakeManager fake;
  fake.script("UserRecordNew", {-1});
  server::ManagerLink link(&fake);
  int result = 99;
  mt::UserRecord user{};
  // A negative result is a result like any other, not "no interface".
  EXPECT_TRUE(operations::callManager(link, &result,
                                      [&](mt::CManagerInterface& m) {
                                        return m.UserRecordNew(&user);
                                      }));
  EXPECT_EQ(result, -1);

  link.release();
  result = 99;
  EXPECT_FALSE(operations::callManager(link, &result,
                                       [&](mt::CManagerInterface& m) {
                                         return m.UserRecordNew(&user);
                                       }));
  EXPECT_EQ(result, 99);
  EXPECT_EQ(fake.count("UserRecordNew"), 1);
}

int echoLogin(operations::OperationContext& ctx, const Json::Value& request,
              messaging::ReplySender& reply) {
  Json::Value data(Json::objectValue);
  data["login"] = request["login"];
  data["hasInterfaces"] = ctx.hasInterfaces();
  return operations::sendReply(reply, data, 200);
}

TEST(BindOperation, RunsTheOperationOnTheContext) {
  server::ManagerLink normal(static_cast<mt::CManagerInterface*>(nullptr));
  server::ManagerLink pumping(static_cast<mt::CManagerInterface*>(nullptr));
  store::FinanceBalanceStore balances("unused-financeBalanceHistory");
  store::UserInfoStore users("unused-userInfo");
  config::ConfigRecord config;
  operations::OperationContext ctx{normal, pumping, balances, users, config};
  auto operation = operations::bindOperation(ctx, &echoLogin);
  Json::Value request(Json::objectValue);
  request["login"] = 5;
  Recorder reply;
  operation(request, reply);
  ASSERT_EQ(reply.sent.size(), 1u);
  EXPECT_EQ(reply.sent[0],
            "{\"code\":200,\"data\":{\"hasInterfaces\":false,\"login\":5},"
            "\"msg\":\"success\"}\n");
}

}  // namespace
