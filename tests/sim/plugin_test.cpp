// The manager-interface plugin against an in-process simulated server on
// loopback: pumping handler re-entry, disconnection while the handler runs,
// dead links and the entry points.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <cstdio>
#include <mutex>
#include <set>
#include <thread>

#include "server/FieldText.h"
#include "sim/ManagerClient.h"
#include "sim/Server.h"
#include "sim/WireJson.h"
#include "tests/unit/test_util/TempDir.h"

extern "C" int MtManCreate(int version, mt::CManagerInterface** out);

namespace {

using namespace std::chrono_literals;

const char* kSeed = R"({"cmd": "seed", "state": {
  "managers": [{"login": 1, "password": "pw", "admin": 1}],
  "groups": [{"group": "demo"}],
  "symbols": [{"symbol": "EURUSD", "digits": 5, "contract_size": 100000, "point": 0.00001}],
  "quotes": [{"symbol": "EURUSD", "bid": 1.1, "ask": 1.1002}],
  "users": [{"login": 1001, "group": "demo", "balance": 100}]}})";

// Collects what the pumping handler saw; the handler itself is a test hook.
struct Pumped {
  mt::CManagerInterface* iface = nullptr;
  std::mutex mutex;
  std::condition_variable changed;
  int starts = 0;
  int quoteEvents = 0;
  double lastBid = 0;
  int balanceEvents = 0;
  std::function<void(int code)> hook;
};

void onPump(int code, int type, void* data, void* param) {
  auto* p = static_cast<Pumped*>(param);
  if (p->hook) p->hook(code);
  std::lock_guard<std::mutex> lock(p->mutex);
  if (code == mt::PUMP_START_PUMPING) ++p->starts;
  if (code == mt::PUMP_UPDATE_BIDASK) {
    mt::SymbolInfo infos[32];
    int n;
    while ((n = p->iface->SymbolInfoUpdated(infos, 32)) > 0) {
      p->lastBid = infos[n - 1].bid;
    }
    ++p->quoteEvents;
  }
  if (code == mt::PUMP_UPDATE_TRADES && type == mt::TRANS_DELETE && data != nullptr &&
      static_cast<mt::TradeRecord*>(data)->cmd == mt::OP_BALANCE) {
    ++p->balanceEvents;
  }
  p->changed.notify_all();
}

class PluginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = std::make_unique<sim::Server>(dir_.file("state.json"));
    std::string error;
    ASSERT_TRUE(server_->start(0, 0, &error)) << error;
    ASSERT_TRUE(admin(kSeed)["ok"].asBool());
    address_ = "127.0.0.1:" + std::to_string(server_->port());
  }
  void TearDown() override {
    for (mt::CManagerInterface* i : created_) i->Release();
    if (server_) server_->stop();
    server_.reset();
  }

  Json::Value admin(const std::string& text) {
    Json::Value request;
    EXPECT_TRUE(sim::parseJsonText(text, &request, nullptr)) << text;
    return server_->admin(request);
  }

  mt::CManagerInterface* loggedIn() {
    mt::CManagerInterface* iface = nullptr;
    EXPECT_EQ(0, MtManCreate(mt::kManagerApiVersion, &iface));
    created_.push_back(iface);
    EXPECT_EQ(0, iface->Connect(address_.c_str()));
    EXPECT_EQ(0, iface->Login(1, "pw"));
    return iface;
  }

  template <typename Pred>
  bool waitFor(Pumped& p, Pred pred) {
    std::unique_lock<std::mutex> lock(p.mutex);
    return p.changed.wait_for(lock, 10s, [&] { return pred(); });
  }

  test_util::TempDir dir_;
  std::string address_;
  std::unique_ptr<sim::Server> server_;
  std::vector<mt::CManagerInterface*> created_;
};

TEST_F(PluginTest, HandlerReadsQuotesWhileAnotherThreadIsInACall) {
  mt::CManagerInterface* iface = loggedIn();
  Pumped pumped;
  pumped.iface = iface;
  ASSERT_EQ(0, iface->PumpingSwitchEx(onPump, mt::kPumpingFlagsAll, &pumped));
  std::atomic<bool> stop{false};
  std::atomic<int> calls{0};
  std::thread caller([&] {
    while (!stop) {
      mt::UserRecord user{};
      EXPECT_EQ(0, iface->UserRecordGet(1001, &user));
      ++calls;
    }
  });
  for (int i = 1; i <= 40; ++i) {
    char quote[128];
    std::snprintf(quote, sizeof(quote),
                  R"({"cmd":"quote","symbol":"EURUSD","bid":%.4f,"ask":%.4f})", 1.0 + i / 1000.0,
                  1.0 + i / 1000.0 + 0.0002);
    ASSERT_TRUE(admin(quote)["ok"].asBool());
  }
  EXPECT_TRUE(waitFor(pumped, [&] { return pumped.lastBid > 1.0395; }));
  stop = true;
  caller.join();
  EXPECT_GT(calls.load(), 0);
  EXPECT_EQ(1, pumped.starts);
  mt::SymbolInfo none[4];
  EXPECT_EQ(0, iface->SymbolInfoUpdated(none, 4));  // all drained
  EXPECT_EQ(0, iface->SymbolInfoUpdated(nullptr, 4));
}

TEST_F(PluginTest, DisconnectFromAnotherThreadWhileTheHandlerRuns) {
  mt::CManagerInterface* pump = loggedIn();
  Pumped pumped;
  pumped.iface = pump;
  std::atomic<bool> inHandler{false};
  std::atomic<bool> release{false};
  std::atomic<int> handlerCallResult{-1};
  pumped.hook = [&](int code) {
    if (code != mt::PUMP_UPDATE_TRADES || inHandler) return;
    inHandler = true;
    auto until = std::chrono::steady_clock::now() + 5s;
    while (!release && std::chrono::steady_clock::now() < until) std::this_thread::yield();
    // Calls from inside the handler still work (or fail) without blocking.
    mt::UserRecord user{};
    handlerCallResult = pump->UserRecordGet(1001, &user);
  };
  ASSERT_EQ(0, pump->PumpingSwitchEx(onPump, mt::kPumpingFlagsNoQuotes, &pumped));
  ASSERT_TRUE(admin(R"({"cmd":"balance","login":1001,"cmd6":6,"amount":5})")["ok"].asBool());
  auto until = std::chrono::steady_clock::now() + 10s;
  while (!inHandler && std::chrono::steady_clock::now() < until) std::this_thread::yield();
  ASSERT_TRUE(inHandler);
  std::thread releaser([&] {
    std::this_thread::sleep_for(100ms);
    release = true;
  });
  auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(0, pump->Disconnect());
  releaser.join();
  EXPECT_LT(std::chrono::steady_clock::now() - started, 6s);
  EXPECT_NE(-1, handlerCallResult.load());
  EXPECT_EQ(0, pump->IsConnected());
}

TEST_F(PluginTest, DeadLinksAnswerNoConnectionAndArraysAreOwnedByThePlugin) {
  mt::CManagerInterface* iface = loggedIn();
  Pumped pumped;
  pumped.iface = iface;
  ASSERT_EQ(0, iface->PumpingSwitchEx(onPump, mt::kPumpingFlagsNoQuotes, &pumped));
  int total = -1;
  mt::UserRecord* users = iface->UsersGet(&total);
  ASSERT_NE(nullptr, users);
  EXPECT_EQ(1, total);
  iface->MemFree(users);
  mt::TradeRecord* trades = iface->TradesGetByLogin(1001, "demo", &total);
  ASSERT_NE(nullptr, trades);  // an empty list is still an array
  EXPECT_EQ(0, total);
  iface->MemFree(trades);
  EXPECT_EQ(1, iface->IsConnected());
  EXPECT_EQ(0, iface->Ping());

  server_->stop();
  auto until = std::chrono::steady_clock::now() + 5s;
  while (iface->IsConnected() != 0 && std::chrono::steady_clock::now() < until) {
    std::this_thread::yield();
  }
  EXPECT_EQ(0, iface->IsConnected());
  EXPECT_NE(0, iface->Ping());
  mt::UserRecord user{};
  EXPECT_EQ(mt::RET_NO_CONNECT, iface->UserRecordGet(1001, &user));
  EXPECT_EQ(nullptr, iface->SymbolsGetAll(&total));
  EXPECT_EQ(0, total);
  EXPECT_EQ(mt::RET_NO_CONNECT, iface->Connect(address_.c_str()));
  EXPECT_STREQ("no connection", iface->ErrorDescription(mt::RET_NO_CONNECT));
}

TEST_F(PluginTest, FailedPumpingSwitchReportsTheLinkDownUntilItSucceeds) {
  mt::CManagerInterface* iface = loggedIn();
  Pumped pumped;
  pumped.iface = iface;
  ASSERT_TRUE(admin(R"({"cmd":"script","call":"PumpingSwitchEx","results":[2]})")["ok"].asBool());
  EXPECT_EQ(mt::RET_ERROR, iface->PumpingSwitchEx(onPump, mt::kPumpingFlagsNoQuotes, &pumped));
  EXPECT_EQ(0, iface->IsConnected());
  EXPECT_EQ(0, iface->PumpingSwitchEx(onPump, mt::kPumpingFlagsNoQuotes, &pumped));
  EXPECT_EQ(1, iface->IsConnected());
  EXPECT_TRUE(waitFor(pumped, [&] { return pumped.starts == 1; }));
}

TEST_F(PluginTest, ConcurrentManagersGetDistinctIncreasingTicketsAndExactMoney) {
  constexpr int kManagers = 4;
  constexpr int kOperations = 25;
  std::vector<mt::CManagerInterface*> managers;
  for (int i = 0; i < kManagers; ++i) managers.push_back(loggedIn());
  std::vector<std::vector<int>> tickets(kManagers);
  std::vector<std::thread> threads;
  for (int m = 0; m < kManagers; ++m) {
    threads.emplace_back([&, m] {
      for (int i = 0; i < kOperations; ++i) {
        mt::TradeTransInfo info{};
        info.type = mt::TT_BR_BALANCE;
        info.cmd = mt::OP_BALANCE;
        info.orderby = 1001;
        info.price = 1.25;
        mt::setField(info.comment, "m" + std::to_string(m) + "-" + std::to_string(i));
        EXPECT_EQ(0, managers[m]->TradeTransaction(&info));
        tickets[m].push_back(info.order);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  std::set<int> all;
  for (const std::vector<int>& list : tickets) {
    for (std::size_t i = 1; i < list.size(); ++i) EXPECT_LT(list[i - 1], list[i]);
    all.insert(list.begin(), list.end());
  }
  EXPECT_EQ(static_cast<std::size_t>(kManagers * kOperations), all.size());
  mt::UserRecord user{};
  ASSERT_EQ(0, managers[0]->UserRecordGet(1001, &user));
  EXPECT_DOUBLE_EQ(100 + kManagers * kOperations * 1.25, user.balance);
  int total = 0;
  mt::TradeRecord* history = managers[0]->TradesUserHistory(1001, 0, 4102444800LL, &total);
  ASSERT_NE(nullptr, history);
  EXPECT_EQ(kManagers * kOperations, total);
  managers[0]->MemFree(history);
}

TEST(PluginEntry, WrongVersionGivesNoInterface) {
  mt::CManagerInterface* iface = reinterpret_cast<mt::CManagerInterface*>(0x1);
  EXPECT_NE(0, MtManCreate(mt::kManagerApiVersion + 1, &iface));
  EXPECT_EQ(nullptr, iface);
  EXPECT_NE(0, MtManCreate(mt::kManagerApiVersion, nullptr));
}

}  // namespace
