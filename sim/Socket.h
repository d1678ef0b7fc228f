// The socket calls of the simulated trading server and its client plugin,
// kept in one place. Every socket here is a blocking TCP socket on the
// loopback interface; waits are bounded by poll timeouts.
//
// Frames on the client protocol are a 4-byte big-endian length followed by
// that many bytes of JSON text. The admin channel uses lines.
#ifndef MT4BRIDGE_SIM_SOCKET_H_
#define MT4BRIDGE_SIM_SOCKET_H_

#include <cstddef>
#include <string>

namespace sim {

// Largest frame or line accepted from a peer.
constexpr std::size_t kMaxMessageBytes = 8u << 20;

enum class ReadStatus { kOk, kClosed, kTimeout, kError, kTooLarge };

// Opens a listening socket on 127.0.0.1:port (0 = any free port) and puts
// the port in *chosenPort. Returns the descriptor or -1.
int listenLoopback(int port, int* chosenPort);

// Waits up to timeoutMs for a connection on listenFd; returns the new
// descriptor, or -1 on timeout or error.
int acceptConnection(int listenFd, int timeoutMs);

// Connects to host:port (numeric IPv4 or "localhost") within timeoutMs.
// Returns the descriptor or -1.
int connectTo(const std::string& host, int port, int timeoutMs);

// Sends all of data within timeoutMs (negative = no limit). False on error
// or timeout. Never raises SIGPIPE.
bool sendAll(int fd, const std::string& data, int timeoutMs);

// Prefixes payload with its length.
std::string makeFrame(const std::string& payload);

// Reads one frame into *payload, waiting at most timeoutMs in all (negative
// = no limit). A length above maxBytes gives kTooLarge (nothing more read).
ReadStatus readFrame(int fd, std::string* payload, int timeoutMs, std::size_t maxBytes);

// Reads lines (ending in '\n', the '\n' removed and a trailing '\r' too) from
// one descriptor. Not thread-safe; owns only its buffer.
class LineReader {
 public:
  explicit LineReader(int fd) : fd_(fd) {}
  // Waits without limit. A line longer than maxBytes gives kTooLarge (the
  // rest of the stream is then unusable).
  ReadStatus readLine(std::string* line, std::size_t maxBytes);

 private:
  int fd_;
  std::string buffer_;
};

// True when the peer closed fd or the socket failed (looks without
// waiting and without consuming data).
bool peerGone(int fd);

// Ends both directions of fd (wakes a thread blocked reading it) / closes it.
void shutdownSocket(int fd);
void closeSocket(int fd);

}  // namespace sim

#endif  // MT4BRIDGE_SIM_SOCKET_H_
