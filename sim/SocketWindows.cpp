// The socket calls of sim/Socket.h on Windows (Winsock 2; the caller has
// started it: the service holds WSAStartup beside each manager link).
//
// A descriptor is the SOCKET handle as an int: Windows keeps socket handles
// below 2^24 in practice, and the plugin's callers only hold and pass them.
//
// shutdown() does not wake a thread waiting on a socket in Winsock, so
// every wait here is cut into slices of at most kWakeSliceMs and ends when
// the socket has been shut down (shutdownSocket): a Disconnect that shuts
// the pump's socket sees its thread end within that time.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <set>

#include "sim/Socket.h"
#include "sim/SocketCalls.h"

namespace sim {

namespace {

constexpr int kWakeSliceMs = 100;

SOCKET handle(int fd) { return static_cast<SOCKET>(static_cast<unsigned>(fd)); }

// Sockets shut down and not yet closed.
class ShutSockets {
 public:
  void add(int fd) {
    std::lock_guard<std::mutex> lock(mutex_);
    shut_.insert(fd);
  }
  void remove(int fd) {
    std::lock_guard<std::mutex> lock(mutex_);
    shut_.erase(fd);
  }
  bool contains(int fd) {
    std::lock_guard<std::mutex> lock(mutex_);
    return shut_.count(fd) != 0;
  }

 private:
  std::mutex mutex_;
  std::set<int> shut_;
};

ShutSockets& shutSockets() {
  static auto* sockets = new ShutSockets;  // never destroyed: threads may wait at exit
  return *sockets;
}

void setBlocking(int fd, bool blocking) {
  u_long nonBlocking = blocking ? 0 : 1;
  ::ioctlsocket(handle(fd), FIONBIO, &nonBlocking);
}

void noDelay(int fd) {
  BOOL one = TRUE;
  ::setsockopt(handle(fd), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one),
               sizeof(one));
}

}  // namespace

namespace sys {

int waitFor(int fd, bool forWriting, int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  for (;;) {
    if (shutSockets().contains(fd)) return -1;
    int slice = kWakeSliceMs;
    if (timeoutMs >= 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - Clock::now()).count();
      slice = static_cast<int>(std::clamp<long long>(left, 0, kWakeSliceMs));
    }
    fd_set ready;
    fd_set failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(handle(fd), &ready);
    FD_SET(handle(fd), &failed);  // a failed connect shows here
    timeval wait{slice / 1000, (slice % 1000) * 1000};
    const int r = ::select(0, forWriting ? nullptr : &ready, forWriting ? &ready : nullptr,
                           &failed, &wait);
    if (r == SOCKET_ERROR) return -1;
    if (r > 0) return FD_ISSET(handle(fd), &ready) ? 1 : -1;
    if (timeoutMs >= 0 && Clock::now() >= deadline) return 0;
  }
}

Transfer receiveSome(int fd, char* buf, std::size_t n) {
  const int r = ::recv(handle(fd), buf, static_cast<int>(std::min<std::size_t>(n, 1 << 20)), 0);
  return Transfer{r, r == SOCKET_ERROR && ::WSAGetLastError() == WSAEWOULDBLOCK};
}

// The socket is writable (waited for): a send of up to 64 KiB goes at once.
Transfer sendSome(int fd, const char* buf, std::size_t n) {
  const int r = ::send(handle(fd), buf, static_cast<int>(std::min<std::size_t>(n, 64 << 10)), 0);
  return Transfer{r, r == SOCKET_ERROR && ::WSAGetLastError() == WSAEWOULDBLOCK};
}

}  // namespace sys

int listenLoopback(int port, int* chosenPort) {
  SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return -1;
  const int fd = static_cast<int>(s);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  int len = sizeof(addr);
  if (::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 || ::listen(s, 64) != 0 ||
      ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    ::closesocket(s);
    return -1;
  }
  *chosenPort = ntohs(addr.sin_port);
  return fd;
}

int acceptConnection(int listenFd, int timeoutMs) {
  if (sys::waitFor(listenFd, false, timeoutMs) != 1) return -1;
  SOCKET s = ::accept(handle(listenFd), nullptr, nullptr);
  if (s == INVALID_SOCKET) return -1;
  noDelay(static_cast<int>(s));
  return static_cast<int>(s);
}

int connectTo(const std::string& host, int port, int timeoutMs) {
  if (port <= 0 || port > 65535) return -1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  const std::string numeric = host == "localhost" ? "127.0.0.1" : host;
  if (::inet_pton(AF_INET, numeric.c_str(), &addr.sin_addr) != 1) return -1;
  SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return -1;
  const int fd = static_cast<int>(s);
  setBlocking(fd, false);
  if (::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 &&
      (::WSAGetLastError() != WSAEWOULDBLOCK || sys::waitFor(fd, true, timeoutMs) != 1)) {
    ::closesocket(s);
    return -1;
  }
  setBlocking(fd, true);
  noDelay(fd);
  return fd;
}

bool peerGone(int fd) {
  if (fd < 0) return true;
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(handle(fd), &readable);
  timeval now{0, 0};
  const int r = ::select(0, &readable, nullptr, nullptr, &now);
  if (r == 0) return false;  // nothing to read: still there
  if (r == SOCKET_ERROR) return true;
  char c;
  return ::recv(handle(fd), &c, 1, MSG_PEEK) <= 0;
}

void shutdownSocket(int fd) {
  if (fd < 0) return;
  shutSockets().add(fd);
  ::shutdown(handle(fd), SD_BOTH);
}

void closeSocket(int fd) {
  if (fd < 0) return;
  ::closesocket(handle(fd));
  shutSockets().remove(fd);
}

}  // namespace sim
