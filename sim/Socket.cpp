#include "sim/Socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

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

// Waits for events on fd; 1 ready, 0 timeout, -1 error.
int waitFor(int fd, short events, int timeoutMs) {
  pollfd p{};
  p.fd = fd;
  p.events = events;
  for (;;) {
    int r = ::poll(&p, 1, timeoutMs);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    if (r == 0) return 0;
    return 1;
  }
}

ReadStatus readExact(int fd, char* buf, std::size_t n, int timeoutMs,
                     Clock::time_point start) {
  std::size_t got = 0;
  while (got < n) {
    int w = waitFor(fd, POLLIN, remainingMs(timeoutMs, start));
    if (w < 0) return ReadStatus::kError;
    if (w == 0) return ReadStatus::kTimeout;
    ssize_t r = ::recv(fd, buf + got, n - got, 0);
    if (r == 0) return ReadStatus::kClosed;
    if (r < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return ReadStatus::kError;
    }
    got += static_cast<std::size_t>(r);
  }
  return ReadStatus::kOk;
}

}  // namespace

int listenLoopback(int port, int* chosenPort) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
      ::listen(fd, 64) != 0) {
    ::close(fd);
    return -1;
  }
  socklen_t len = sizeof(addr);
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    ::close(fd);
    return -1;
  }
  *chosenPort = ntohs(addr.sin_port);
  return fd;
}

int acceptConnection(int listenFd, int timeoutMs) {
  if (waitFor(listenFd, POLLIN, timeoutMs) != 1) return -1;
  int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd >= 0) {
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
  }
  return fd;
}

int connectTo(const std::string& host, int port, int timeoutMs) {
  if (port <= 0 || port > 65535) return -1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  std::string numeric = host == "localhost" ? "127.0.0.1" : host;
  if (::inet_pton(AF_INET, numeric.c_str(), &addr.sin_addr) != 1) return -1;
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int flags = ::fcntl(fd, F_GETFL, 0);
  ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  int r = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
  if (r != 0 && errno != EINPROGRESS) {
    ::close(fd);
    return -1;
  }
  if (r != 0) {
    if (waitFor(fd, POLLOUT, timeoutMs) != 1) {
      ::close(fd);
      return -1;
    }
    int err = 0;
    socklen_t len = sizeof(err);
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) {
      ::close(fd);
      return -1;
    }
  }
  ::fcntl(fd, F_SETFL, flags);
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
  return fd;
}

bool sendAll(int fd, const std::string& data, int timeoutMs) {
  auto start = Clock::now();
  std::size_t sent = 0;
  while (sent < data.size()) {
    int w = waitFor(fd, POLLOUT, remainingMs(timeoutMs, start));
    if (w != 1) return false;
    ssize_t r = ::send(fd, data.data() + sent, data.size() - sent,
                       MSG_NOSIGNAL | MSG_DONTWAIT);
    if (r < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return false;
    }
    sent += static_cast<std::size_t>(r);
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
    char chunk[65536];
    ssize_t r = ::recv(fd_, chunk, sizeof(chunk), 0);
    if (r == 0) return ReadStatus::kClosed;
    if (r < 0) {
      if (errno == EINTR) continue;
      return ReadStatus::kError;
    }
    buffer_.append(chunk, static_cast<std::size_t>(r));
  }
}

bool peerGone(int fd) {
  if (fd < 0) return true;
  char c;
  for (;;) {
    ssize_t r = ::recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT);
    if (r > 0) return false;
    if (r == 0) return true;
    if (errno == EINTR) continue;
    return !(errno == EAGAIN || errno == EWOULDBLOCK);
  }
}

void shutdownSocket(int fd) {
  if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
}

void closeSocket(int fd) {
  if (fd >= 0) ::close(fd);
}

}  // namespace sim
