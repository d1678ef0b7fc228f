// The connection routines and the reconnection thread, driven through two
// fake managers with a pause recorder in place of real waiting.
#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "FakeManager.h"
#include "config/Config.h"
#include "server/Connections.h"
#include "server/ReconnectionThread.h"
#include "server/StopFlag.h"
#include "test_util/TempDir.h"
#include "util/Log.h"
#include "util/Pause.h"
#include "util/Platform.h"

namespace {

using testing_support::FakeManager;

constexpr std::time_t kLogTime = 1765190000;  // a fixed local day
constexpr const char* kPassword = "Secr3t-pw";

void testHandler(int, int, void*, void*) {}

// Log directory, clock, settings and pause hook for one test; all restored
// afterwards.
class ConnectionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    util::setLogDirectory(dir_.file("log"));
    util::setLogClock([] { return kLogTime; });
    config::ConfigRecord settings;
    settings.server = "127.0.0.1:4433";
    settings.login = 7;
    settings.password = kPassword;
    settings.pumpUpdateBidAsk = 0;
    config::setCurrent(settings);
    server::clearStop();
    util::setPauseHook([this](int ms) { onPause(ms); });
  }

  void TearDown() override {
    util::setPauseHook(nullptr);
    util::setLogClock(nullptr);
    util::setLogDirectory("../log/mt4");
    server::clearStop();
  }

  void setBidAsk(int value) {
    config::ConfigRecord settings = config::current();
    settings.pumpUpdateBidAsk = value;
    config::setCurrent(settings);
  }

  // The day's log, minus the time stamps ("YYYY-MM-DD hh:mm:ss ").
  std::vector<std::string> logLines() {
    std::ifstream in(util::logFilePath(platform::localTime(kLogTime)));
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) lines.push_back(line.substr(20));
    return lines;
  }

  std::string logText() {
    std::ifstream in(util::logFilePath(platform::localTime(kLogTime)));
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  void onPause(int ms) {
    std::lock_guard<std::mutex> lock(mutex_);
    pauses_.push_back(ms);
    if (onPause_) onPause_(ms, pauses_);
  }

  std::vector<int> pauses() {
    std::lock_guard<std::mutex> lock(mutex_);
    return pauses_;
  }

  test_util::TempDir dir_;
  std::mutex mutex_;
  std::vector<int> pauses_;
  // Runs on each pause (e.g. to request a stop), with the pauses so far.
  std::function<void(int, const std::vector<int>&)> onPause_;
};

// ---- Connection routines -----------------------------------------------

TEST_F(ConnectionsTest, NormalManagerConnectsAndLogsInAgainEveryTime) {
  FakeManager fake;
  server::ManagerLink link(&fake);
  EXPECT_EQ(1, server::connectNormalManager(link));
  EXPECT_EQ(1, server::connectNormalManager(link));
  auto calls = fake.calls();
  ASSERT_EQ(4u, calls.size());
  EXPECT_EQ("Connect", calls[0].name);
  EXPECT_EQ(std::vector<std::string>{"127.0.0.1:4433"}, calls[0].args);
  EXPECT_EQ("Login", calls[1].name);
  EXPECT_EQ((std::vector<std::string>{"7", kPassword}), calls[1].args);
  EXPECT_EQ((std::vector<std::string>{"Connect to 127.0.0.1:4433 success",
                                      "Connect to 127.0.0.1:4433 success"}),
            logLines());
  EXPECT_EQ(0, fake.count("PumpingSwitchEx"));
}

TEST_F(ConnectionsTest, RefusedConnectIsLoggedAndSkipsLogin) {
  FakeManager fake;
  fake.setDefault("Connect", mt::RET_NO_CONNECT);
  server::ManagerLink link(&fake);
  EXPECT_EQ(-1, server::connectNormalManager(link));
  EXPECT_EQ(-1, server::connectPumpingManager(link, &testHandler));
  EXPECT_EQ(0, fake.count("Login"));
  EXPECT_EQ(0, fake.count("PumpingSwitchEx"));
  EXPECT_EQ((std::vector<std::string>{"Connect to 127.0.0.1:4433 failed",
                                      "Connect to 127.0.0.1:4433 failed"}),
            logLines());
}

TEST_F(ConnectionsTest, RefusedLoginLogsTheMaskedPasswordAndServerText) {
  FakeManager fake;
  fake.setDefault("Login", mt::RET_INVALID_LOGIN);
  fake.setErrorText(mt::RET_INVALID_LOGIN, "Invalid account");
  server::ManagerLink link(&fake);
  EXPECT_EQ(-1, server::connectNormalManager(link));
  // The half-open connection is dropped, so the pumping attempt logs in
  // again instead of passing for connected.
  EXPECT_FALSE(fake.connected());
  EXPECT_EQ(-1, server::connectPumpingManager(link, &testHandler));
  EXPECT_EQ(2, fake.count("Login"));
  EXPECT_EQ(2, fake.count("Disconnect"));
  EXPECT_FALSE(fake.connected());
  EXPECT_EQ(0, fake.count("PumpingSwitchEx"));
  const std::string line = "Connect to 7 as '***' failed (Invalid account)";
  EXPECT_EQ((std::vector<std::string>{line, line}), logLines());
  EXPECT_EQ(std::string::npos, logText().find(kPassword));
}

TEST_F(ConnectionsTest, StopFlagEndsRoutinesWithoutServerCalls) {
  FakeManager fake;
  server::ManagerLink link(&fake);
  server::requestStop();
  EXPECT_EQ(-1, server::connectNormalManager(link));
  EXPECT_EQ(-1, server::connectPumpingManager(link, &testHandler));
  EXPECT_TRUE(fake.calls().empty());
  EXPECT_TRUE(logLines().empty());
}

TEST_F(ConnectionsTest, StopDuringAnAttemptLogsThreadEnded) {
  // Stop set while Connect runs: Connect succeeds, Login is never asked.
  FakeManager a;
  a.setHook("Connect", [] { server::requestStop(); });
  server::ManagerLink linkA(&a);
  EXPECT_EQ(-1, server::connectNormalManager(linkA));
  EXPECT_EQ(0, a.count("Login"));
  EXPECT_FALSE(a.connected());

  // Stop set while a failing Connect runs.
  server::clearStop();
  FakeManager b;
  b.setDefault("Connect", mt::RET_NO_CONNECT);
  b.setHook("Connect", [] { server::requestStop(); });
  server::ManagerLink linkB(&b);
  EXPECT_EQ(-1, server::connectNormalManager(linkB));

  // Stop set while a failing Login runs: no error text is asked for.
  server::clearStop();
  FakeManager c;
  c.setDefault("Login", mt::RET_INVALID_LOGIN);
  c.setHook("Login", [] { server::requestStop(); });
  server::ManagerLink linkC(&c);
  EXPECT_EQ(-1, server::connectPumpingManager(linkC, &testHandler));
  EXPECT_EQ(0, c.count("ErrorDescription"));
  EXPECT_EQ(0, c.count("PumpingSwitchEx"));

  EXPECT_EQ((std::vector<std::string>{"Thread ended", "Thread ended",
                                      "Thread ended"}),
            logLines());
}

TEST_F(ConnectionsTest, LinkWithoutInterfaceFailsQuietly) {
  server::ManagerLink link(static_cast<mt::CManagerInterface*>(nullptr));
  EXPECT_EQ(-1, server::connectNormalManager(link));
  EXPECT_EQ(-1, server::connectPumpingManager(link, &testHandler));
  EXPECT_TRUE(logLines().empty());
}

TEST_F(ConnectionsTest, ConnectedPumpingManagerIsKeptAsItIs) {
  FakeManager fake;
  fake.setConnected(true);
  server::ManagerLink link(&fake);
  EXPECT_EQ(1, server::connectPumpingManager(link, &testHandler));
  EXPECT_EQ(std::vector<std::string>{"IsConnected"}, fake.names());
  EXPECT_TRUE(logLines().empty());
}

TEST_F(ConnectionsTest, PumpingModeFlagsFollowTheQuoteSetting) {
  struct Case {
    int bidAsk;
    int flags;
  };
  for (Case c : {Case{1, 0}, Case{0, 11}, Case{2, 11}, Case{-1, 11}}) {
    setBidAsk(c.bidAsk);
    FakeManager fake;
    server::ManagerLink link(&fake);
    EXPECT_EQ(1, server::connectPumpingManager(link, &testHandler));
    EXPECT_EQ((std::vector<std::string>{"IsConnected", "Connect", "Login",
                                        "PumpingSwitchEx"}),
              fake.names());
    EXPECT_EQ(c.flags, fake.pumpFlags()) << "pumpUpdateBidAsk " << c.bidAsk;
    EXPECT_EQ(&testHandler, fake.pumpHandler());
    EXPECT_EQ("(null)", fake.calls().back().args[2]);  // null parameter
  }
  // The pumping manager writes no success line.
  EXPECT_TRUE(logLines().empty());
}

TEST_F(ConnectionsTest, PumpingSwitchResultIsIgnored) {
  FakeManager fake;
  fake.setDefault("PumpingSwitchEx", mt::RET_ERROR);
  server::ManagerLink link(&fake);
  EXPECT_EQ(1, server::connectPumpingManager(link, &testHandler));
  EXPECT_EQ(&testHandler, fake.pumpHandler());
}

// ---- Reconnection thread -----------------------------------------------

// Records, across both fakes, the connection calls in order.
struct CallOrder {
  std::mutex mutex;
  std::vector<std::string> seen;
  void watch(FakeManager& fake, const std::string& who) {
    for (const char* name : {"Connect", "Login", "Ping", "PumpingSwitchEx"}) {
      std::string entry = who + ":" + name;
      fake.setHook(name, [this, entry] {
        std::lock_guard<std::mutex> lock(mutex);
        seen.push_back(entry);
      });
    }
  }
};

TEST_F(ConnectionsTest, FirstCycleConnectsPumpingThenNormal) {
  FakeManager normalFake, pumpingFake;
  CallOrder order;
  order.watch(normalFake, "normal");
  order.watch(pumpingFake, "pumping");
  server::ManagerLink normal(&normalFake), pumping(&pumpingFake);
  // The first pause of the cycle's wait ends the run.
  onPause_ = [](int, const std::vector<int>&) { server::requestStop(); };

  ::testing::internal::CaptureStdout();
  server::runGetManagerThread({&normal, &pumping}, &testHandler);
  std::string out = ::testing::internal::GetCapturedStdout();

  EXPECT_EQ(
      "ExtManagerPump reconnect start\n"
      "ExtManagerPump reconnect\n"
      "ExtManagerPump reconnect end\n"
      "manager reconnect start\n"
      "manager reconnect\n"
      "manager reconnect end\n",
      out);
  EXPECT_EQ((std::vector<std::string>{"pumping:Connect", "pumping:Login",
                                      "pumping:PumpingSwitchEx",
                                      "normal:Connect", "normal:Login"}),
            order.seen);
  EXPECT_EQ(11, pumpingFake.pumpFlags());
  EXPECT_EQ(&testHandler, pumpingFake.pumpHandler());
  EXPECT_EQ(std::vector<int>{1000}, pauses());
  EXPECT_EQ(std::vector<std::string>{"Connect to 127.0.0.1:4433 success"},
            logLines());
}

TEST_F(ConnectionsTest, HealthyLinksAreOnlyCheckedAndCycleWaitsTenSeconds) {
  FakeManager normalFake, pumpingFake;
  normalFake.setConnected(true);
  pumpingFake.setConnected(true);
  server::ManagerLink normal(&normalFake), pumping(&pumpingFake);
  // Two full cycles of ten 1 s pauses each, then stop.
  onPause_ = [](int, const std::vector<int>& p) {
    if (p.size() == 20) server::requestStop();
  };
  ::testing::internal::CaptureStdout();
  server::runGetManagerThread({&normal, &pumping}, &testHandler);
  EXPECT_EQ("", ::testing::internal::GetCapturedStdout());
  EXPECT_EQ((std::vector<std::string>{"IsConnected", "IsConnected"}),
            pumpingFake.names());
  EXPECT_EQ((std::vector<std::string>{"IsConnected", "Ping", "IsConnected",
                                      "Ping"}),
            normalFake.names());
  EXPECT_EQ(std::vector<int>(20, 1000), pauses());
}

TEST_F(ConnectionsTest, NormalManagerFailingPingIsReconnected) {
  FakeManager normalFake, pumpingFake;
  normalFake.setConnected(true);
  pumpingFake.setConnected(true);
  normalFake.script("Ping", {1});
  server::ManagerLink normal(&normalFake), pumping(&pumpingFake);
  onPause_ = [](int, const std::vector<int>&) { server::requestStop(); };
  ::testing::internal::CaptureStdout();
  server::runGetManagerThread({&normal, &pumping}, &testHandler);
  EXPECT_EQ(
      "manager reconnect start\n"
      "manager reconnect\n"
      "manager reconnect end\n",
      ::testing::internal::GetCapturedStdout());
  EXPECT_EQ(0, pumpingFake.count("Connect"));
  EXPECT_EQ((std::vector<std::string>{"IsConnected", "Ping", "Connect",
                                      "Login"}),
            normalFake.names());
}

TEST_F(ConnectionsTest, RefusedLoginIsRetriedEvery100Ms) {
  FakeManager normalFake, pumpingFake;
  normalFake.setConnected(true);
  pumpingFake.script("Login", {mt::RET_INVALID_LOGIN, mt::RET_INVALID_LOGIN,
                               mt::RET_INVALID_LOGIN});
  server::ManagerLink normal(&normalFake), pumping(&pumpingFake);
  onPause_ = [](int ms, const std::vector<int>&) {
    if (ms != 100) server::requestStop();
  };
  ::testing::internal::CaptureStdout();
  server::runGetManagerThread({&normal, &pumping}, &testHandler);
  EXPECT_EQ(
      "ExtManagerPump reconnect start\n"
      "ExtManagerPump reconnect\n"
      "ExtManagerPump reconnect\n"
      "ExtManagerPump reconnect\n"
      "ExtManagerPump reconnect\n"
      "ExtManagerPump reconnect end\n",
      ::testing::internal::GetCapturedStdout());
  EXPECT_EQ((std::vector<int>{100, 100, 100, 1000}), pauses());
  // Each attempt connects and logs in anew.
  EXPECT_EQ(4, pumpingFake.count("Connect"));
  EXPECT_EQ(4, pumpingFake.count("Login"));
  auto lines = logLines();
  ASSERT_EQ(3u, lines.size());
  for (const auto& l : lines) {
    EXPECT_EQ("Connect to 7 as '***' failed (error 64)", l);
  }
  EXPECT_EQ(1, pumpingFake.count("PumpingSwitchEx"));
}

TEST_F(ConnectionsTest, StopDuringRetriesSkipsTheRestOfTheCycle) {
  FakeManager normalFake, pumpingFake;
  pumpingFake.setDefault("Connect", mt::RET_NO_CONNECT);
  server::ManagerLink normal(&normalFake), pumping(&pumpingFake);
  onPause_ = [](int, const std::vector<int>& p) {
    if (p.size() == 3) server::requestStop();
  };
  ::testing::internal::CaptureStdout();
  server::runGetManagerThread({&normal, &pumping}, &testHandler);
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(3, pumpingFake.count("Connect"));
  EXPECT_TRUE(normalFake.calls().empty());
  EXPECT_EQ((std::vector<int>{100, 100, 100}), pauses());
}

TEST_F(ConnectionsTest, ThreadRunsCyclesUntilStopped) {
  FakeManager normalFake, pumpingFake;
  normalFake.setConnected(true);
  pumpingFake.setConnected(true);
  server::ManagerLink normal(&normalFake), pumping(&pumpingFake);
  std::atomic<int> slices{0};
  util::setPauseHook([&](int) {
    ++slices;
    std::this_thread::yield();
  });
  {
    server::ReconnectionThread thread({&normal, &pumping}, &testHandler);
    EXPECT_TRUE(thread.start());
    EXPECT_FALSE(thread.start());
    // Let it run a few cycles (bounded).
    for (int i = 0; i < 1000000 && slices.load() < 50; ++i) {
      std::this_thread::yield();
    }
    thread.stop();
    EXPECT_FALSE(thread.running());
    EXPECT_TRUE(server::stopRequested());
    thread.stop();
  }
  EXPECT_GE(pumpingFake.count("IsConnected"), 5);
  EXPECT_EQ(0, pumpingFake.count("Connect"));
  EXPECT_EQ(0, normalFake.count("Connect"));
}

TEST_F(ConnectionsTest, StopRequestedBeforeStartEndsTheThreadAtOnce) {
  FakeManager normalFake, pumpingFake;
  server::ManagerLink normal(&normalFake), pumping(&pumpingFake);
  server::requestStop();
  server::ReconnectionThread thread({&normal, &pumping}, &testHandler);
  ASSERT_TRUE(thread.start());
  thread.stop();
  EXPECT_TRUE(normalFake.calls().empty());
  EXPECT_TRUE(pumpingFake.calls().empty());
}

}  // namespace
