#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "config/Config.h"
#include "messaging/AsyncConsumer.h"
#include "messaging/AsyncProducer.h"
#include "messaging/SendOutcome.h"
#include "test_util/TempDir.h"
#include "util/Log.h"

namespace {

using messaging::AsyncProducer;

class EndpointTest : public ::testing::Test {
 protected:
  void SetUp() override { util::setLogDirectory(dir_.file("log")); }
  void TearDown() override { util::setLogDirectory("../log/mt4"); }
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
  AsyncProducer producer;
  producer.close();
  producer.close();
  messaging::beginRequestOutcome();
  testing::internal::CaptureStdout();
  producer.send("{\"code\":200}\n");
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "DestURI:,reply not sent: the producer is not open\n");
  // Not an undelivered reply: there is no queue to deliver it to (and it
  // was tried once, without pauses).
  EXPECT_FALSE(messaging::replyUndelivered(nullptr));
}

TEST_F(EndpointTest, EmptyReplyQueueIsSkippedWithStartAndIsNullLines) {
  AsyncProducer producer;
  testing::internal::CaptureStdout();
  EXPECT_EQ(messaging::createProducer("amqp://127.0.0.1:5672", "", "config.emailSendCallback",
                                      &producer),
            1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "producer destUrl(config.emailSendCallback) start\n"
            "producer destUrl(config.emailSendCallback) is null\n");
  testing::internal::CaptureStdout();
  EXPECT_EQ(messaging::createConsumer("amqp://127.0.0.1:5672", "", "config.emailSend"), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "consumer destUrl(config.emailSend) is null\n");
}

TEST_F(EndpointTest, OpenWireAddressFailsTheProducerAndStartsNoConsumer) {
  AsyncProducer producer;
  testing::internal::CaptureStdout();
  EXPECT_EQ(messaging::createProducer("tcp://127.0.0.1:61616", "q.reply", "config.x", &producer),
            0);
  EXPECT_EQ(messaging::createConsumer("tcp://127.0.0.1:61616", "q.request", "config.y"), 1);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("producer destUrl(config.x )fail\n"), std::string::npos) << out;
  EXPECT_EQ(out.find("consumer destUrl(config.y) success"), std::string::npos) << out;
  EXPECT_NE(log().find("Producer destURI:q.reply init fail\n"), std::string::npos);
  producer.close();
}

TEST_F(EndpointTest, UnreachableBrokerFailsOpenAndLeavesTheProducerClosable) {
  AsyncProducer producer;
  producer.configure("amqp://127.0.0.1:1", "q.reply");  // nothing listens on port 1
  testing::internal::CaptureStdout();
  EXPECT_EQ(producer.open(), -1);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("Producer destURI:q.reply open failed: "), std::string::npos) << out;
  EXPECT_NE(log().find("Producer destURI:q.reply init fail\n"), std::string::npos);
  producer.close();
  producer.close();
}

TEST_F(EndpointTest, StoppedConsumersLeaveTheirQueueFreeAndStopIsIdempotent) {
  messaging::stopConsumers();  // none yet
  testing::internal::CaptureStdout();
  // Nothing listens on port 1: the consumer starts, then finds no broker.
  EXPECT_EQ(messaging::createConsumer("amqp://127.0.0.1:1", "q.request", "config.a"), 1);
  EXPECT_EQ(messaging::createConsumer("amqp://127.0.0.1:1", "q.request", "config.b"), 1);
  messaging::stopConsumers();
  messaging::stopConsumers();
  EXPECT_EQ(messaging::createConsumer("amqp://127.0.0.1:1", "q.request", "config.c"), 1);
  messaging::stopConsumers();
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("consumer destUrl(config.a) success\n"), std::string::npos) << out;
  EXPECT_NE(out.find("consumer destUrl(config.b) already consumed: q.request\n"),
            std::string::npos) << out;
  EXPECT_NE(out.find("consumer destUrl(config.c) success\n"), std::string::npos) << out;
}

}  // namespace
