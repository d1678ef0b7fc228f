#include "util/Console.h"

#include <climits>
#include <cstdio>
#include <cwchar>
#include <mutex>
#include <vector>

namespace util {
namespace {
std::mutex& consoleMutex() {
  static std::mutex m;
  return m;
}
}  // namespace

std::string formatText(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (n <= 0) return std::string();
  std::string out(static_cast<size_t>(n) + 1, '\0');
  std::vsnprintf(out.data(), out.size(), format, args);
  out.resize(static_cast<size_t>(n));
  return out;
}

std::string formatText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string out = formatText(format, args);
  va_end(args);
  return out;
}

void consoleWrite(const std::string& text) {
  std::lock_guard<std::mutex> lock(consoleMutex());
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

int consoleVPrint(const char* format, va_list args) {
  std::string text = formatText(format, args);
  consoleWrite(text);
  return static_cast<int>(text.size());
}

int consolePrint(const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = consoleVPrint(format, args);
  va_end(args);
  return n;
}

int consoleWPrint(const wchar_t* format, ...) {
  std::vector<wchar_t> buffer(256);
  int n = -1;
  for (int attempt = 0; attempt < 16; ++attempt) {
    va_list args;
    va_start(args, format);
    n = std::vswprintf(buffer.data(), buffer.size(), format, args);
    va_end(args);
    if (n >= 0) break;
    buffer.resize(buffer.size() * 2);
  }
  if (n < 0) return 0;
  std::string narrow;
  std::mbstate_t state{};
  char bytes[MB_LEN_MAX];
  for (int i = 0; i < n; ++i) {
    size_t k = std::wcrtomb(bytes, buffer[static_cast<size_t>(i)], &state);
    if (k == static_cast<size_t>(-1)) {
      narrow.push_back('?');
      state = std::mbstate_t{};
    } else {
      narrow.append(bytes, k);
    }
  }
  consoleWrite(narrow);
  return n;
}

}  // namespace util
