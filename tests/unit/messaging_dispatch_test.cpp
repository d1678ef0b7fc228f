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
using messaging::setRoute;
using messaging::writeReply;

using Recorder = test_util::ReplyRecorder;

// Every route installed with a recording operation; each call records the
// route number that served it.
class DispatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    util::setLogDirectory(dir_.file("log"));
    config::ConfigRecord cfg;
    for (const config::QueueInfo& q : config::queueTable()) {
      cfg.*q.requestName = std::string("req.") + q.requestKey;
      cfg.*q.replyName = std::string("rep.") + q.replyKey;
    }
    config_ = cfg;
    config::setCurrent(cfg);
    for (int n = 1; n <= config::kQueueCount; ++n) {
      setRoute(n, [this, n](const Json::Value& request, ReplySender& reply) {
        served.push_back(n);
        reply.send(writeReply(request, 200));
      }, &replies_[n - 1]);
    }
  }
  void TearDown() override {
    messaging::clearRoutes();
    config::setCurrent(config::ConfigRecord());
    util::setLogDirectory("../log/mt4");
  }

  void rename(int number, const std::string& name) {
    config_.*config::queueInfo(number).requestName = name;
    config::setCurrent(config_);
  }
  Recorder& replies(int number) { return replies_[number - 1]; }

  std::vector<int> served;
  config::ConfigRecord config_;

 private:
  test_util::TempDir dir_;
  Recorder replies_[config::kQueueCount];
};

TEST_F(DispatchTest, QueueNameSelectsTheRouteAndItsReplyProducer) {
  for (const config::QueueInfo& q : config::queueTable()) {
    served.clear();
    dispatchRequest(std::string("req.") + q.requestKey, R"({"serial":"s1"})");
    ASSERT_EQ(served, std::vector<int>{q.number}) << q.requestKey;
    ASSERT_EQ(replies(q.number).sent.size(), 1u) << q.requestKey;
  }
}

TEST_F(DispatchTest, SharedQueueNameIsServedByTheEarlierRouteOnly) {
  rename(13, config_.symbolTradeUpdate);  // symboGtcPendingUpdate = symbolTradeUpdate
  for (int i = 0; i < 3; ++i) dispatchRequest("req.symbolTradeUpdate", "{}");
  EXPECT_EQ(served, (std::vector<int>{12, 12, 12}));
  EXPECT_TRUE(replies(13).sent.empty());

  // Routing order, not queue order: groupLeverage (7) comes before emailSend (6).
  served.clear();
  rename(6, "shared");
  rename(7, "shared");
  dispatchRequest("shared", "{}");
  EXPECT_EQ(served, std::vector<int>{7});
}

TEST_F(DispatchTest, UnparsableUnroutableAndNonObjectRequestsAreDropped) {
  for (const char* text : {"[1,2]", "not json", "17", "\"text\"", "", "{\"a\":", "NOT A TEXTMESSAGE!",
                           "null"}) {
    dispatchRequest("req.userRecordCreate", text);
  }
  dispatchRequest("no.such.queue", R"({"serial":"1"})");
  dispatchRequest("", R"({"serial":"1"})");
  rename(1, "");
  dispatchRequest("", R"({"serial":"1"})");  // an unset name matches nothing
  EXPECT_TRUE(served.empty());
  for (int n = 1; n <= config::kQueueCount; ++n) EXPECT_TRUE(replies(n).sent.empty());
}

TEST_F(DispatchTest, ConversionErrorSendsNoReplyAndNextRequestIsServed) {
  setRoute(4, [this](const Json::Value& request, ReplySender& reply) {
    served.push_back(4);
    int login = request["login"].asInt();  // throws for text that is no number
    reply.send(writeReply(Json::Value(login), 200));
  }, &replies(4));
  dispatchRequest("req.tradeTransInfo", R"({"login":"abc"})");
  dispatchRequest("req.tradeTransInfo", R"({"login":{"x":1}})");
  EXPECT_TRUE(replies(4).sent.empty());
  dispatchRequest("req.tradeTransInfo", R"({"login":5})");
  EXPECT_EQ(served, (std::vector<int>{4, 4, 4}));
  ASSERT_EQ(replies(4).sent.size(), 1u);

  // Any standard exception is contained the same way.
  setRoute(5, [](const Json::Value&, ReplySender&) { throw std::runtime_error("boom"); },
           &replies(5));
  dispatchRequest("req.userLeverageUpdate", "{}");
  EXPECT_TRUE(replies(5).sent.empty());
}

TEST_F(DispatchTest, RouteWithoutOperationIsDroppedWithoutReply) {
  setRoute(9, nullptr, &replies(9));
  dispatchRequest("req.closeUserTrades", R"({"serial":17})");
  EXPECT_TRUE(replies(9).sent.empty());
}

TEST_F(DispatchTest, RouteWithoutReplyProducerDoesNotStopTheConsumer) {
  setRoute(2, nullptr, nullptr);
  dispatchRequest("req.userRecordUpdate", "{}");
  dispatchRequest("req.userRecordCreate", "{}");
  EXPECT_EQ(served, std::vector<int>{1});
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
  }
}

}  // namespace
