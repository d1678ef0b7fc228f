// The guarded manager link and the arrays it hands out, driven through the
// in-process fake manager.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "FakeManager.h"
#include "server/FieldText.h"
#include "server/ManagerLink.h"
#include "test_util/Records.h"

namespace {

using test_util::account;
using testing_support::FakeManager;

TEST(ManagerLinkTest, WithoutInterfaceReturnsFallbackAndNeverCalls) {
  server::ManagerLink link(static_cast<mt::CManagerInterface*>(nullptr));
  EXPECT_FALSE(link.hasInterface());
  bool ran = false;
  int r = link.call(-7, [&](mt::CManagerInterface&) {
    ran = true;
    return 0;
  });
  EXPECT_EQ(-7, r);
  EXPECT_FALSE(ran);
  auto users = link.fetchArray<mt::UserRecord>(
      [&](mt::CManagerInterface& m, int* n) {
        ran = true;
        return m.UsersGet(n);
      });
  EXPECT_TRUE(users.empty());
  EXPECT_FALSE(ran);
  EXPECT_EQ(nullptr, link.interfaceForPumpHandler());
  link.disconnect();
  link.release();
  link.memFree(nullptr);
}

TEST(ManagerLinkTest, MissingLibraryOrExportsLeaveNoInterface) {
  // No library at all, and a library without the plugin's exports: the
  // problem names the library and the cause (the system's text after ": ").
#ifdef _WIN32
  const char* withoutExports = "kernel32.dll";
#else
  const char* withoutExports = "libm.so.6";
#endif
  const std::pair<const char*, std::string> cases[] = {
      {"/nonexistent/mtmanapi.so", "manager library /nonexistent/mtmanapi.so cannot be loaded: "},
      {withoutExports, std::string("manager library ") + withoutExports + " has no MtManCreate"}};
  for (const auto& [path, problem] : cases) {
    ::testing::internal::CaptureStdout();
    server::ManagerLink link(path);
    EXPECT_EQ("Failed to create MetaTrader 4 Manager API interface\n",
              ::testing::internal::GetCapturedStdout())
        << path;
    EXPECT_FALSE(link.hasInterface());
    EXPECT_EQ(link.problem().substr(0, problem.size()), problem);
    EXPECT_EQ(-1, link.call(-1, [](mt::CManagerInterface& m) {
                return m.Ping();
              }));
  }
}

TEST(ManagerLinkTest, ArraysAreFreedExactlyOnce) {
  FakeManager fake;
  fake.addUser(account(1, "a"));
  fake.addUser(account(2, "b"));
  {
    server::ManagerLink link(&fake);
    {
      auto users = link.fetchArray<mt::UserRecord>(
          [](mt::CManagerInterface& m, int* n) { return m.UsersGet(n); });
      ASSERT_EQ(2, users.count());
      EXPECT_EQ("b", mt::fieldText(users[1].name));
      EXPECT_EQ(1, fake.outstandingArrays());

      // Moving hands the array over; only the last owner frees it.
      auto moved = std::move(users);
      EXPECT_TRUE(users.empty());
      EXPECT_EQ(2, moved.count());
      moved.reset();
      EXPECT_EQ(0, fake.outstandingArrays());
      moved.reset();
    }
    // An empty list is still an array to give back.
    auto none = link.fetchArray<mt::TradeRecord>(
        [](mt::CManagerInterface& m, int* n) {
          return m.TradesGetByLogin(5, "", n);
        });
    EXPECT_TRUE(none.empty());
    EXPECT_TRUE(none.returned());
    EXPECT_EQ(1, fake.outstandingArrays());
    // A failed call returns no array, whatever count it left: nothing to
    // read and nothing to give back.
    auto failed = link.fetchArray<mt::TradeRecord>([](mt::CManagerInterface&, int* n) {
      *n = 3;
      return static_cast<mt::TradeRecord*>(nullptr);
    });
    EXPECT_FALSE(failed.returned());
    EXPECT_EQ(0, failed.count());
    EXPECT_EQ(failed.begin(), failed.end());
  }
  EXPECT_EQ(0, fake.outstandingArrays());
  EXPECT_EQ(2, fake.memFreeCount());
  EXPECT_EQ(0, fake.badFrees());
  EXPECT_TRUE(fake.released());
}

TEST(ManagerLinkTest, TeardownDisconnectsOnlyWhenConnected) {
  FakeManager connected;
  connected.setConnected(true);
  FakeManager idle;
  {
    server::ManagerLink a(&connected);
    server::ManagerLink b(&idle);
  }
  EXPECT_EQ(1, connected.count("Disconnect"));
  EXPECT_EQ(1, connected.count("Release"));
  EXPECT_EQ(0, idle.count("Disconnect"));
  EXPECT_EQ(1, idle.count("Release"));
}

TEST(ManagerLinkTest, ReleaseClearsTheInterfaceForEveryLaterUse) {
  auto* fake = new FakeManager;
  fake->setDeleteOnRelease(true);
  server::ManagerLink link(fake);
  EXPECT_EQ(fake, link.interfaceForPumpHandler());
  link.disconnect();
  link.release();  // deletes the fake
  EXPECT_FALSE(link.hasInterface());
  EXPECT_EQ(nullptr, link.interfaceForPumpHandler());
  EXPECT_EQ(3, link.call(3, [](mt::CManagerInterface& m) {
              return m.Ping();
            }));
}

}  // namespace
