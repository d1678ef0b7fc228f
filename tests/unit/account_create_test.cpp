// Account creation against in-process fake managers: the identity match,
// the new account's record, the reply, and the failure paths.
#include <gtest/gtest.h>

#include "test_util/OperationTest.h"
#include "test_util/Records.h"
#include "test_util/ReplyRecorder.h"
#include <json/json.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "FakeManager.h"
#include "config/Config.h"
#include "messaging/ReplySender.h"
#include "operations/OperationContext.h"
#include "operations/accounts/UserRecordCreate.h"
#include "server/FieldText.h"
#include "server/ManagerLink.h"
#include "store/FinanceBalanceStore.h"
#include "store/UserInfoStore.h"
#include "util/Json.h"
#include "util/Pause.h"
#include "util/TextConvert.h"

namespace {

using test_util::account;
using testing_support::FakeManager;

using Recorder = test_util::ReplyRecorder;

Json::Value parse(const std::string& text) {
  Json::Value v;
  EXPECT_TRUE(util::parseJson(text, &v)) << text;
  return v;
}

// A request for login 1001 with every key set.
Json::Value fullRequest() {
  return parse(R"({
    "serial": "s-1", "name": "Ann Lee", "login": 1001, "agent": 7,
    "email": "ann@example.com", "phone": "+100200", "country": "Utopia",
    "id": "ID-9", "leverage": 100, "group": "demo", "masterPass": "Master1",
    "investorPass": "Invest1", "comment": "vip", "leadSource": "crm-55",
    "city": "Capital", "town": "North", "postalCode": "12345",
    "addressLine": "1 Main Street", "valid": 1, "routeType": "R"})");
}

store::UserIdentity identity(int login, const std::string& name,
                             const std::string& email,
                             const std::string& group,
                             const std::string& comment,
                             const std::string& leadSource) {
  store::UserIdentity u;
  u.login = login;
  u.name = name;
  u.email = email;
  u.group = group;
  u.comment = comment;
  u.leadSource = leadSource;
  return u;
}

class AccountCreate : public test_util::OperationTest {
 protected:
  int run(const Json::Value& request) {
    return operations::userRecordCreate(ctx, request, reply);
  }
};

// ---- Identity match -------------------------------------------------------

TEST_F(AccountCreate, EqualLeadSourceInStoreMatchesAloneOnceTheServerHasTheAccount) {
  users.set(identity(1001, "Other", "other@x", "real", "x", "crm-55"));
  pumpFake.addUser(account(1001, "Other", "other@x", "real", "x", "crm-55"));
  EXPECT_EQ(run(fullRequest()), 200);
  EXPECT_EQ(pumpFake.names(), std::vector<std::string>{"UserRecordGet"});
  EXPECT_EQ(normalFake.count("UserRecordNew"), 0);
  ASSERT_EQ(reply.sent.size(), 1u);
  EXPECT_EQ(lastReply()["msg"].asString(), "success");

  // Deleted on the server since the store learnt it (a deletion changes
  // the store in memory only, a restart reads the file again): created.
  pumpFake.removeUser(1001);
  EXPECT_EQ(run(fullRequest()), 200);
  EXPECT_EQ(normalFake.count("UserRecordNew"), 1);
  EXPECT_EQ(normalFake.lastUserRecord().login, 1001);
}

TEST_F(AccountCreate, StoreMatchNeedsAllFourWhenLeadSourceDiffers) {
  users.set(identity(1001, "Ann Lee", "ann@example.com", "demo", "vip",
                     "other-lead"));
  pumpFake.addUser(account(1001));
  EXPECT_EQ(run(fullRequest()), 200);

  const char* keys[] = {"name", "email", "group", "comment"};
  for (const char* key : keys) {
    Json::Value request = fullRequest();
    request[key] = request[key].asString() + "!";
    EXPECT_EQ(run(request), -2) << key;
    EXPECT_EQ(lastReply()["msg"].asString(), "fail");
  }
  EXPECT_EQ(managerCalls(), 1);  // the match's confirmation only
  EXPECT_EQ(reply.sent.size(), 5u);
}

TEST_F(AccountCreate, EmptyLeadSourcesDoNotMatchByThemselves) {
  users.set(identity(1001, "Somebody Else", "else@x", "real", "", ""));
  Json::Value request = fullRequest();
  request["leadSource"] = "";
  EXPECT_EQ(run(request), -2);
  // With the four identity texts equal it still matches.
  users.set(identity(1001, "Ann Lee", "ann@example.com", "demo", "vip", ""));
  pumpFake.addUser(account(1001));
  EXPECT_EQ(run(request), 200);
  EXPECT_EQ(managerCalls(), 1);
}

TEST_F(AccountCreate, ComparisonIsExactBytes) {
  users.set(identity(1001, "ann lee", "ann@example.com", "demo", "vip",
                     "CRM-55"));
  EXPECT_EQ(run(fullRequest()), -2);  // no case folding
  users.set(identity(1001, "Ann Lee ", "ann@example.com", "demo", "vip",
                     "crm-55 "));
  EXPECT_EQ(run(fullRequest()), -2);  // no trimming
}

TEST_F(AccountCreate, ServerRecordIsMatchedWhenStoreMisses) {
  pumpFake.addUser(account(1001, "Ann Lee", "ann@example.com", "demo", "vip", "zz"));
  EXPECT_EQ(run(fullRequest()), 200);
  EXPECT_EQ(pumpFake.count("UserRecordGet"), 1);
  EXPECT_EQ(pumpFake.calls()[0].args[0], "1001");
  EXPECT_EQ(normalFake.count("UserRecordNew"), 0);

  pumpFake.addUser(account(1001, "Ann Lee", "ann@example.com", "live", "vip", "zz"));
  EXPECT_EQ(run(fullRequest()), -2);
  pumpFake.addUser(account(1001, "Bob", "b@x", "live", "", "crm-55"));
  EXPECT_EQ(run(fullRequest()), 200);
  EXPECT_EQ(normalFake.count("UserRecordNew"), 0);
  EXPECT_EQ(reply.sent.size(), 3u);
}

TEST_F(AccountCreate, ServerFieldsThatFillTheirWidthAreReadWithinBounds) {
  // A 32-byte lead source fills its field with no terminator.
  const std::string lead(32, 'L');
  pumpFake.addUser(account(1001, "n", "e", "g", "c", lead));
  Json::Value request = fullRequest();
  request["leadSource"] = lead;
  EXPECT_EQ(run(request), 200);
}

TEST_F(AccountCreate, NonAsciiNameInConvertedFormMatchesOnlyByLeadSource) {
  Json::Value request = fullRequest();
  request["name"] = "J\xC3\xBCrgen \xD0\x9F";  // UTF-8
  const std::string converted = util::toServerText(request["name"].asString());
  ASSERT_NE(converted, request["name"].asString());

  users.set(identity(1001, converted, "ann@example.com", "demo", "vip",
                     "other-lead"));
  EXPECT_EQ(run(request), -2);
  users.set(identity(1001, converted, "ann@example.com", "demo", "vip",
                     "crm-55"));
  EXPECT_EQ(run(request), 200);

  // The same on the server: an account this operation created holds the
  // converted name.
  users.remove(1001);
  EXPECT_EQ(run(request), 200);
  ASSERT_EQ(normalFake.count("UserRecordNew"), 2);  // the server had neither
  pumpFake.addUser(normalFake.user(1001));
  EXPECT_EQ(run(request), 200);  // lead source equal
  request["leadSource"] = "another";
  EXPECT_EQ(run(request), -2);  // name differs in bytes
  EXPECT_EQ(normalFake.count("UserRecordNew"), 2);
}

// ---- The new account ------------------------------------------------------

TEST_F(AccountCreate, NewAccountRecordIsFilledFromTheRequest) {
  EXPECT_EQ(run(fullRequest()), 200);
  ASSERT_EQ(pumpFake.count("UserRecordGet"), 1);
  ASSERT_EQ(normalFake.count("UserRecordNew"), 1);
  EXPECT_EQ(pumpFake.count("UserRecordNew"), 0);
  EXPECT_EQ(normalFake.count("UserRecordGet"), 0);

  const mt::UserRecord u = normalFake.lastUserRecord();
  EXPECT_EQ(u.login, 1001);
  EXPECT_EQ(mt::fieldText(u.group), "demo");
  EXPECT_EQ(mt::fieldText(u.password), "Master1");
  EXPECT_EQ(u.enable, 1);
  EXPECT_EQ(u.enable_change_password, 1);
  EXPECT_EQ(u.enable_read_only, 0);
  EXPECT_EQ(mt::fieldText(u.password_investor), "Invest1");
  EXPECT_EQ(mt::fieldText(u.password_phone), "");
  EXPECT_EQ((std::vector<std::string>{
                mt::fieldText(u.name), mt::fieldText(u.country), mt::fieldText(u.city),
                mt::fieldText(u.state), mt::fieldText(u.zipcode), mt::fieldText(u.address),
                mt::fieldText(u.lead_source), mt::fieldText(u.phone), mt::fieldText(u.email),
                mt::fieldText(u.comment), mt::fieldText(u.id), mt::fieldText(u.status)}),
            (std::vector<std::string>{"Ann Lee", "Utopia", "Capital", "North", "12345",
                                      "1 Main Street", "crm-55", "+100200", "ann@example.com",
                                      "vip", "ID-9", ""}));
  EXPECT_EQ(u.leverage, 100);
  EXPECT_EQ(u.agent_account, 7);
  EXPECT_EQ(u.user_color, 0xFF000000u);
  EXPECT_EQ(u.balance, 0.0);
  EXPECT_EQ(u.regdate, 0);
}

TEST_F(AccountCreate, OnlyNameCityTownIdAndAddressAreConverted) {
  const std::string utf8 = "\xC3\xA9t\xC3\xA9";  // "été"
  const std::string converted = util::toServerText(utf8);
  ASSERT_NE(converted, utf8);
  Json::Value request = fullRequest();
  for (const char* key : {"name", "city", "town", "id", "addressLine",
                          "group", "comment", "email", "phone", "country",
                          "postalCode", "leadSource", "masterPass",
                          "investorPass"}) {
    request[key] = utf8;
  }
  EXPECT_EQ(run(request), 200);
  const mt::UserRecord u = normalFake.lastUserRecord();
  // Converted: name, city, state, id, address; the others as sent.
  EXPECT_EQ((std::vector<std::string>{
                mt::fieldText(u.name), mt::fieldText(u.city), mt::fieldText(u.state),
                mt::fieldText(u.id), mt::fieldText(u.address)}),
            std::vector<std::string>(5, converted));
  EXPECT_EQ((std::vector<std::string>{
                mt::fieldText(u.group), mt::fieldText(u.comment), mt::fieldText(u.email),
                mt::fieldText(u.phone), mt::fieldText(u.country), mt::fieldText(u.zipcode),
                mt::fieldText(u.lead_source), mt::fieldText(u.password),
                mt::fieldText(u.password_investor)}),
            std::vector<std::string>(9, utf8));
}

TEST_F(AccountCreate, AccountIsReadOnlyUnlessValidIsOne) {
  struct Case {
    const char* valid;  // JSON text, or null for an absent key
    int readOnly;
  } cases[] = {{nullptr, 1}, {"null", 1}, {"0", 1}, {"2", 1}, {"1", 0}};
  for (const Case& c : cases) {
    Json::Value request = fullRequest();
    request.removeMember("valid");
    if (c.valid) request["valid"] = parse(std::string("[") + c.valid + "]")[0];
    EXPECT_EQ(run(request), 200);
    EXPECT_EQ(normalFake.lastUserRecord().enable_read_only, c.readOnly)
        << (c.valid ? c.valid : "absent");
    normalFake.removeUser(1001);
  }
}

TEST_F(AccountCreate, MissingLeverageIsZero) {
  Json::Value request = fullRequest();
  request.removeMember("leverage");
  EXPECT_EQ(run(request), 200);
  EXPECT_EQ(normalFake.lastUserRecord().leverage, 0);
  EXPECT_EQ(lastReply()["data"]["leverage"].asInt(), 0);
}

TEST_F(AccountCreate, AccountNumbersOutsideTheServersRangeAreRefusedBeforeAnyCall) {
  // 2^32 + 1001 once created account 1001, 3 000 000 000 a negative one,
  // and a missing login an account numbered by the server, again on every
  // repeat.
  for (Json::Int64 login : {0LL, -5LL, 2147483648LL, 3000000000LL, 4294968297LL}) {
    Json::Value request = fullRequest();
    request["login"] = login;
    EXPECT_EQ(run(request), -1014) << login;
    EXPECT_EQ(lastReply()["data"]["login"].asInt64(), login);
  }
  Json::Value request = fullRequest();
  request["agent"] = Json::Int64(4294967296LL + 7);
  EXPECT_EQ(run(request), -1014);
  request.removeMember("login");
  EXPECT_EQ(run(request), -1014);
  EXPECT_EQ(managerCalls(), 0);
  request = fullRequest();
  request["agent"] = 0;  // no agent
  request["login"] = 2147483647;
  EXPECT_EQ(run(request), 200);
  EXPECT_EQ(normalFake.lastUserRecord().login, 2147483647);
}

TEST_F(AccountCreate, EveryTextIsCutToItsFieldWidth) {
  Json::Value request = fullRequest();
  request["addressLine"] = std::string(97, 'a');
  request["email"] = std::string(60, 'e');
  request["name"] = std::string(300, 'n');
  request["group"] = std::string(40, 'g');
  request["masterPass"] = std::string(40, 'p');
  request["investorPass"] = std::string(40, 'i');
  request["country"] = std::string(40, 'c');
  request["city"] = std::string(40, 'y');
  request["town"] = std::string(40, 't');
  request["postalCode"] = std::string(40, 'z');
  request["leadSource"] = std::string(40, 'l');
  request["phone"] = std::string(40, 'f');
  request["comment"] = std::string(100, 'm');
  request["id"] = std::string(40, 'd');
  EXPECT_EQ(run(request), 200);

  const mt::UserRecord u = normalFake.lastUserRecord();
  EXPECT_EQ(mt::fieldText(u.address), std::string(96, 'a'));
  EXPECT_EQ(mt::fieldText(u.email), std::string(48, 'e'));
  EXPECT_EQ(mt::fieldText(u.name), std::string(128, 'n'));
  EXPECT_EQ(mt::fieldText(u.group), std::string(16, 'g'));
  EXPECT_EQ(mt::fieldText(u.password), std::string(16, 'p'));
  EXPECT_EQ(mt::fieldText(u.password_investor), std::string(16, 'i'));
  EXPECT_EQ(mt::fieldText(u.country), std::string(32, 'c'));
  EXPECT_EQ(mt::fieldText(u.city), std::string(32, 'y'));
  EXPECT_EQ(mt::fieldText(u.state), std::string(32, 't'));
  EXPECT_EQ(mt::fieldText(u.zipcode), std::string(16, 'z'));
  EXPECT_EQ(mt::fieldText(u.lead_source), std::string(32, 'l'));
  EXPECT_EQ(mt::fieldText(u.phone), std::string(32, 'f'));
  EXPECT_EQ(mt::fieldText(u.comment), std::string(64, 'm'));
  EXPECT_EQ(mt::fieldText(u.id), std::string(32, 'd'));
  // Neighbouring fields are untouched.
  EXPECT_EQ(u.leverage, 100);
  EXPECT_EQ(u.enable_read_only, 0);
  // The reply echoes the texts as received.
  EXPECT_EQ(lastReply()["data"]["addressLine"].asString(),
            std::string(97, 'a'));
}

TEST_F(AccountCreate, ConvertedAddressOf96BytesFillsTheField) {
  Json::Value request = fullRequest();
  request["addressLine"] = std::string(96, 'a');
  EXPECT_EQ(run(request), 200);
  const mt::UserRecord u = normalFake.lastUserRecord();
  EXPECT_EQ(std::memcmp(u.address, std::string(96, 'a').data(), 96), 0);
}

// ---- Results and failures -------------------------------------------------

TEST_F(AccountCreate, OnlyZeroFromUserRecordNewIsSuccess) {
  normalFake.script("UserRecordNew", {1, 3, 0});
  EXPECT_EQ(run(fullRequest()), -1);
  EXPECT_EQ(lastReply()["msg"].asString(), "fail");
  EXPECT_EQ(run(fullRequest()), -3);
  EXPECT_EQ(lastReply()["code"].asInt(), -3);
  EXPECT_EQ(run(fullRequest()), 200);
  EXPECT_EQ(normalFake.count("UserRecordNew"), 3);
  EXPECT_EQ(reply.sent.size(), 3u);
}

TEST_F(AccountCreate, FailedServerLookupCountsAsAbsent) {
  pumpFake.addUser(account(1001, "x", "x", "x", "x", "x"));
  pumpFake.script("UserRecordGet", {6, 1, -1});
  EXPECT_EQ(run(fullRequest()), 200);
  normalFake.removeUser(1001);
  EXPECT_EQ(run(fullRequest()), 200);
  normalFake.removeUser(1001);
  EXPECT_EQ(run(fullRequest()), 200);
  EXPECT_EQ(normalFake.count("UserRecordNew"), 3);
}

TEST_F(AccountCreate, UnconvertibleRequestThrowsBeforeAnyCallAndSendsNothing) {
  Json::Value request = fullRequest();
  request["login"] = "1001";
  EXPECT_THROW(run(request), Json::LogicError);
  request = fullRequest();
  request["name"] = parse(R"({"first":"Ann"})");
  EXPECT_THROW(run(request), Json::LogicError);
  request = fullRequest();
  request["routeType"] = parse("[1]");
  EXPECT_THROW(run(request), Json::LogicError);
  EXPECT_EQ(managerCalls(), 0);
  EXPECT_TRUE(reply.sent.empty());
}

TEST_F(AccountCreate, WaitsOneSecondOnceOnEveryPath) {
  run(fullRequest());  // created
  EXPECT_EQ(pauses, std::vector<int>{1000});
  pauses.clear();
  users.set(identity(1001, "", "", "", "", "crm-55"));
  run(fullRequest());  // answered from the store
  EXPECT_EQ(pauses, std::vector<int>{1000});
}

TEST_F(AccountCreate, ReplyIsByteExact) {
  users.set(identity(1001, "", "", "", "", "crm-55"));
  Json::Value request = fullRequest();
  request["serial"] = 17;
  EXPECT_EQ(run(request), 200);
  ASSERT_EQ(reply.sent.size(), 1u);
  EXPECT_EQ(reply.sent[0],
            "{\"code\":200,\"data\":{\"addressLine\":\"1 Main Street\","
            "\"agent\":7,\"city\":\"Capital\",\"comment\":\"vip\","
            "\"country\":\"Utopia\",\"email\":\"ann@example.com\","
            "\"group\":\"demo\",\"id\":\"ID-9\",\"investorPass\":\"Invest1\","
            "\"leadSource\":\"crm-55\",\"leverage\":100,\"login\":1001,"
            "\"masterPass\":\"Master1\",\"name\":\"Ann Lee\","
            "\"phone\":\"+100200\",\"postalCode\":\"12345\","
            "\"routeType\":\"R\",\"serial\":\"17\",\"town\":\"North\","
            "\"valid\":1},\"msg\":\"success\"}\n");
}

TEST_F(AccountCreate, EmptyRequestEchoesEmptyTextsAndZeros) {
  EXPECT_EQ(run(parse("{}")), -1014);
  Json::Value data = lastReply()["data"];
  EXPECT_EQ(data.size(), 20u);
  EXPECT_EQ(data["serial"], Json::Value(""));
  EXPECT_EQ(data["routeType"], Json::Value(""));
  EXPECT_EQ(data["login"], Json::Value(0));
}

TEST(AccountCreateWithoutInterface, AnswersMinusOneWithoutServerCall) {
  util::PauseHook previous = util::setPauseHook([](int) {});
  for (bool normalMissing : {true, false}) {
    FakeManager fake;
    server::ManagerLink present(&fake);
    server::ManagerLink missing(static_cast<mt::CManagerInterface*>(nullptr));
    store::FinanceBalanceStore balances("unused-financeBalanceHistory");
    store::UserInfoStore users("unused-userInfo");
    users.set(identity(1001, "", "", "", "", "crm-55"));
    config::ConfigRecord config;
    operations::OperationContext ctx{normalMissing ? missing : present,
                                     normalMissing ? present : missing,
                                     balances, users, balances, balances, config};
    Recorder reply;
    EXPECT_EQ(operations::userRecordCreate(ctx, fullRequest(), reply), -1);
    ASSERT_EQ(reply.sent.size(), 1u);
    EXPECT_EQ(parse(reply.sent[0])["msg"].asString(), "fail");
    EXPECT_TRUE(fake.calls().empty());
  }
  util::setPauseHook(previous);
}

}  // namespace
