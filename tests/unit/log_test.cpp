#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "test_util/TempDir.h"
#include "util/Log.h"
#include "util/Platform.h"

namespace {

// A local time as the clock would report it.
std::time_t localTime(int y, int mo, int d, int h, int mi, int s) {
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    util::setLogDirectory(dir_.path() + "/mt4");
  }
  void TearDown() override {
    util::setLogRetentionDays(0);
    util::setLogClock(nullptr);
    util::setLogDirectory("../log/mt4");
  }
  void at(std::time_t t) {
    util::setLogClock([t] { return t; });
  }
  std::string day(const char* name) { return dir_.read(std::string("mt4/") + name); }

  test_util::TempDir dir_;
};

TEST_F(LogTest, EntryIsStampedAndAppendedToTheDaysFile) {
  at(localTime(2026, 12, 8, 8, 5, 9));
  EXPECT_EQ(util::writeLog("init success\n"), 13);
  EXPECT_EQ(util::writeLog("%s %d\n", "next", 2), 7);
  EXPECT_EQ(day("log-2026-12-08.log"),
            "2026-12-08 08:05:09 init success\n2026-12-08 08:05:09 next 2\n");
}

TEST_F(LogTest, MessageStartingWithLineFeedLeavesTheStampAlone) {
  at(localTime(2026, 1, 2, 3, 4, 5));
  util::writeLog("\ndestURI #%s Received: %s\n", "q", "{}");
  EXPECT_EQ(day("log-2026-01-02.log"), "2026-01-02 03:04:05 \ndestURI #q Received: {}\n");
}

TEST_F(LogTest, FirstMessageAfterMidnightGoesToTheNextDay) {
  at(localTime(2026, 12, 31, 23, 59, 59));
  util::writeLog("last\n");
  at(localTime(2027, 1, 1, 0, 0, 0));
  util::writeLog("first\n");
  EXPECT_EQ(day("log-2026-12-31.log"), "2026-12-31 23:59:59 last\n");
  EXPECT_EQ(day("log-2027-01-01.log"), "2027-01-01 00:00:00 first\n");
}

TEST_F(LogTest, NothingIsAddedAfterTheMessage) {
  at(localTime(2026, 3, 3, 3, 3, 3));
  util::writeLog("no newline");
  util::writeLog("|next\n");
  EXPECT_EQ(day("log-2026-03-03.log"), "2026-03-03 03:03:03 no newline2026-03-03 03:03:03 |next\n");
}

TEST_F(LogTest, UnwritableDirectoryNeverStopsTheCaller) {
  util::setLogDirectory(dir_.path() + "/missing-parent/mt4");
  EXPECT_EQ(util::writeLog("lost\n"), 5);
  EXPECT_FALSE(dir_.exists("missing-parent"));  // only one level is created
}

TEST_F(LogTest, ConcurrentEntriesNeverInterleave) {
  at(localTime(2026, 5, 5, 5, 5, 5));
  const std::string payload(3000, 'x');
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) util::writeLog("%d:%s\n", t, payload.c_str());
    });
  }
  for (auto& th : threads) th.join();
  std::string text = day("log-2026-05-05.log");
  size_t lines = 0, pos = 0;
  const std::string stamp = "2026-05-05 05:05:05 ";
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    ASSERT_NE(end, std::string::npos);
    std::string line = text.substr(pos, end - pos);
    ASSERT_EQ(line.size(), stamp.size() + 2 + payload.size());
    EXPECT_EQ(line.compare(0, stamp.size(), stamp), 0);
    EXPECT_EQ(line.substr(stamp.size() + 2), payload);
    ++lines;
    pos = end + 1;
  }
  EXPECT_EQ(lines, 200u);
}

TEST_F(LogTest, RetentionRemovesOlderDailyFilesWhenADayBegins) {
  const std::vector<std::string> names = {"log-2026-11-30.log",    "log-2026-12-04.log",
                                          "log-2026-12-05.log",    "log-2026-12-07.log",
                                          "log-2026-12-01.log.gz", "log-2026-13-01.log",
                                          "notes.txt"};
  std::filesystem::create_directory(dir_.file("mt4"));
  for (const std::string& name : names) dir_.write("mt4/" + name, "x");
  const auto left = [&] {
    std::vector<std::string> kept;
    for (const std::string& name : names) {
      if (dir_.exists("mt4/" + name)) kept.push_back(name);
    }
    return kept;
  };
  at(localTime(2026, 12, 8, 9, 0, 0));
  util::writeLog("kept all\n");  // 0 days: every file is kept
  EXPECT_EQ(left().size(), 7u);
  util::setLogRetentionDays(3);
  util::writeLog("first after the setting\n");
  // Dated more than 3 days before 12-08 are gone; other names stay.
  EXPECT_EQ(left(), (std::vector<std::string>{"log-2026-12-05.log", "log-2026-12-07.log",
                                              "log-2026-12-01.log.gz", "log-2026-13-01.log",
                                              "notes.txt"}));
  dir_.write("mt4/log-2026-12-04.log", "x");
  util::writeLog("same day\n");  // not the day's first entry
  EXPECT_TRUE(dir_.exists("mt4/log-2026-12-04.log"));
  at(localTime(2026, 12, 9, 0, 0, 1));
  util::writeLog("next day\n");
  EXPECT_EQ(left(), (std::vector<std::string>{"log-2026-12-07.log", "log-2026-12-01.log.gz",
                                              "log-2026-13-01.log", "notes.txt"}));
  EXPECT_EQ(day("log-2026-12-09.log"), "2026-12-09 00:00:01 next day\n");
}

TEST(LogPath, NamesTheFileByLocalDate) {
  std::tm tm{};
  tm.tm_year = 2026 - 1900;
  tm.tm_mon = 11;
  tm.tm_mday = 8;
  EXPECT_EQ(util::logFilePath(tm), "../log/mt4/log-2026-12-08.log");
}

}  // namespace
