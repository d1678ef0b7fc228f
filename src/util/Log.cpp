#include "util/Log.h"

#include <cstdio>
#include <mutex>

#include "util/Console.h"
#include "util/Platform.h"

namespace util {
namespace {

constexpr size_t kPathBufferSize = 200;

struct LogState {
  std::mutex mutex;
  LogClock clock;
  std::string directory = "../log/mt4";
};

LogState& state() {
  static LogState s;
  return s;
}

}  // namespace

std::string logFilePath(const std::tm& local) {
  std::string directory;
  {
    std::lock_guard<std::mutex> lock(state().mutex);
    directory = state().directory;
  }
  char buffer[kPathBufferSize];
  int n = std::snprintf(buffer, sizeof(buffer), "%s/log-%04d-%02d-%02d.log",
                        directory.c_str(), local.tm_year + 1900,
                        local.tm_mon + 1, local.tm_mday);
  if (n < 0 || static_cast<size_t>(n) >= sizeof(buffer)) return std::string();
  return buffer;
}

int writeLogV(const char* format, va_list args) {
  std::string message = formatText(format, args);
  LogState& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  std::time_t now = s.clock ? s.clock() : std::time(nullptr);
  std::tm local = platform::localTime(now);
  if (!platform::directoryExists(s.directory)) {
    platform::makeDirectory(s.directory);
  }
  char buffer[kPathBufferSize];
  int n = std::snprintf(buffer, sizeof(buffer), "%s/log-%04d-%02d-%02d.log",
                        s.directory.c_str(), local.tm_year + 1900,
                        local.tm_mon + 1, local.tm_mday);
  if (n < 0 || static_cast<size_t>(n) >= sizeof(buffer)) {
    return static_cast<int>(message.size());
  }
  std::FILE* file = std::fopen(buffer, "a");
  if (file == nullptr) return static_cast<int>(message.size());
  std::fprintf(file, "%04d-%02d-%02d %02d:%02d:%02d ", local.tm_year + 1900,
               local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
               local.tm_sec);
  std::fwrite(message.data(), 1, message.size(), file);
  std::fflush(file);
  std::fclose(file);
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
  writeLog("%s", text.c_str());
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
