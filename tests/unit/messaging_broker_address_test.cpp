#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "messaging/BrokerAddress.h"

namespace {

using messaging::BrokerAddress;
using messaging::parseBrokerAddress;

TEST(BrokerAddress, AcceptsAmqpAmqpsAndFailoverLists) {
  BrokerAddress a;
  ASSERT_TRUE(parseBrokerAddress("amqp://127.0.0.1:5672", &a));
  EXPECT_EQ(a.urls, std::vector<std::string>{"amqp://127.0.0.1:5672"});
  EXPECT_FALSE(a.failover);

  ASSERT_TRUE(parseBrokerAddress(" amqps://broker.example:5671?verifyHost=false ", &a));
  EXPECT_EQ(a.urls, std::vector<std::string>{"amqps://broker.example:5671"});

  ASSERT_TRUE(parseBrokerAddress("failover:(amqp://a:5672, amqps://b:5671)?randomize=false", &a));
  EXPECT_TRUE(a.failover);
  EXPECT_EQ(a.urls, (std::vector<std::string>{"amqp://a:5672", "amqps://b:5671"}));

  ASSERT_TRUE(parseBrokerAddress("failover://(amqp://a:1)", &a));
  EXPECT_TRUE(a.failover);
  EXPECT_EQ(a.urls, std::vector<std::string>{"amqp://a:1"});
}

TEST(BrokerAddress, RefusesOpenWireAndMalformedForms) {
  BrokerAddress a;
  for (const char* text :
       {"tcp://127.0.0.1:61616", "ssl://h:61617", "nio://h:1", "failover:(tcp://h:61616)",
        "failover:(amqp://h:1,tcp://h:2)", "failover:(amqp://h:1", "failover:amqp://h:1",
        "failover:()", "amqp://h", "amqp://h:", "amqp://:5672", "amqp://h:port", "amqp://h:5672x",
        "amqp://h:1234567", "", "127.0.0.1:5672", "amqp://u@h:5672", "failover:(amqp://h:1)x"}) {
    EXPECT_FALSE(parseBrokerAddress(text, &a)) << text;
  }
}

}  // namespace
