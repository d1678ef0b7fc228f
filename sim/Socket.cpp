#include "sim/Socket.h"

#include <chrono>
#include <cstdint>

#include "sim/SocketCalls.h"

namespace sim {

namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds left until deadline (negative timeout = no limit: -1).
int remainingMs(int timeoutMs, Clock::time_point start) {
  if (timeoutMs < 0) return -1;
  auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start)
                   .count();
  long left = static_cast<long>(timeoutMs) - static_cast<long>(spent);
  return left > 0 ? static_cast<int>(left) : 0;
}

ReadStatus readExact(int fd, char* buf, std::size_t n, int timeoutMs,
                     Clock::time_point start) {
  std::size_t got = 0;
  while (got < n) {
    int w = sys::waitFor(fd, false, remainingMs(timeoutMs, start));
    if (w < 0) return ReadStatus::kError;
    if (w == 0) return ReadStatus::kTimeout;
    const sys::Transfer r = sys::receiveSome(fd, buf + got, n - got);
    if (r.bytes == 0) return ReadStatus::kClosed;
    if (r.bytes < 0) {
      if (r.retry) continue;
      return ReadStatus::kError;
    }
    got += static_cast<std::size_t>(r.bytes);
  }
  return ReadStatus::kOk;
}

}  // namespace

bool sendAll(int fd, const std::string& data, int timeoutMs) {
  auto start = Clock::now();
  std::size_t sent = 0;
  while (sent < data.size()) {
    int w = sys::waitFor(fd, true, remainingMs(timeoutMs, start));
    if (w != 1) return false;
    const sys::Transfer r = sys::sendSome(fd, data.data() + sent, data.size() - sent);
    if (r.bytes < 0) {
      if (r.retry) continue;
      return false;
    }
    sent += static_cast<std::size_t>(r.bytes);
  }
  return true;
}

std::string makeFrame(const std::string& payload) {
  std::uint32_t n = static_cast<std::uint32_t>(payload.size());
  std::string out;
  out.reserve(payload.size() + 4);
  out.push_back(static_cast<char>((n >> 24) & 0xFF));
  out.push_back(static_cast<char>((n >> 16) & 0xFF));
  out.push_back(static_cast<char>((n >> 8) & 0xFF));
  out.push_back(static_cast<char>(n & 0xFF));
  out += payload;
  return out;
}

ReadStatus readFrame(int fd, std::string* payload, int timeoutMs, std::size_t maxBytes) {
  auto start = Clock::now();
  unsigned char head[4];
  ReadStatus s = readExact(fd, reinterpret_cast<char*>(head), 4, timeoutMs, start);
  if (s != ReadStatus::kOk) return s;
  std::size_t n = (static_cast<std::size_t>(head[0]) << 24) |
                  (static_cast<std::size_t>(head[1]) << 16) |
                  (static_cast<std::size_t>(head[2]) << 8) | head[3];
  if (n > maxBytes) return ReadStatus::kTooLarge;
  payload->assign(n, '\0');
  if (n == 0) return ReadStatus::kOk;
  return readExact(fd, payload->data(), n, timeoutMs, start);
}

ReadStatus LineReader::readLine(std::string* line, std::size_t maxBytes) {
  std::size_t scanned = 0;
  for (;;) {
    std::size_t pos = buffer_.find('\n', scanned);
    if (pos != std::string::npos) {
      if (pos > maxBytes) return ReadStatus::kTooLarge;
      line->assign(buffer_, 0, pos);
      buffer_.erase(0, pos + 1);
      if (!line->empty() && line->back() == '\r') line->pop_back();
      return ReadStatus::kOk;
    }
    scanned = buffer_.size();
    if (buffer_.size() > maxBytes) return ReadStatus::kTooLarge;
    if (sys::waitFor(fd_, false, -1) < 0) return ReadStatus::kError;
    char chunk[65536];
    const sys::Transfer r = sys::receiveSome(fd_, chunk, sizeof(chunk));
    if (r.bytes == 0) return ReadStatus::kClosed;
    if (r.bytes < 0) {
      if (r.retry) continue;
      return ReadStatus::kError;
    }
    buffer_.append(chunk, static_cast<std::size_t>(r.bytes));
  }
}

}  // namespace sim
