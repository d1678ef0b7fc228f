// The request path: message text -> dispatchRequest -> one of the fifteen
// operations over two in-process fake managers, with the stores on files
// of a scratch folder and the pauses counted instead of waited.
//
// Input: byte 0 picks the route (queue number), byte 1 the server's data
// (flag bits below), byte 2 how many scripted results follow (two bytes
// each: call name and which fake, result and how many times); the rest is
// the request text as it would arrive on the queue.
//
// Checked beside the sanitizers:
// - a request the operation read is answered by exactly one reply, a JSON
//   object {code, data, msg} whose code is the operation's result and whose
//   msg is "success" exactly for 200; one it could not read gets none;
// - every array a fake returned is freed once, and nothing else is freed;
// - no retry loop runs without end (a bounded number of pauses);
// - run twice (flag bit 7), a money movement, trade import or mail that the
//   first run answered with 200 is not carried out again by the second.
#include <json/json.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "FakeManager.h"
#include "FuzzSupport.h"
#include "config/Config.h"
#include "config/QueueTable.h"
#include "messaging/Dispatch.h"
#include "operations/OperationContext.h"
#include "operations/Routes.h"
#include "server/FieldText.h"
#include "server/ManagerLink.h"
#include "server/StopFlag.h"
#include "store/FinanceBalanceStore.h"
#include "store/UserInfoStore.h"
#include "test_util/ReplyRecorder.h"
#include "util/Json.h"
#include "util/Log.h"
#include "util/Pause.h"

namespace {

using testing_support::FakeManager;

// Server data, by bit of byte 1.
constexpr unsigned kAccounts = 1u << 0;    // accounts 1001 and 1002 exist
constexpr unsigned kSymbols = 1u << 1;     // EURUSD, GBPUSD, XAUUSD
constexpr unsigned kGroup = 1u << 2;       // group demoforex
constexpr unsigned kOpenTrades = 1u << 3;  // open trades of 1001 (one has the next ticket)
constexpr unsigned kHistory = 1u << 4;     // closed trades and movements of 1001
constexpr unsigned kNoNormal = 1u << 5;    // the normal link has no interface
constexpr unsigned kRights = 1u << 6;      // the manager may send mail
constexpr unsigned kRunTwice = 1u << 7;

constexpr int kNextTicket = 100000;
// More pauses than any bounded retry plan of one request takes.
constexpr int kMaxPauses = 20000;

const char* const kCalls[] = {
    "Connect",          "IsConnected",       "Login",           "Ping",
    "PumpingSwitchEx",  "UserRecordGet",     "UsersGet",        "SymbolsGetAll",
    "SymbolAdd",        "SymbolsRefresh",    "SymbolInfoUpdated", "TradesGetByLogin",
    "GroupRecordGet",   "TradeTransaction",  "TradesUserHistory", "TradeRecordsRequest",
    "AdmTradeRecordModify", "AdmBalanceFix", "AdmTradesDelete", "UserRecordNew",
    "UserRecordUpdate", "UserPasswordCheck", "UserPasswordSet", "UsersGroupOp",
    "CfgUpdateGroup",   "CfgUpdateSymbol",   "ManagerRights",   "MailSend",
};
constexpr size_t kCallCount = sizeof(kCalls) / sizeof(kCalls[0]);
const int kResults[] = {0, 1, 2, 3, 6, 65, 134, 255};

mt::UserRecord account(int login, double balance, double credit) {
  mt::UserRecord u{};
  u.login = login;
  mt::setField(u.group, "demoforex");
  mt::setField(u.name, "Ann Lee");
  mt::setField(u.email, "ann@example.com");
  mt::setField(u.comment, "crm");
  mt::setField(u.lead_source, "web");
  u.leverage = 100;
  u.enable = 1;
  u.balance = balance;
  u.credit = credit;
  return u;
}

mt::ConSymbol symbol(const char* name) {
  mt::ConSymbol s{};
  mt::setField(s.symbol, name);
  s.digits = 5;
  s.trade = mt::kTradeModeFull;
  s.margin_divider = 1;
  for (mt::ConSessions& day : s.sessions) {
    day.quote[0].close_hour = 24;
    day.trade[0].close_hour = 24;
  }
  return s;
}

mt::TradeRecord trade(int order, int cmd, double profit, const char* comment, bool closed) {
  mt::TradeRecord t{};
  t.order = order;
  t.login = 1001;
  t.cmd = cmd;
  mt::setField(t.symbol, cmd <= mt::OP_SELL_STOP ? "EURUSD" : "");
  t.volume = 100;
  t.open_time = 1764990000;
  t.close_time = closed ? 1764999000 : 0;
  t.profit = profit;
  mt::setField(t.comment, comment);
  return t;
}

void fillServer(FakeManager& fake, unsigned flags) {
  fake.setConnected(true);
  fake.setNextTicket(kNextTicket);
  if (flags & kAccounts) {
    fake.addUser(account(1001, 1000.0, 50.0));
    fake.addUser(account(1002, 0.0, 0.0));
  }
  if (flags & kSymbols) {
    for (const char* name : {"EURUSD", "GBPUSD", "XAUUSD"}) fake.addSymbol(symbol(name));
  }
  if (flags & kGroup) {
    mt::ConGroup g{};
    mt::setField(g.group, "demoforex");
    g.default_leverage = 100;
    mt::setField(g.secmargins[0].symbol, "EURUSD");
    g.secmargins[0].margin_divider = 2;
    g.secmargins_total = 1;
    fake.addGroup(g);
  }
  if (flags & kOpenTrades) {
    fake.addOpenTrade(trade(5001, mt::OP_BUY, -20.0, "t-1", false));
    fake.addOpenTrade(trade(kNextTicket, mt::OP_SELL, 5.0, "imp-1", false));
  }
  if (flags & kHistory) {
    fake.addHistory(trade(4001, mt::OP_BALANCE, 100.0, "dep-1", true));
    fake.addHistory(trade(4002, mt::OP_CREDIT, 50.0, "Deposit", true));
    fake.addHistory(trade(4003, mt::OP_BUY, 12.0, "imp-2", true));
  }
  if (flags & kRights) {
    mt::ConManager rights{};
    rights.login = 1;
    rights.manager = 1;
    rights.email = 1;
    fake.setManagerRights(rights);
  }
}

// One input's world: fresh fakes, links, stores and context.
struct World {
  explicit World(const std::string& dir, unsigned flags)
      : normal((flags & kNoNormal) ? nullptr : &normalFake),
        pumping(&pumpFake),
        balances(dir + "/" + store::kFinanceBalanceHistoryFile),
        users(dir + "/" + store::kUserInfoFile),
        imports(dir + "/" + store::kTradeImportHistoryFile),
        mails(dir + "/" + store::kEmailSendHistoryFile),
        ctx{normal, pumping, balances, users, imports, mails, config::current()} {
    fillServer(normalFake, flags);
    fillServer(pumpFake, flags);
  }

  FakeManager normalFake;
  FakeManager pumpFake;
  server::ManagerLink normal;
  server::ManagerLink pumping;
  store::FinanceBalanceStore balances;
  store::UserInfoStore users;
  store::FinanceBalanceStore imports;
  store::FinanceBalanceStore mails;
  operations::OperationContext ctx;
};

// The settings every input runs with: queue i is named "q<i>".
config::ConfigRecord settings() {
  config::ConfigRecord cfg;
  cfg.server = "127.0.0.1:443";
  cfg.login = 1;
  cfg.password = "manager";
  cfg.tradeCancellationCreditTransInfo = "TRADE_CANCEL";
  cfg.timeZone = 7200;
  for (const config::QueueInfo& q : config::queueTable()) {
    cfg.*q.requestName = "q" + std::to_string(q.number);
    cfg.*q.replyName = "r" + std::to_string(q.number);
  }
  return cfg;
}

std::string storeDir() { return fuzz::scratchDir() + "/stores"; }

// Removes what the last input left in the scratch folder; the log only
// now and then (it is appended to by every input).
void resetFiles() {
  static unsigned inputs = 0;
  std::error_code ec;
  std::filesystem::remove_all(storeDir(), ec);
  std::filesystem::create_directories(storeDir(), ec);
  if (++inputs % 512 == 0) std::filesystem::remove_all(fuzz::scratchDir() + "/log", ec);
}

// The carrying-out calls the never-twice property looks at: money moved,
// a trade opened, a mail sent (a close of an open trade is a change that
// may be repeated: the fake keeps the trade open).
int carriedOut(const FakeManager& fake) {
  int n = fake.count("MailSend");
  for (const mt::TradeTransInfo& info : fake.transactions()) {
    n += info.type != mt::TT_BR_ORDER_CLOSE;
  }
  return n;
}

struct Outcome {
  bool finished = false;  // the operation returned (it read its request)
  int code = 0;
};

// Dispatches text to route on world; checks the one-reply property.
Outcome dispatch(World& world, int route, const std::string& text) {
  Outcome outcome;
  test_util::ReplyRecorder reply;
  const operations::OperationFn fn = operations::routeTable()[static_cast<size_t>(route - 1)].operation;
  const messaging::Operation operation = [&](const Json::Value& request,
                                             messaging::ReplySender& sender) {
    outcome.code = fn(world.ctx, request, sender);
    outcome.finished = true;
  };
  messaging::dispatchRequest(config::current().*config::queueInfo(route).requestName, operation,
                             reply, text);

  if (!outcome.finished) {
    if (!reply.sent.empty()) fuzz::fail("a request that was not read got a reply", reply.sent[0]);
    return outcome;
  }
  if (reply.sent.size() != 1) {
    fuzz::fail("a request got other than one reply", std::to_string(reply.sent.size()));
  }
  const std::string& sent = reply.sent[0];
  Json::Value parsed;
  if (sent.empty() || sent.back() != '\n' || !util::parseJson(sent, &parsed) ||
      !parsed.isObject() || !parsed["code"].isInt() || !parsed["msg"].isString() ||
      !parsed.isMember("data")) {
    fuzz::fail("a reply is not {code, data, msg} on one line", sent);
  }
  if (parsed["code"].asInt() != outcome.code ||
      parsed["msg"].asString() != (outcome.code == 200 ? "success" : "fail")) {
    fuzz::fail("a reply's code or msg is not the operation's result", sent);
  }
  return outcome;
}

void checkArrays(const FakeManager& fake, const char* which) {
  if (fake.outstandingArrays() != 0 || fake.badFrees() != 0) {
    fuzz::fail("manager arrays not freed exactly once",
               std::string(which) + ": outstanding " + std::to_string(fake.outstandingArrays()) +
                   ", bad frees " + std::to_string(fake.badFrees()));
  }
}

// A mail is remembered only by a serial.
bool hasSerial(const std::string& text) {
  Json::Value request;
  return util::parseJson(text, &request) && request.isObject() && request["serial"].isString() &&
         !request["serial"].asString().empty();
}

int pauses = 0;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quietConsole();
  util::setLogDirectory(fuzz::scratchDir() + "/log");
  config::setCurrent(settings());
  util::setPauseHook([](int) {
    if (++pauses > kMaxPauses) fuzz::fail("a request paused without end");
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ByteReader in(data, size);
  const int route = in.next() % config::kRouteCount + 1;
  const unsigned flags = in.next();
  const int scripted = in.next() % 16;
  struct Script {
    bool pumping;
    const char* call;
    std::vector<int> results;
  };
  std::vector<Script> scripts;
  for (int i = 0; i < scripted; ++i) {
    const unsigned char which = in.next();
    const unsigned char what = in.next();
    scripts.push_back(Script{(which & 0x80) != 0, kCalls[(which & 0x7f) % kCallCount],
                             std::vector<int>(1 + (what >> 3) % 8, kResults[what & 7])});
  }
  const std::string text(in.rest());

  resetFiles();
  server::clearStop();
  pauses = 0;
  {
    World world(storeDir(), flags);
    for (const Script& s : scripts) {
      (s.pumping ? world.pumpFake : world.normalFake).script(s.call, s.results);
    }

    const Outcome first = dispatch(world, route, text);
    if ((flags & kRunTwice) && first.finished) {
      const int before = carriedOut(world.normalFake);
      pauses = 0;
      dispatch(world, route, text);
      const bool remembered = route == config::kTradeTransInfo || route == config::kImportTrade ||
                              (route == config::kEmailSend && hasSerial(text));
      if (remembered && first.code == 200 && carriedOut(world.normalFake) != before) {
        fuzz::fail("a request answered with 200 was carried out again when repeated", text);
      }
    }
    checkArrays(world.normalFake, "normal");
    checkArrays(world.pumpFake, "pumping");
  }
  return 0;
}
