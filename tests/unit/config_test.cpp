#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "config/Config.h"
#include "config/QueueTable.h"
#include "test_util/TempDir.h"

namespace {

using config::ConfigRecord;
using config::ParseResult;
using config::parseConfig;

const char* kComplete = R"({"server":"127.0.0.1:4443","login":7,"password":"pw")";

ParseResult parseWith(const std::string& extra, ConfigRecord* out) {
  std::string text = std::string(kComplete) + (extra.empty() ? "" : "," + extra) + "}";
  return parseConfig(text, out);
}

TEST(ConfigParse, RequiresServerLoginAndPassword) {
  ConfigRecord r;
  EXPECT_EQ(parseConfig("{}", &r), ParseResult::kIncomplete);
  EXPECT_EQ(parseConfig(R"({"login":7,"password":"pw"})", &r), ParseResult::kIncomplete);
  EXPECT_EQ(parseConfig(R"({"server":"s","password":"pw"})", &r), ParseResult::kIncomplete);
  EXPECT_EQ(parseConfig(R"({"server":"s","login":7,"password":""})", &r), ParseResult::kIncomplete);
  EXPECT_EQ(parseWith("", &r), ParseResult::kOk);
  EXPECT_EQ(r.server, "127.0.0.1:4443");
  EXPECT_EQ(r.login, 7);
  EXPECT_EQ(r.password, "pw");
}

TEST(ConfigParse, MalformedFilesFailWithoutTouchingTheRecord) {
  ConfigRecord r;
  r.server = "untouched";
  for (const char* text : {"", "not json", "[1,2]", "\"text\"", "{\"server\":",
                           R"({"server":{"a":1},"login":1,"password":"p"})",
                           R"({"server":"s","login":"7","password":"p"})",
                           R"({"server":"s","login":[7],"password":"p"})",
                           R"({"server":"s","login":4294967296,"password":"p"})",
                           R"({"server":"s","login":1,"password":"p","timeZone":3000000000})",
                           R"({"server":"s","login":1,"password":"p","timeZone":1000000})",
                           R"({"server":"s","login":1,"password":"p","userRecordCreate":{}})",
                           R"({"server":"s","login":1,"password":"p","pumpUpdateBidAsk":"1"})",
                           R"({"server":"s","login":1,"password":"p","pumpUpdateBidAsk":1e300})",
                           R"({"server":"s","login":1,"password":"p","startupPauseMs":-1})",
                           R"({"server":"s","login":1,"password":"p","startupPauseMs":"5"})",
                           R"({"server":"s","login":1,"password":"p","logRetentionDays":-1})",
                           R"({"server":"s","login":1,"password":"p","logRetentionDays":"7"})",
                           R"({"server":"s","login":1,"password":"p","serverEventsBuffer":0})",
                           R"({"server":"s","login":1,"password":"p","serverEventsBuffer":1000001})",
                           R"({"server":"s","login":1,"password":"p","userHistoryGet":[]})"}) {
    EXPECT_EQ(parseConfig(text, &r), ParseResult::kMalformed) << text;
    EXPECT_EQ(r.server, "untouched") << text;
  }
}

TEST(ConfigParse, EveryProblemIsNamedOnALineOfItsOwn) {
  struct Row {
    std::string text;
    ParseResult result;
    std::vector<std::string> problems;
  };
  const std::vector<Row> rows = {
      {"", ParseResult::kMalformed, {"config.ini is empty"}},
      {"{\n\"server\":\"s\"\n\"login\":1}", ParseResult::kMalformed,
       {"config.ini is not valid JSON: Line 3, Column 1: Missing ',' or '}' in object "
        "declaration"}},
      {"[1]", ParseResult::kMalformed, {"config.ini is not a JSON object"}},
      {R"({"login":0,"password":""})", ParseResult::kIncomplete,
       {R"(config.ini: "server" is missing or empty)", R"(config.ini: "login" is missing or 0)",
        R"(config.ini: "password" is missing or empty)"}},
      // Every key is checked, in the file's reading order.
      {R"({"server":"s","login":"7","emailSend":[1],"pumpUpdateBidAsk":"1",
          "timeZone":1000000,"startupPauseMs":-1,"logRetentionDays":{}})",
       ParseResult::kMalformed,
       {R"(config.ini: "login" must be a number from -2147483648 to 2147483647)",
        R"(config.ini: "password" is missing or empty)",
        R"(config.ini: "emailSend" must be a text or a number, not an object or an array)",
        R"(config.ini: "pumpUpdateBidAsk" must be a number of 64 bits)",
        R"(config.ini: "timeZone" must be a number of hours from -596523 to 596523)",
        R"(config.ini: "startupPauseMs" must be a number of milliseconds from 0 to 2147483647)",
        R"(config.ini: "logRetentionDays" must be a number of days from 0 to 2147483647)"}},
      {std::string(kComplete) + R"(,"logRetentionDays":7})", ParseResult::kOk, {}},
  };
  for (const Row& row : rows) {
    ConfigRecord r;
    std::vector<std::string> problems;
    EXPECT_EQ(parseConfig(row.text, &r, &problems), row.result) << row.text;
    EXPECT_EQ(problems, row.problems) << row.text;
  }
  ConfigRecord r;
  ASSERT_EQ(parseWith(R"("logRetentionDays":7)", &r), ParseResult::kOk);
  EXPECT_EQ(r.logRetentionDays, 7);
  EXPECT_EQ(r.serverEventsBuffer, 10000);
  ASSERT_EQ(parseWith(R"("serverEvents":"topic://ev","serverEventsBuffer":3,
                         "userTradesGetCallback":"rq")", &r), ParseResult::kOk);
  EXPECT_EQ(r.serverEvents, "topic://ev");
  EXPECT_EQ(r.serverEventsBuffer, 3);
  EXPECT_EQ(r.userTradesGetCallback, "rq");
}

TEST(ConfigParse, ReadingRulesForTextsAndIntegers) {
  ConfigRecord r;
  ASSERT_EQ(parseConfig(R"({"server":12345,"login":true,"password":false,
      "brokerURI":null,"timeZone":3,"pumpUpdateBidAsk":true})", &r),
            ParseResult::kOk);
  EXPECT_EQ(r.server, "12345");
  EXPECT_EQ(r.login, 1);
  EXPECT_EQ(r.password, "false");
  EXPECT_EQ(r.brokerURI, "");
  EXPECT_EQ(r.timeZone, 10800);
  EXPECT_EQ(r.pumpUpdateBidAsk, 1);
  EXPECT_EQ(r.startupPauseMs, 10000);  // absent: the ten seconds

  ASSERT_EQ(parseWith(R"("startupPauseMs":250)", &r), ParseResult::kOk);
  EXPECT_EQ(r.startupPauseMs, 250);
  ASSERT_EQ(parseWith(R"("startupPauseMs":null)", &r), ParseResult::kOk);
  EXPECT_EQ(r.startupPauseMs, 10000);

  ASSERT_EQ(parseWith(R"("timeZone":-5,"pumpUpdateBidAsk":2.9)", &r), ParseResult::kOk);
  EXPECT_EQ(r.timeZone, -18000);
  EXPECT_EQ(r.pumpUpdateBidAsk, 2);

  ASSERT_EQ(parseWith(R"("timeZone":-2.7)", &r), ParseResult::kOk);
  EXPECT_EQ(r.timeZone, -7200);  // fraction truncated toward zero

  // Read as 64 bits, kept as the low 32 bits: 2^32 + 1 switches the list on.
  ASSERT_EQ(parseWith(R"("pumpUpdateBidAsk":4294967297)", &r), ParseResult::kOk);
  EXPECT_EQ(r.pumpUpdateBidAsk, 1);
  ASSERT_EQ(parseWith(R"("pumpUpdateBidAsk":false)", &r), ParseResult::kOk);
  EXPECT_EQ(r.pumpUpdateBidAsk, 0);
}

TEST(ConfigParse, CommentsAndUnknownKeys) {
  ConfigRecord r;
  EXPECT_EQ(parseConfig("// settings\n{\"server\":\"s\", /* manager */ \"login\":3,"
                        "\"password\":\"p\",\"somethingElse\":{\"x\":[1]}}",
                        &r),
            ParseResult::kOk);
  EXPECT_EQ(r.login, 3);
}

TEST(ConfigParse, QueueKeysAsSpelledInTheFile) {
  ConfigRecord r;
  ASSERT_EQ(parseWith(R"("symboTraderDateUpdateCallback":"one-e",
      "symboTraderDateUpdate":"trader","groupLeverage":"gl","emailSend":"mail")", &r),
            ParseResult::kOk);
  EXPECT_EQ(r.symboTraderDateUpdateeCallback, "");
  EXPECT_EQ(r.symboTraderDateUpdate, "trader");
  ASSERT_EQ(parseWith(R"("symboTraderDateUpdateeCallback":"two-e")", &r), ParseResult::kOk);
  EXPECT_EQ(r.symboTraderDateUpdateeCallback, "two-e");
}

TEST(ConfigParse, BrokerCredentialsNeedBoth) {
  ConfigRecord r;
  ASSERT_EQ(parseWith(R"("activeMqName":"user")", &r), ParseResult::kOk);
  EXPECT_FALSE(r.hasBrokerCredentials());
  ASSERT_EQ(parseWith(R"("activeMqPassword":"pw")", &r), ParseResult::kOk);
  EXPECT_FALSE(r.hasBrokerCredentials());
  ASSERT_EQ(parseWith(R"("activeMqName":"user","activeMqPassword":"pw")", &r), ParseResult::kOk);
  EXPECT_TRUE(r.hasBrokerCredentials());
}

TEST(QueueTable, LabelsKeysAndRoutingOrder) {
  const auto& table = config::queueTable();
  ASSERT_EQ(table.size(), 18u);
  for (size_t i = 0; i < table.size(); ++i) EXPECT_EQ(table[i].number, static_cast<int>(i) + 1);
  EXPECT_STREQ(table[0].consumerLabel, "config.userRecordCreate");
  EXPECT_STREQ(table[0].producerLabel, "config.userRecordCreateCallback");
  EXPECT_STREQ(table[5].requestKey, "emailSend");
  EXPECT_STREQ(table[6].requestKey, "groupLeverage");
  EXPECT_STREQ(table[13].replyKey, "symboTraderDateUpdateeCallback");
  EXPECT_STREQ(table[13].producerLabel, "config.symboTraderDateUpdateCallback");
  const auto& order = config::routingOrder();
  EXPECT_EQ(order[5], config::kGroupLeverage);
  EXPECT_EQ(order[6], config::kEmailSend);
  // Each reply key reads into its own field.
  ConfigRecord r;
  r.*(table[13].replyName) = "x";
  EXPECT_EQ(r.symboTraderDateUpdateeCallback, "x");
  // The account reads come after the fifteen, and only they are optional.
  for (size_t i = 0; i < table.size(); ++i) EXPECT_EQ(table[i].optional, i >= 15) << i;
  EXPECT_STREQ(table[17].requestKey, "userHistoryGet");
  EXPECT_STREQ(table[17].producerLabel, "config.userHistoryGetCallback");
  EXPECT_EQ(order[17], config::kUserHistoryGet);
}

TEST(LoadConfig, ReadsConfigIniFromTheWorkingDirectory) {
  test_util::TempDir dir;
  test_util::ScopedCwd cwd(dir.path());
  std::vector<std::string> problems;
  EXPECT_EQ(config::loadConfig(&problems), -1);  // missing
  EXPECT_EQ(problems, std::vector<std::string>{"config.ini not found in " +
                                               std::filesystem::current_path().string()});
  dir.write("config.ini", "");
  EXPECT_EQ(config::loadConfig(), -1);  // empty
  dir.write("config.ini", R"({"server":"h:1","login":5,"password":"p","timeZone":2})");
  EXPECT_EQ(config::loadConfig(), 1);
  EXPECT_EQ(config::current().timeZone, 7200);
  dir.write("config.ini", R"({"login":5,"password":"p"})");
  EXPECT_EQ(config::loadConfig(), -1);  // no server
}

}  // namespace
