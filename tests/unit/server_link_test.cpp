// The guarded manager link and the arrays it hands out, driven through the
// in-process fake manager.
#include <gtest/gtest.h>

#include "FakeManager.h"
#include "server/FieldText.h"
#include "server/ManagerLink.h"

namespace {

using testing_support::FakeManager;

mt::UserRecord makeUser(int login, const char* name) {
  mt::UserRecord u{};
  u.login = login;
  mt::setField(u.name, name);
  return u;
}

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
  // No library at all, and a library without the plugin's exports.
  for (const char* path : {"/nonexistent/mtmanapi.so", "libm.so.6"}) {
    ::testing::internal::CaptureStdout();
    server::ManagerLink link(path);
    EXPECT_EQ("Failed to create MetaTrader 4 Manager API interface\n",
              ::testing::internal::GetCapturedStdout())
        << path;
    EXPECT_FALSE(link.hasInterface());
    EXPECT_EQ(-1, link.call(-1, [](mt::CManagerInterface& m) {
                return m.Ping();
              }));
  }
}

TEST(ManagerLinkTest, ArraysAreFreedExactlyOnce) {
  FakeManager fake;
  fake.addUser(makeUser(1, "a"));
  fake.addUser(makeUser(2, "b"));
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
    EXPECT_EQ(1, fake.outstandingArrays());
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

TEST(FakeManagerTest, ScriptsThenDefaultsThenNaturalResults) {
  FakeManager fake;
  fake.script("UserRecordNew", {3, 2});
  mt::UserRecord u = makeUser(7, "x");
  EXPECT_EQ(3, fake.UserRecordNew(&u));
  EXPECT_EQ(2, fake.UserRecordNew(&u));
  EXPECT_FALSE(fake.hasUser(7));
  EXPECT_EQ(0, fake.UserRecordNew(&u));
  EXPECT_TRUE(fake.hasUser(7));
  fake.setDefault("UserRecordNew", 9);
  EXPECT_EQ(9, fake.UserRecordNew(&u));
  EXPECT_EQ(4, fake.count("UserRecordNew"));
  EXPECT_EQ(7, fake.lastUserRecord().login);

  mt::UserRecord out{};
  EXPECT_EQ(0, fake.UserRecordGet(7, &out));
  EXPECT_EQ("x", mt::fieldText(out.name));
  EXPECT_EQ(mt::RET_NOT_FOUND, fake.UserRecordGet(8, &out));

  mt::TradeTransInfo info{};
  fake.setNextTicket(555);
  EXPECT_EQ(0, fake.TradeTransaction(&info));
  EXPECT_EQ(555, info.order);

  fake.script("TradesUserHistory", {1});
  int n = 99;
  EXPECT_EQ(nullptr, fake.TradesUserHistory(7, 0, 1, &n));
  EXPECT_EQ(0, n);
  EXPECT_EQ(0, fake.outstandingArrays());
}

}  // namespace
