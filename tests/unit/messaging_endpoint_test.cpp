#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "config/Config.h"
#include <proton/message.hpp>
#include <proton/message_id.hpp>

#include "config/QueueTable.h"
#include "messaging/AnsweredRequests.h"
#include "messaging/EventLoop.h"
#include "messaging/QueueSet.h"
#include "messaging/ReplyProducer.h"
#include "test_util/TempDir.h"
#include "util/Log.h"

namespace {

using messaging::ReplyProducer;

class EndpointTest : public ::testing::Test {
 protected:
  void SetUp() override { util::setLogDirectory(dir_.file("log")); }
  void TearDown() override {
    util::setLogDirectory("../log/mt4");
    config::setCurrent(config::ConfigRecord());
  }
  // The configuration of broker with request and reply names where given.
  void configure(const std::string& broker,
                 std::initializer_list<std::pair<int, const char*>> requests,
                 std::initializer_list<std::pair<int, const char*>> replies) {
    config::ConfigRecord cfg;
    cfg.brokerURI = broker;
    for (auto [number, name] : requests) cfg.*config::queueInfo(number).requestName = name;
    for (auto [number, name] : replies) cfg.*config::queueInfo(number).replyName = name;
    config::setCurrent(cfg);
  }
  std::string log() {
    std::string all;
    for (const auto& e : std::filesystem::directory_iterator(dir_.file("log"))) {
      all += dir_.read("log/" + e.path().filename().string());
    }
    return all;
  }

 private:
  test_util::TempDir dir_;
};

TEST_F(EndpointTest, UnopenedProducerClosesTwiceAndSendOnlyReports) {
  ReplyProducer producer;
  producer.close();
  producer.close();
  testing::internal::CaptureStdout();
  // Not an undelivered reply: there is no queue to deliver it to (and it
  // was tried once, without pauses).
  EXPECT_TRUE(producer.send("{\"code\":200}\n"));
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "DestURI:,reply not sent: the producer is not open\n");
}

TEST_F(EndpointTest, EmptyQueueNamesAreSkippedWithTheirLines) {
  configure("amqp://127.0.0.1:5672", {}, {});
  messaging::QueueSet queues({});
  testing::internal::CaptureStdout();
  EXPECT_EQ(queues.openReplies(), 1);
  queues.startRequests();
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("producer destUrl(config.emailSendCallback) start\n"
                     "producer destUrl(config.emailSendCallback) is null\n"),
            std::string::npos) << out;
  EXPECT_NE(out.find("consumer destUrl(config.emailSend) is null\n"), std::string::npos) << out;
}

TEST_F(EndpointTest, OpenWireAddressFailsTheProducerAndStartsNoConsumer) {
  configure("tcp://127.0.0.1:61616", {{2, "q.request"}}, {{1, "q.reply"}, {2, "q.other"}});
  messaging::QueueSet queues({});
  testing::internal::CaptureStdout();
  EXPECT_EQ(queues.openReplies(), 0);
  queues.startRequests();
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("producer destUrl(config.userRecordCreateCallback )fail\n"), std::string::npos)
      << out;
  EXPECT_EQ(out.find("config.userRecordUpdateCallback"), std::string::npos) << out;  // not tried
  EXPECT_EQ(out.find("consumer destUrl(config.userRecordUpdate) success"), std::string::npos)
      << out;
  EXPECT_NE(log().find("Producer destURI:q.reply init fail\n"), std::string::npos);
}

TEST_F(EndpointTest, UnreachableBrokerFailsOpenAndLeavesTheProducerClosable) {
  messaging::EventLoop loop;
  ReplyProducer producer;
  testing::internal::CaptureStdout();
  // Nothing listens on port 1.
  EXPECT_EQ(producer.open(loop, "amqp://127.0.0.1:1", "q.reply"), -1);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("Producer destURI:q.reply open failed: "), std::string::npos) << out;
  EXPECT_NE(log().find("Producer destURI:q.reply init fail\n"), std::string::npos);
  producer.close();
  producer.close();
  loop.stop();
}

TEST_F(EndpointTest, OneConsumerPerQueueNameAndStopIsIdempotent) {
  // Nothing listens on port 1: the consumers start, then find no broker.
  configure("amqp://127.0.0.1:1", {{6, "q.request"}, {7, "q.request"}, {9, "q.other"}}, {});
  messaging::QueueSet queues({});
  testing::internal::CaptureStdout();
  queues.startRequests();
  queues.stop();
  queues.stop();
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("consumer destUrl(config.emailSend) success\n"), std::string::npos) << out;
  EXPECT_NE(out.find("consumer destUrl(config.groupLeverage) already consumed: q.request\n"),
            std::string::npos) << out;
  EXPECT_NE(out.find("consumer destUrl(config.closeUserTrades) success\n"), std::string::npos)
      << out;
}

TEST(AnsweredRequests, KeysOfRedeliveriesAndTheLastThousandAnswers) {
  std::string key;
  proton::message message;
  EXPECT_FALSE(messaging::requestKey(message, "{}", &key));  // first delivery, no id
  message.delivery_count(1);
  EXPECT_TRUE(messaging::requestKey(message, "{}", &key));
  EXPECT_EQ(key, "text:{}");
  message.id(proton::message_id(std::string("ID:broker-1")));
  EXPECT_TRUE(messaging::requestKey(message, "{}", &key));
  EXPECT_EQ(key, "id:ID:broker-1");

  messaging::AnsweredRequests answered;
  for (size_t i = 0; i <= messaging::AnsweredRequests::kCapacity; ++i) {
    answered.remember("k" + std::to_string(i), messaging::Answer{i == 1, "r"});
  }
  EXPECT_EQ(answered.find("k0"), nullptr);  // the oldest is forgotten
  ASSERT_NE(answered.find("k1"), nullptr);
  EXPECT_TRUE(answered.find("k1")->undelivered);
  answered.remember("k1", messaging::Answer());  // replaced, not added twice
  EXPECT_FALSE(answered.find("k1")->undelivered);
  answered.remember("k1001", messaging::Answer());  // k1 is now the oldest
  EXPECT_EQ(answered.find("k1"), nullptr);
  EXPECT_NE(answered.find("k2"), nullptr);
}

}  // namespace
