// The bounded retry routine and the retried array fetch.
#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "FakeManager.h"
#include "server/ManagerLink.h"
#include "server/ManagerResults.h"
#include "util/Pause.h"
#include "util/Retry.h"

namespace {

class Retry : public ::testing::Test {
 protected:
  Retry() : previous_(util::setPauseHook([this](int ms) { events.push_back(ms); })) {}
  ~Retry() override { util::setPauseHook(previous_); }

  // Calls answer results in turn (then 0); each call is recorded as -1000.
  int run(const util::RetryPlan& plan, std::deque<int> results) {
    return util::retry(plan, [&] {
      events.push_back(-1000);
      int r = results.empty() ? 0 : results.front();
      if (!results.empty()) results.pop_front();
      return r;
    });
  }

  std::vector<int> events;  // pauses (ms), -1000 per call, -6 per reconnect

 private:
  util::PauseHook previous_;
};

constexpr int kCall = -1000;

TEST_F(Retry, ManagerClassesAndReconnectOnSixOnly) {
  util::RetryPlan plan;
  plan.attempts = 100;
  plan.success = server::kSuccessZeroOrOne;
  plan.retryable = server::kRetryable;
  plan.reconnect = [this] { events.push_back(-6); };
  plan.reconnectOn = server::kNoConnection;
  // 2, 6, 255 are retried; the reconnect follows only the 6; 1 is a success.
  EXPECT_EQ(run(plan, {2, 6, 255, 1}), 1);
  EXPECT_EQ(events, (std::vector<int>{kCall, kCall, -6, kCall, kCall}));
  // A failure outside the retryable class ends at once.
  events.clear();
  EXPECT_EQ(run(plan, {6, 3, 0}), 3);
  EXPECT_EQ(events, (std::vector<int>{kCall, -6, kCall}));
  // Only 0: a 1 is retried like any failure when every failure is retryable.
  events.clear();
  plan.success = server::kSuccessZeroOnly;
  plan.retryable = util::ResultSet::every();
  plan.reconnect = nullptr;
  plan.attempts = 3;
  EXPECT_EQ(run(plan, {1, 1, 1, 0}), 1);
  EXPECT_EQ(events, (std::vector<int>{kCall, kCall, kCall}));
}

TEST_F(Retry, PausesGoThroughThePauseFunction) {
  util::RetryPlan plan;
  plan.attempts = 4;
  plan.pauseMs = 100;
  EXPECT_EQ(run(plan, {2, 2, 2, 2, 0}), 2);  // attempts spent
  EXPECT_EQ(events, (std::vector<int>{kCall, 100, kCall, 100, kCall, 100, kCall}));
  events.clear();
  plan.pauseFirst = true;
  plan.maxPauseMs = 250;  // doubling, bounded
  EXPECT_EQ(run(plan, {2, 2, 2, 0}), 0);
  EXPECT_EQ(events, (std::vector<int>{100, kCall, 200, kCall, 250, kCall, 250, kCall}));
}

TEST_F(Retry, UnboundedRetriesEndWhenStopped) {
  util::RetryPlan plan;
  plan.attempts = util::kUntilStopped;
  plan.pauseMs = 10;
  int asked = 0;
  plan.stop = [&] { return ++asked == 50; };
  std::vector<int> seen;
  plan.afterCall = [&](int attempt, int) { seen.push_back(attempt); };
  EXPECT_EQ(run(plan, std::deque<int>(100, 2)), 2);
  EXPECT_EQ(seen.size(), 50u);
  EXPECT_EQ(seen.back(), 50);
}

TEST_F(Retry, FetchKeepsTheFirstNonEmptyArrayAndFreesTheRest) {
  testing_support::FakeManager fake;
  server::ManagerLink link(&fake);
  mt::ConSymbol symbol{};
  fake.addSymbol(symbol);
  fake.script("SymbolsGetAll", {1, 0});  // nothing, then the list
  util::RetryPlan plan;
  plan.attempts = 6;
  plan.pauseMs = 1000;
  plan.pauseFirst = true;
  {
    auto list = server::fetchWithRetry<mt::ConSymbol>(plan, [&] {
      return link.fetchArray<mt::ConSymbol>(
          [](mt::CManagerInterface& m, int* total) { return m.SymbolsGetAll(total); });
    });
    EXPECT_EQ(list.count(), 1);
    EXPECT_EQ(events, (std::vector<int>{1000, 1000}));
    EXPECT_EQ(fake.outstandingArrays(), 1);
  }
  EXPECT_EQ(fake.outstandingArrays(), 0);
  EXPECT_EQ(fake.badFrees(), 0);
}

}  // namespace
