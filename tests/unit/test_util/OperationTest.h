// The fixture of every operation's unit tests: a context over two fake
// managers (normal and pumping), the four stores on files in a temporary
// folder, a reply recorder, and the pauses recorded instead of waited.
#ifndef MT4BRIDGE_TESTS_OPERATION_TEST_H_
#define MT4BRIDGE_TESTS_OPERATION_TEST_H_

#include <gtest/gtest.h>
#include <json/json.h>

#include <string>
#include <vector>

#include "FakeManager.h"
#include "config/Config.h"
#include "operations/OperationContext.h"
#include "server/ManagerLink.h"
#include "store/FinanceBalanceStore.h"
#include "store/UserInfoStore.h"
#include "test_util/ReplyRecorder.h"
#include "test_util/TempDir.h"
#include "util/Json.h"
#include "util/Pause.h"

namespace test_util {

class OperationTest : public ::testing::Test {
 protected:
  OperationTest()
      : previousHook_(util::setPauseHook([this](int ms) { pauses.push_back(ms); })) {
    normalFake.setConnected(true);
  }
  ~OperationTest() override { util::setPauseHook(previousHook_); }

  // Calls made on both fakes.
  int managerCalls() const {
    return static_cast<int>(normalFake.calls().size() + pumpFake.calls().size());
  }
  // The last reply sent, parsed (null when none was sent).
  Json::Value lastReply() const {
    EXPECT_FALSE(reply.sent.empty());
    Json::Value v;
    if (!reply.sent.empty()) {
      EXPECT_TRUE(util::parseJson(reply.sent.back(), &v));
    }
    return v;
  }

  TempDir dir;
  // The fakes outlive the links that adopt them.
  testing_support::FakeManager normalFake;
  testing_support::FakeManager pumpFake;
  server::ManagerLink normal{&normalFake};
  server::ManagerLink pumping{&pumpFake};
  store::FinanceBalanceStore balances{dir.file("financeBalanceHistory")};
  store::UserInfoStore users{dir.file("userInfo")};
  store::FinanceBalanceStore imports{dir.file("tradeImportHistory")};
  store::FinanceBalanceStore mails{dir.file("emailSendHistory")};
  config::ConfigRecord config;
  operations::OperationContext ctx{normal, pumping, balances, users, imports, mails, config};
  ReplyRecorder reply;
  std::vector<int> pauses;

 private:
  util::PauseHook previousHook_;
};

}  // namespace test_util

#endif  // MT4BRIDGE_TESTS_OPERATION_TEST_H_
