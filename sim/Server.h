// The network side of the simulated trading server: the manager-client port
// (length-prefixed JSON frames, one response per request, plus pumping
// connections attached with a token) and the loopback admin port
// (newline-delimited JSON, one response line per request line).
//
// Client requests: {"id":n,"call":"<name>","args":{...}} answered by
// {"id":n,"result":code,...}. PumpingSwitchEx answers a "token"; a second
// connection that sends {"call":"PumpAttach","args":{"token":"..."}} gets
// {"result":0} and then event frames {"code":c,"type":t,"data":...}.
#ifndef MT4BRIDGE_SIM_SERVER_H_
#define MT4BRIDGE_SIM_SERVER_H_

#include <json/json.h>

#include <atomic>
#include <condition_variable>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "sim/Engine.h"
#include "sim/PumpHub.h"

namespace sim {

class Server {
 public:
  // The engine is created on statePath with this server's pump hub as its
  // event sink.
  explicit Server(const std::string& statePath);
  ~Server();  // stop()
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Loads the state and opens both ports (0 = any free one). False with
  // *error on failure.
  bool start(int port, int adminPort, std::string* error);
  int port() const { return port_; }
  int adminPort() const { return adminPort_; }

  // Closes the ports and every connection and joins all threads.
  void stop();

  // One admin request (already parsed) → its response object.
  Json::Value admin(const Json::Value& request);

 private:
  struct Connection {
    int fd = -1;
    int session = 0;   // 0 for admin connections
    int login = 0;     // last known logged-in manager
    bool pumping = false;
    std::atomic<bool> done{false};
    std::thread thread;
  };
  struct PendingPump {
    int session = 0;
    int flags = 0;
  };
  // An answer kept back by the "hold" admin command. It lives on the stack
  // of the serving thread, which waits until "release" has sent it (or the
  // client or the server goes away).
  struct HeldAnswer {
    enum class State { kHeld, kSending, kSent, kFailed };
    int session = 0;
    std::string call;
    int fd = -1;
    std::string frame;
    State state = State::kHeld;
  };

  void acceptLoop(int listenFd, bool adminChannel);
  void serveClient(Connection* conn);
  void serveAdmin(Connection* conn);
  // Returns true when the connection was handed to the pump hub.
  bool attachPump(Connection* conn, const Json::Value& request);
  // Sends the answer frame of call, or holds it when a hold of call is
  // pending. False when the answer did not reach the client.
  bool answer(Connection* conn, int session, const std::string& call,
              const std::string& frame);
  // Sends every held answer, oldest first; returns how many there were.
  int releaseHeld();
  Json::Value heldList();
  void reap();
  void dropClients();

  PumpHub hub_;
  Engine engine_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> refusing_{false};
  int listenFd_ = -1;
  int adminFd_ = -1;
  int port_ = 0;
  int adminPort_ = 0;
  std::thread clientAcceptor_;
  std::thread adminAcceptor_;
  std::mutex mutex_;  // guards the members below
  std::list<std::unique_ptr<Connection>> connections_;
  std::map<std::string, PendingPump> pendingPumps_;
  int nextSession_ = 1;
  std::mutex holdMutex_;  // guards the members below
  std::condition_variable holdWake_;
  std::map<std::string, int> holdCounts_;  // call name → answers still to hold
  std::list<HeldAnswer*> held_;            // oldest first
};

}  // namespace sim

#endif  // MT4BRIDGE_SIM_SERVER_H_
