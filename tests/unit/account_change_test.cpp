// Account update, password and leverage changes, internal mail and the
// account reads against the fake managers: which fields each mode writes,
// which results count, what the reads give back, and requests run twice.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "operations/accounts/EmailSend.h"
#include "operations/accounts/PasswordAndLeverage.h"
#include "operations/accounts/UserRecordUpdate.h"
#include "operations/reads/AccountReads.h"
#include "server/FieldText.h"
#include "test_util/OperationTest.h"
#include "test_util/Records.h"
#include "util/Platform.h"

namespace {

constexpr int kLogin = 42;

class AccountChange : public test_util::OperationTest {
 protected:
  AccountChange() {
    mt::UserRecord user =
        test_util::account(kLogin, "Old Name", "old@example.com", "demo", "old comment");
    user.leverage = 100;
    user.balance = 77;
    pumpFake.addUser(user);
  }
  int run(operations::OperationFn op, const std::string& fields) {
    Json::Value request;
    const std::string serial = fields.find("\"serial\"") == std::string::npos ? "\"serial\":\"s1\"," : "";
    EXPECT_TRUE(util::parseJson("{" + serial + "\"login\":42," + fields + "}", &request));
    return op(ctx, request, reply);
  }
  mt::UserRecord written() const { return normalFake.lastUserRecord(); }
};

TEST_F(AccountChange, EachUpdateModeWritesExactlyItsFields) {
  const std::string personal =
      R"("name":"New Name","group":"vip","email":"new@example.com","leverage":200,)"
      R"("addressLine":"1 Long Street","updatePassword":1,"valid":1,"agent":7,)";
  // Flags only.
  EXPECT_EQ(200, run(&operations::userRecordUpdate,
                     personal + R"("routeType":"USER_ENABLE_READ_ONLY_UPDATE")"));
  EXPECT_EQ("Old Name", mt::fieldText(written().name));
  EXPECT_EQ(100, written().leverage);
  EXPECT_EQ(0, written().enable_read_only);
  EXPECT_EQ(1, written().enable_change_password);
  // Restricted data: address, leverage, flags.
  EXPECT_EQ(200, run(&operations::userRecordUpdate, personal + R"("groupType":9)"));
  EXPECT_EQ("demo", mt::fieldText(written().group));
  EXPECT_EQ("1 Long Street", mt::fieldText(written().address));
  EXPECT_EQ(200, written().leverage);
  // Full data; "-1" keeps the comment, every text is cut to its field.
  EXPECT_EQ(200, run(&operations::userRecordUpdate,
                     personal + R"("comment":"-1","country":")" + std::string(40, 'C') + "\""));
  EXPECT_EQ("vip", mt::fieldText(written().group));
  EXPECT_EQ("New Name", mt::fieldText(written().name));
  EXPECT_EQ("old comment", mt::fieldText(written().comment));
  EXPECT_EQ(std::string(32, 'C'), mt::fieldText(written().country));
  EXPECT_EQ(7, written().agent_account);
  EXPECT_EQ(77, written().balance);  // as fetched
  EXPECT_EQ(200, run(&operations::userRecordUpdate, R"("comment":"")"));
  EXPECT_EQ("", mt::fieldText(written().comment));
  EXPECT_EQ(1, written().enable_read_only);
  EXPECT_EQ(0, written().leverage);

  // Only 0 counts as stored; a failed read writes nothing.
  normalFake.script("UserRecordUpdate", {1});
  EXPECT_EQ(-1, run(&operations::userRecordUpdate, "\"groupType\":2"));
  pumpFake.script("UserRecordGet", {1, 6});
  EXPECT_EQ(200, run(&operations::userRecordUpdate, "\"groupType\":2"));
  const int updates = normalFake.count("UserRecordUpdate");
  EXPECT_EQ(-6, run(&operations::userRecordUpdate, "\"groupType\":2"));
  EXPECT_EQ(updates, normalFake.count("UserRecordUpdate"));
}

TEST_F(AccountChange, PasswordTypesCheckFirstOrNotAndUnknownTypesCallNothing) {
  const std::string pass = R"("masterPass":"Old1","newPass":"New1",)";
  EXPECT_EQ(200, run(&operations::userRecordPasswordUpdate, pass + "\"type\":2"));
  EXPECT_EQ(0, normalFake.count("UserPasswordCheck"));
  EXPECT_EQ((std::vector<std::string>{"42", "New1", "0", "0"}), normalFake.calls().back().args);
  normalFake.script("UserPasswordCheck", {3});
  EXPECT_EQ(-3, run(&operations::userRecordPasswordUpdate, pass + "\"type\":3"));
  EXPECT_EQ(1, normalFake.count("UserPasswordSet"));
  normalFake.script("UserPasswordCheck", {1});
  normalFake.script("UserPasswordSet", {1});
  EXPECT_EQ(200, run(&operations::userRecordPasswordUpdate, pass + "\"type\":3"));
  EXPECT_EQ("1", normalFake.calls().back().args[2]);  // the investor password

  normalFake.clearCalls();
  EXPECT_EQ(-1, run(&operations::userRecordPasswordUpdate, pass + "\"type\":4"));
  EXPECT_EQ(0, managerCalls());
}

TEST_F(AccountChange, LeverageIsWrittenOnlyWhenItDiffers) {
  EXPECT_EQ(200, run(&operations::userLeverageUpdate, "\"leverage\":100"));
  EXPECT_EQ(0, normalFake.count("UserRecordUpdate"));
  EXPECT_EQ(200, run(&operations::userLeverageUpdate, "\"leverage\":500"));
  EXPECT_EQ(500, written().leverage);
  EXPECT_EQ("Old Name", mt::fieldText(written().name));
  EXPECT_EQ(std::vector<int>({10, 10}), pauses);
}

TEST_F(AccountChange, MailIsSentOnceFromTheFixedSenderAndAFailedSendIsAFailure) {
  const std::string mail = R"("logins":[42,43],"subject":")" + std::string(200, 'S') +
                           R"(","content":"Hello there")";
  EXPECT_EQ(200, run(&operations::emailSend, mail));
  const mt::MailBox sent = normalFake.lastMailBox();
  EXPECT_EQ("Trading Platform", mt::fieldText(sent.from));
  EXPECT_EQ(std::string(127, 'S'), mt::fieldText(sent.subject));
  EXPECT_EQ(2, sent.to);
  EXPECT_EQ(11, sent.bodylen);
  EXPECT_EQ("Hello there", normalFake.lastMailBody());
  EXPECT_EQ(std::vector<int>({42, 43}), normalFake.lastMailLogins());
  // The same request again: not sent again.
  EXPECT_EQ(200, run(&operations::emailSend, mail));
  EXPECT_EQ(1, normalFake.count("MailSend"));

  normalFake.script("MailSend", {3});
  EXPECT_EQ(-3, run(&operations::emailSend, R"("serial":"s2","logins":[])"));
  EXPECT_TRUE(lastReply()["data"]["logins"].isNull());
  normalFake.script("ManagerRights", {6});
  EXPECT_EQ(-1, run(&operations::emailSend, R"("serial":"s2","logins":[42])"));
  EXPECT_EQ(2, normalFake.count("MailSend"));
}

TEST_F(AccountChange, AMailIsSentOnlyOnceRememberedAndItsMarkHoldsWhereTheDiskFails) {
  int appends = 0;  // the first remembering fails, then the mark of the send
  const platform::AppendFaultHook previous = platform::setAppendFaultHook(
      [&](const std::string&) { return ++appends % 2 == 1 ? ENOSPC : 0; });
  const std::string mail = R"("serial":"m1","logins":[42],"content":"x")";
  EXPECT_EQ(-1013, run(&operations::emailSend, mail));
  EXPECT_EQ(0, normalFake.count("MailSend"));
  EXPECT_EQ(200, run(&operations::emailSend, mail));
  EXPECT_EQ(200, run(&operations::emailSend, mail));
  platform::setAppendFaultHook(previous);
  EXPECT_EQ(1, normalFake.count("MailSend"));
}

TEST_F(AccountChange, ReadsGiveWhatTheServerHoldsChangeNothingAndRepeatAlike) {
  config.timeZone = 3600;
  mt::TradeRecord open = test_util::trade(902, kLogin, mt::OP_BUY, "t", 12.5);
  open.open_time = 1700003600;  // 1700000000 s less the time zone
  open.storage = -1.5;
  mt::setField(open.symbol, "EURUSD");
  pumpFake.addOpenTrade(open);
  pumpFake.addOpenTrade(test_util::trade(901, kLogin, mt::OP_BUY_LIMIT, "p", 0));
  mt::TradeRecord deposit = test_util::trade(700, kLogin, mt::OP_BALANCE, "dep", 50);
  deposit.close_time = 1700003600;
  normalFake.addHistory(deposit);

  for (int run = 0; run < 2; ++run) {
    EXPECT_EQ(200, this->run(&operations::userRecordGet, R"("routeType":"r")"));
    Json::Value data = lastReply()["data"];
    EXPECT_EQ("Old Name", data["account"]["name"].asString());
    EXPECT_EQ(100, data["account"]["leverage"].asInt());
    EXPECT_DOUBLE_EQ(77 + 12.5 - 1.5, data["equity"].asDouble());
    EXPECT_EQ("r", data["routeType"].asString());

    EXPECT_EQ(200, this->run(&operations::userTradesGet, ""));
    data = lastReply()["data"];
    ASSERT_EQ(2u, data["trades"].size());
    EXPECT_EQ(901, data["trades"][0]["order"].asInt());  // by ticket
    EXPECT_EQ("EURUSD", data["trades"][1]["symbol"].asString());
    EXPECT_EQ(1700000000000LL, data["trades"][1]["openTime"].asInt64());
    EXPECT_EQ(0, data["trades"][1]["closeTime"].asInt64());

    EXPECT_EQ(200, this->run(&operations::userHistoryGet,
                             R"("from":1699990000000,"to":1700000000000)"));
    data = lastReply()["data"];
    ASSERT_EQ(1u, data["trades"].size());
    EXPECT_EQ(50, data["trades"][0]["profit"].asDouble());
    EXPECT_EQ(1700000000000LL, data["trades"][0]["closeTime"].asInt64());
  }
  for (const testing_support::FakeCall& call : normalFake.calls()) {
    if (call.name == "MemFree") continue;
    EXPECT_EQ("TradesUserHistory", call.name);  // nothing but reads
    EXPECT_EQ((std::vector<std::string>{"42", "1699993600", "1700003600"}),
              call.args);  // the window shifted by the time zone
  }

  // An unknown account, a window backwards or over 31 days, no list.
  EXPECT_EQ(-65, run(&operations::userRecordGet, R"("login":43)"));
  EXPECT_TRUE(lastReply()["data"]["account"].isObject());
  EXPECT_EQ(-65, run(&operations::userTradesGet, R"("login":43)"));
  const int calls = managerCalls();
  EXPECT_EQ(-1017, run(&operations::userHistoryGet, R"("from":10,"to":9)"));
  EXPECT_EQ(-1017, run(&operations::userHistoryGet, R"("from":0,"to":2678400001)"));
  EXPECT_EQ(-1017, run(&operations::userHistoryGet,
                       R"("from":-9223372036854775807,"to":9223372036854775807)"));
  EXPECT_EQ(calls, managerCalls());
  EXPECT_EQ(200, run(&operations::userHistoryGet, R"("from":0,"to":2678400000)"));
  pumpFake.script("TradesGetByLogin", {2});
  EXPECT_EQ(-1002, run(&operations::userTradesGet, ""));
}

}  // namespace
