#include "util/Log.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "util/Console.h"
#include "util/Platform.h"

namespace util {
namespace {

constexpr size_t kPathBufferSize = 200;
constexpr size_t kStampBufferSize = 48;  // "YYYY-MM-DD hh:mm:ss " with room to spare

struct LogState {
  std::mutex mutex;
  LogClock clock;
  std::string directory = "../log/mt4";
  int retentionDays = 0;  // 0: every file is kept
  // The file of the last entry: an entry for another file starts a day.
  std::string lastPath;
};

LogState& state() {
  static LogState s;
  return s;
}

// The day's file in directory; empty when the path is too long.
std::string dayFilePath(const std::string& directory, const std::tm& local) {
  char buffer[kPathBufferSize];
  int n = std::snprintf(buffer, sizeof(buffer), "%s/log-%04d-%02d-%02d.log",
                        directory.c_str(), local.tm_year + 1900,
                        local.tm_mon + 1, local.tm_mday);
  if (n < 0 || static_cast<size_t>(n) >= sizeof(buffer)) return std::string();
  return buffer;
}

// The date in a daily file's name, "log-YYYY-MM-DD.log"; false for any
// other name.
bool dateOfLogFile(const std::string& name, std::chrono::year_month_day* date) {
  if (name.size() != 18 || name.compare(0, 4, "log-") != 0 || name[8] != '-' ||
      name[11] != '-' || name.compare(14, 4, ".log") != 0) {
    return false;
  }
  for (size_t i : {4, 5, 6, 7, 9, 10, 12, 13}) {
    if (name[i] < '0' || name[i] > '9') return false;
  }
  *date = std::chrono::year(std::stoi(name.substr(4, 4))) /
          std::chrono::month(static_cast<unsigned>(std::stoi(name.substr(9, 2)))) /
          std::chrono::day(static_cast<unsigned>(std::stoi(name.substr(12, 2))));
  return date->ok();
}

// Removes the daily files of directory dated more than days before today.
// Quietly does nothing it cannot do.
void removeOldFiles(const std::string& directory, const std::tm& today, int days) {
  using std::chrono::sys_days;
  const sys_days oldestKept =
      sys_days(std::chrono::year(today.tm_year + 1900) /
               std::chrono::month(static_cast<unsigned>(today.tm_mon + 1)) /
               std::chrono::day(static_cast<unsigned>(today.tm_mday))) -
      std::chrono::days(days);
  try {
    std::error_code ec;
    for (std::filesystem::directory_iterator it(directory, ec), end; !ec && it != end;
         it.increment(ec)) {
      std::chrono::year_month_day date;
      if (dateOfLogFile(it->path().filename().string(), &date) && sys_days(date) < oldestKept) {
        std::error_code ignored;
        std::filesystem::remove(it->path(), ignored);
      }
    }
  } catch (const std::exception&) {
    // A name the narrow text cannot hold: the log never stops its caller.
  }
}

// Opens the day's file for appending, unbuffered: the entry, written in one
// call, reaches the file without a buffer being set up for it.
std::FILE* openForAppend(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "ab");
  if (file != nullptr) std::setvbuf(file, nullptr, _IONBF, 0);
  return file;
}

// Appends one entry for message (already formatted).
void appendEntry(const std::string& message) {
  LogState& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  std::time_t now = s.clock ? s.clock() : std::time(nullptr);
  std::tm local = platform::localTime(now);
  const std::string path = dayFilePath(s.directory, local);
  if (path.empty()) return;
  if (path != s.lastPath) {
    s.lastPath = path;
    if (s.retentionDays > 0) removeOldFiles(s.directory, local, s.retentionDays);
  }
  std::FILE* file = openForAppend(path);
  // The directory is created when the file cannot be opened for want of it.
  if (file == nullptr && !platform::directoryExists(s.directory) &&
      platform::makeDirectory(s.directory)) {
    file = openForAppend(path);
  }
  if (file == nullptr) return;
  char stamp[kStampBufferSize];
  int n = std::snprintf(stamp, sizeof(stamp), "%04d-%02d-%02d %02d:%02d:%02d ",
                        local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                        local.tm_hour, local.tm_min, local.tm_sec);
  if (n < 0 || static_cast<size_t>(n) >= sizeof(stamp)) n = 0;
  std::string entry;
  entry.reserve(static_cast<size_t>(n) + message.size());
  entry.append(stamp, static_cast<size_t>(n)).append(message);
  std::fwrite(entry.data(), 1, entry.size(), file);
  std::fflush(file);
  std::fclose(file);
}

}  // namespace

std::string logFilePath(const std::tm& local) {
  std::string directory;
  {
    std::lock_guard<std::mutex> lock(state().mutex);
    directory = state().directory;
  }
  return dayFilePath(directory, local);
}

int writeLogV(const char* format, va_list args) {
  std::string message = formatText(format, args);
  appendEntry(message);
  return static_cast<int>(message.size());
}

int writeLog(const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = writeLogV(format, args);
  va_end(args);
  return n;
}

void printAndLog(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = formatText(format, args);
  va_end(args);
  consoleWrite(text);
  appendEntry(text);
}

void setLogClock(LogClock clock) {
  std::lock_guard<std::mutex> lock(state().mutex);
  state().clock = std::move(clock);
}

void setLogDirectory(const std::string& directory) {
  std::lock_guard<std::mutex> lock(state().mutex);
  state().directory = directory;
  state().lastPath.clear();
}

void setLogRetentionDays(int days) {
  std::lock_guard<std::mutex> lock(state().mutex);
  state().retentionDays = days > 0 ? days : 0;
  state().lastPath.clear();
}

}  // namespace util
