#include <gtest/gtest.h>

#include "test_util/ReplyRecorder.h"

#include <string>
#include <vector>

#include "config/Config.h"
#include "config/QueueTable.h"
#include "messaging/Dispatch.h"
#include "messaging/ReplyWriter.h"
#include "test_util/TempDir.h"
#include "util/Log.h"

namespace {

using messaging::dispatchRequest;
using messaging::ReplySender;
using messaging::writeReply;

using Recorder = test_util::ReplyRecorder;

// A request queue's operation that records each request it is given.
class DispatchTest : public ::testing::Test {
 protected:
  void SetUp() override { util::setLogDirectory(dir_.file("log")); }
  void TearDown() override { util::setLogDirectory("../log/mt4"); }

  bool dispatch(const std::string& text) { return dispatchRequest("req", operation, replies, text); }

  std::vector<std::string> served;
  messaging::Operation operation = [this](const Json::Value& request, ReplySender& reply) {
    served.push_back(request["serial"].asString());
    reply.send(writeReply(request, 200));
  };
  Recorder replies;

 private:
  test_util::TempDir dir_;
};

TEST(RouteFor, FirstRouteInRoutingOrderWithTheQueueName) {
  config::ConfigRecord cfg;
  for (const config::QueueInfo& q : config::queueTable()) {
    cfg.*q.requestName = std::string("req.") + q.requestKey;
  }
  for (const config::QueueInfo& q : config::queueTable()) {
    EXPECT_EQ(config::routeFor(cfg, std::string("req.") + q.requestKey), q.number);
  }
  cfg.symboGtcPendingUpdate = cfg.symbolTradeUpdate;
  EXPECT_EQ(config::routeFor(cfg, cfg.symbolTradeUpdate), 12);
  // Routing order, not queue order: groupLeverage (7) comes before emailSend (6).
  cfg.emailSend = cfg.groupLeverage = "shared";
  EXPECT_EQ(config::routeFor(cfg, "shared"), 7);
  EXPECT_EQ(config::routeFor(cfg, "no.such.queue"), 0);
  cfg.userRecordCreate = "";
  EXPECT_EQ(config::routeFor(cfg, ""), 0);  // an unset name matches nothing
}

TEST_F(DispatchTest, UnparsableAndNonObjectRequestsAreDropped) {
  for (const char* text : {"[1,2]", "not json", "17", "\"text\"", "", "{\"a\":", "NOT A TEXTMESSAGE!",
                           "null"}) {
    EXPECT_FALSE(dispatch(text)) << text;  // not taken: rejected to the dead-letter queue
  }
  EXPECT_TRUE(served.empty());
  EXPECT_TRUE(replies.sent.empty());
  EXPECT_TRUE(dispatch(R"({"serial":"s1"})"));
  EXPECT_EQ(served, std::vector<std::string>{"s1"});
  EXPECT_EQ(replies.sent.size(), 1u);
}

TEST_F(DispatchTest, ConversionErrorSendsNoReplyAndNextRequestIsServed) {
  operation = [this](const Json::Value& request, ReplySender& reply) {
    served.push_back("4");
    int login = request["login"].asInt();  // throws for text that is no number
    reply.send(writeReply(Json::Value(login), 200));
  };
  EXPECT_FALSE(dispatch(R"({"login":"abc"})"));
  EXPECT_FALSE(dispatch(R"({"login":{"x":1}})"));
  EXPECT_TRUE(replies.sent.empty());
  dispatch(R"({"login":5})");
  EXPECT_EQ(served.size(), 3u);
  ASSERT_EQ(replies.sent.size(), 1u);

  // Any standard exception is contained the same way.
  operation = [](const Json::Value&, ReplySender&) { throw std::runtime_error("boom"); };
  dispatch("{}");
  EXPECT_EQ(replies.sent.size(), 1u);
}

TEST_F(DispatchTest, RouteWithoutOperationIsDroppedWithoutReply) {
  operation = nullptr;
  EXPECT_FALSE(dispatch(R"({"serial":17})"));
  EXPECT_TRUE(replies.sent.empty());
}

TEST(ReplyWriter, CompactSortedAtEveryLevelWithFinalLineFeed) {
  Json::Value data(Json::objectValue);
  data["serial"] = "17";
  data["login"] = 1001;
  data["routeType"] = "A";
  data["nested"]["z"] = 1;
  data["nested"]["a"] = Json::Value(Json::nullValue);
  data["nested"]["B"] = "b";
  EXPECT_EQ(writeReply(data, 200),
            "{\"code\":200,\"data\":{\"login\":1001,\"nested\":{\"B\":\"b\",\"a\":null,\"z\":1},"
            "\"routeType\":\"A\",\"serial\":\"17\"},\"msg\":\"success\"}\n");
}

TEST(ReplyWriter, SuccessExactlyForCode200) {
  Json::Value empty(Json::objectValue);
  EXPECT_EQ(writeReply(empty, 200), "{\"code\":200,\"data\":{},\"msg\":\"success\"}\n");
  for (int code : {0, -1, -2, -1000, -1001, -1002, -1006, -1007, 201, -200}) {
    std::string reply = writeReply(empty, code);
    EXPECT_EQ(reply, "{\"code\":" + std::to_string(code) + ",\"data\":{},\"msg\":\"fail\"}\n");
    EXPECT_EQ(messaging::replyCode(reply), code);
  }
  EXPECT_EQ(messaging::replyCode(writeReply(empty, 200)), 200);
  EXPECT_EQ(messaging::replyCode("{\"data\":{},\"code\":200}"), 0);
}

}  // namespace
