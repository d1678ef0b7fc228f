// The request reading and echo rules shared by every operation.
#include <gtest/gtest.h>

#include "test_util/ReplyRecorder.h"
#include <json/json.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "messaging/ReplyWriter.h"
#include "operations/EchoWriter.h"
#include "operations/Reply.h"
#include "operations/ReplyCodes.h"
#include "operations/RequestReader.h"
#include "util/Json.h"

namespace {

Json::Value parse(const std::string& text) {
  Json::Value v;
  EXPECT_TRUE(util::parseJson(text, &v)) << text;
  return v;
}

struct Session {
  int openHour = 0;
  int closeHour = 0;
  template <typename Fields>
  void fields(Fields& f) {
    f.int32("openHour", &openHour);
    f.int32("closeHour", &closeHour);
  }
};

struct Sample {
  std::string serial;
  std::int64_t login = 0;
  int leverage = 0;
  double amount = 0;
  std::vector<int> logins;
  Session session;
  std::string routeType;
  template <typename Fields>
  void fields(Fields& f) {
    f.text("serial", &serial);
    f.int64("login", &login);
    f.int32("leverage", &leverage);
    f.real("amount", &amount, nullptr, operations::Check::kMoney);
    f.intList("logins", &logins);
    f.object("session", &session);
    f.routeType(&routeType);
  }
};

Sample read(const std::string& text) {
  Sample s;
  operations::readRecord(parse(text), &s);
  return s;
}

TEST(RequestReader, TextKeysTakeNumbersAndBoolsAsTheirText) {
  EXPECT_EQ(read(R"({"serial":17})").serial, "17");
  EXPECT_EQ(read(R"({"serial":-3})").serial, "-3");
  EXPECT_EQ(read(R"({"serial":true})").serial, "true");
  EXPECT_EQ(read(R"({"serial":"abc"})").serial, "abc");
  EXPECT_EQ(read(R"({"routeType":5})").routeType, "5");
}

TEST(RequestReader, AbsentAndNullReadAsEmptyAndZero) {
  for (const char* text : {R"({})",
                           R"({"serial":null,"login":null,"leverage":null,
                               "amount":null,"logins":null,"session":null,
                               "routeType":null})"}) {
    Sample s = read(text);
    EXPECT_EQ(s.serial, "");
    EXPECT_EQ(s.login, 0);
    EXPECT_EQ(s.leverage, 0);
    EXPECT_EQ(s.amount, 0.0);
    EXPECT_TRUE(s.logins.empty());
    EXPECT_EQ(s.session.openHour, 0);
    EXPECT_EQ(s.routeType, "");
  }
}

TEST(RequestReader, UnconvertibleValuesThrowTheLibrarysError) {
  EXPECT_THROW(read(R"({"serial":{"a":1}})"), Json::LogicError);
  EXPECT_THROW(read(R"({"serial":[1]})"), Json::LogicError);
  EXPECT_THROW(read(R"({"routeType":{}})"), Json::LogicError);
  EXPECT_THROW(read(R"({"login":"1001"})"), Json::LogicError);
  EXPECT_THROW(read(R"({"login":1e30})"), Json::LogicError);
  EXPECT_THROW(read(R"({"leverage":3000000000})"), Json::LogicError);
  EXPECT_THROW(read(R"({"amount":"1.5"})"), Json::LogicError);
  EXPECT_THROW(read(R"({"logins":{"a":1}})"), Json::LogicError);
  EXPECT_THROW(read(R"({"logins":["x"]})"), Json::LogicError);
  EXPECT_THROW(read(R"({"session":5})"), Json::LogicError);
  EXPECT_THROW(read(R"({"session":{"openHour":"8"}})"), Json::LogicError);
}

TEST(RequestReader, NumbersFollowTheLibrarysConversions) {
  EXPECT_EQ(read(R"({"login":2.9})").login, 2);
  EXPECT_EQ(read(R"({"login":-2.9})").login, -2);
  EXPECT_EQ(read(R"({"login":5000000000})").login, 5000000000LL);
  EXPECT_EQ(read(R"({"login":true})").login, 1);
  EXPECT_EQ(read(R"({"leverage":100.7})").leverage, 100);
  EXPECT_EQ(read(R"({"amount":12})").amount, 12.0);
  EXPECT_EQ(read(R"({"amount":-0.25})").amount, -0.25);
  // A checked value JSON text cannot carry, in a request built in code.
  Json::Value built;
  built["amount"] = std::numeric_limits<double>::quiet_NaN();
  Sample s;
  EXPECT_EQ(operations::readRecord(built, &s).code, codes::kAmountOutOfRange);
}

TEST(RequestReader, ListsAndNestedObjects) {
  Sample s = read(R"({"logins":[3,1,3],"session":{"openHour":8}})");
  EXPECT_EQ(s.logins, (std::vector<int>{3, 1, 3}));
  EXPECT_EQ(s.session.openHour, 8);
  EXPECT_EQ(s.session.closeHour, 0);
  // Not a list: no elements.
  EXPECT_TRUE(read(R"({"logins":7})").logins.empty());
  EXPECT_TRUE(read(R"({"logins":[]})").logins.empty());
}

TEST(EchoWriter, WritesTheFieldListBack) {
  Sample s = read(R"({"serial":17,"login":5000000000,"leverage":100,
                      "amount":1.5,"logins":[2,1],"session":{"openHour":8}})");
  EXPECT_EQ(util::writeCompactJson(operations::echoRecord(s)),
            "{\"amount\":1.5,\"leverage\":100,\"login\":5000000000,"
            "\"logins\":[2,1],\"routeType\":\"\",\"serial\":\"17\","
            "\"session\":{\"closeHour\":0,\"openHour\":8}}\n");
}

TEST(EchoWriter, EmptyListIsNull) {
  Sample s = read(R"({})");
  Json::Value data = operations::echoRecord(s);
  ASSERT_TRUE(data.isMember("logins"));
  EXPECT_TRUE(data["logins"].isNull());
}

using Recorder = test_util::ReplyRecorder;

TEST(Reply, SendsOneEnvelopeAndReturnsItsCode) {
  Recorder r;
  Sample s = read(R"({"serial":"a","routeType":"B"})");
  EXPECT_EQ(operations::replyEcho(r, s, -7), -7);
  ASSERT_EQ(r.sent.size(), 1u);
  EXPECT_EQ(r.sent[0],
            messaging::writeReply(operations::echoRecord(s), -7));
  EXPECT_NE(r.sent[0].find("\"msg\":\"fail\""), std::string::npos);
}

TEST(Reply, FailedCallCodes) {
  EXPECT_EQ(codes::failedCall(3), -3);
  EXPECT_EQ(codes::failedCall(1), -1);
  EXPECT_EQ(codes::failedCall(0), -1);
  EXPECT_EQ(codes::failedCall(-2147483647 - 1), -1);
}

}  // namespace
