#include "util/Log.h"

#include <cstdio>
#include <mutex>

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
}

}  // namespace util
