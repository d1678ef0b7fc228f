// The socket calls of sim/Socket.h on Linux (POSIX).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "sim/Socket.h"
#include "sim/SocketCalls.h"

namespace sim {

namespace sys {

int waitFor(int fd, bool forWriting, int timeoutMs) {
  pollfd p{};
  p.fd = fd;
  p.events = forWriting ? POLLOUT : POLLIN;
  for (;;) {
    int r = ::poll(&p, 1, timeoutMs);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    if (r == 0) return 0;
    return 1;
  }
}

Transfer receiveSome(int fd, char* buf, std::size_t n) {
  const ssize_t r = ::recv(fd, buf, n, 0);
  return Transfer{static_cast<long>(r), r < 0 && (errno == EINTR || errno == EAGAIN)};
}

Transfer sendSome(int fd, const char* buf, std::size_t n) {
  const ssize_t r = ::send(fd, buf, n, MSG_NOSIGNAL | MSG_DONTWAIT);
  return Transfer{static_cast<long>(r), r < 0 && (errno == EINTR || errno == EAGAIN)};
}

}  // namespace sys

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
  if (sys::waitFor(listenFd, false, timeoutMs) != 1) return -1;
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
    if (sys::waitFor(fd, true, timeoutMs) != 1) {
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
