#include "sim/Server.h"

#include <chrono>
#include <cmath>
#include <exception>
#include <random>
#include <vector>

#include "sim/Codec.h"
#include "sim/Socket.h"
#include "sim/WireJson.h"

namespace sim {

namespace {

constexpr int kAcceptPollMs = 200;
constexpr int kReplyTimeoutMs = 5000;
// How often a thread whose answer is held looks whether its client is gone.
constexpr auto kHeldPoll = std::chrono::milliseconds(100);
constexpr int kMaxHoldCount = 1000000;
constexpr std::size_t kMaxPendingPumps = 1000;
// Connections beyond this many (clients, pumps and admin together) are
// closed at once, so a flood of connections cannot exhaust threads.
constexpr std::size_t kMaxConnections = 512;

Json::Value adminError(const std::string& text) {
  Json::Value v(Json::objectValue);
  v["ok"] = false;
  v["error"] = text;
  return v;
}

Json::Value adminOk() {
  Json::Value v(Json::objectValue);
  v["ok"] = true;
  return v;
}

std::string newToken() {
  static std::mutex mutex;
  static std::mt19937_64 generator{std::random_device{}()};
  std::lock_guard<std::mutex> lock(mutex);
  char text[33];
  std::snprintf(text, sizeof(text), "%016llx%016llx",
                static_cast<unsigned long long>(generator()),
                static_cast<unsigned long long>(generator()));
  return text;
}

}  // namespace

Server::Server(const std::string& statePath)
    : engine_(statePath, [this](const Event& e) { hub_.publish(e); }) {}

Server::~Server() { stop(); }

bool Server::start(int port, int adminPort, std::string* error) {
  if (!engine_.load(error)) return false;
  listenFd_ = listenLoopback(port, &port_);
  if (listenFd_ < 0) {
    *error = "cannot listen on port " + std::to_string(port);
    return false;
  }
  adminFd_ = listenLoopback(adminPort, &adminPort_);
  if (adminFd_ < 0) {
    *error = "cannot listen on admin port " + std::to_string(adminPort);
    closeSocket(listenFd_);
    listenFd_ = -1;
    return false;
  }
  clientAcceptor_ = std::thread([this] { acceptLoop(listenFd_, false); });
  adminAcceptor_ = std::thread([this] { acceptLoop(adminFd_, true); });
  return true;
}

void Server::stop() {
  stopping_ = true;
  {
    std::lock_guard<std::mutex> lock(holdMutex_);
  }
  holdWake_.notify_all();
  if (clientAcceptor_.joinable()) clientAcceptor_.join();
  if (adminAcceptor_.joinable()) adminAcceptor_.join();
  closeSocket(listenFd_);
  closeSocket(adminFd_);
  listenFd_ = -1;
  adminFd_ = -1;
  std::list<std::unique_ptr<Connection>> all;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& conn : connections_) shutdownSocket(conn->fd);
    all.swap(connections_);
  }
  for (auto& conn : all) {
    if (conn->thread.joinable()) conn->thread.join();
  }
  hub_.stopAll();
}

void Server::acceptLoop(int listenFd, bool adminChannel) {
  while (!stopping_) {
    int fd = acceptConnection(listenFd, kAcceptPollMs);
    reap();
    if (fd < 0) continue;
    if (!adminChannel && refusing_) {
      closeSocket(fd);
      continue;
    }
    auto conn = std::make_unique<Connection>();
    conn->fd = fd;
    Connection* raw = conn.get();
    std::lock_guard<std::mutex> lock(mutex_);
    if (connections_.size() >= kMaxConnections) {
      closeSocket(fd);
      continue;
    }
    if (!adminChannel) conn->session = nextSession_++;
    if (adminChannel) {
      conn->thread = std::thread([this, raw] { serveAdmin(raw); });
    } else {
      conn->thread = std::thread([this, raw] { serveClient(raw); });
    }
    connections_.push_back(std::move(conn));
  }
}

void Server::reap() {
  std::list<std::unique_ptr<Connection>> finished;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = connections_.begin(); it != connections_.end();) {
      if ((*it)->done) {
        finished.push_back(std::move(*it));
        it = connections_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& conn : finished) conn->thread.join();
}

void Server::serveClient(Connection* conn) {
  ClientSession session;
  session.id = conn->session;
  bool handedOver = false;
  for (;;) {
    std::string payload;
    if (readFrame(conn->fd, &payload, -1, kMaxMessageBytes) != ReadStatus::kOk) break;
    Json::Value response(Json::objectValue);
    std::string call;  // set when the engine carried out a call
    try {
      Json::Value request;
      std::string error;
      if (!parseJsonText(payload, &request, &error) || !request.isObject() ||
          !request.isMember("call") || !request["call"].isString()) {
        response["result"] = mt::RET_ERROR;
        response["error"] = "malformed request";
      } else {
        std::string name = request["call"].asString();
        Json::Value args = request.isMember("args") ? request["args"]
                                                    : Json::Value(Json::objectValue);
        if (name == "PumpAttach") {
          handedOver = attachPump(conn, request);
          if (handedOver) break;
          response["result"] = mt::RET_INVALID_DATA;
          response["error"] = "unknown pumping token";
        } else {
          call = name;
          response = engine_.clientCall(&session, call, args);
          if (call == "PumpingSwitchEx" && response["result"].asInt() == mt::RET_OK) {
            std::string token = newToken();
            std::lock_guard<std::mutex> lock(mutex_);
            if (pendingPumps_.size() >= kMaxPendingPumps) pendingPumps_.clear();
            pendingPumps_[token] = PendingPump{session.id, args["flags"].asInt()};
            response["token"] = token;
          }
        }
        response["id"] = request.isMember("id") ? request["id"] : Json::Value();
      }
    } catch (const std::exception& e) {
      call.clear();
      response = Json::Value(Json::objectValue);
      response["result"] = mt::RET_ERROR;
      response["error"] = std::string("bad request: ") + e.what();
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      conn->login = session.login;
    }
    if (!answer(conn, session.id, call, makeFrame(compactJsonText(response)))) break;
  }
  if (!handedOver) hub_.dropSession(session.id);
  std::lock_guard<std::mutex> lock(mutex_);
  if (conn->fd >= 0) {
    shutdownSocket(conn->fd);
    closeSocket(conn->fd);
    conn->fd = -1;
  }
  conn->done = true;
}

bool Server::answer(Connection* conn, int session, const std::string& call,
                    const std::string& frame) {
  using State = HeldAnswer::State;
  std::unique_lock<std::mutex> lock(holdMutex_);
  auto count = call.empty() ? holdCounts_.end() : holdCounts_.find(call);
  if (count == holdCounts_.end()) {
    lock.unlock();
    return sendAll(conn->fd, frame, kReplyTimeoutMs);
  }
  if (--count->second <= 0) holdCounts_.erase(count);
  HeldAnswer held;
  held.session = session;
  held.call = call;
  held.fd = conn->fd;
  held.frame = frame;
  held_.push_back(&held);
  for (;;) {
    if (holdWake_.wait_for(lock, kHeldPoll,
                           [&] { return held.state != State::kHeld || stopping_; })) {
      break;
    }
    lock.unlock();
    bool gone = peerGone(held.fd);
    lock.lock();
    if (gone) break;
  }
  if (held.state == State::kHeld) {
    held_.remove(&held);
    return false;
  }
  // "release" owns the frame until it has been written.
  holdWake_.wait(lock, [&] { return held.state != State::kSending; });
  return held.state == State::kSent;
}

int Server::releaseHeld() {
  using State = HeldAnswer::State;
  std::vector<HeldAnswer*> taken;
  {
    std::lock_guard<std::mutex> lock(holdMutex_);
    for (HeldAnswer* held : held_) {
      held->state = State::kSending;
      taken.push_back(held);
    }
    held_.clear();
  }
  for (HeldAnswer* held : taken) {
    bool sent = sendAll(held->fd, held->frame, kReplyTimeoutMs);
    {
      std::lock_guard<std::mutex> lock(holdMutex_);
      held->state = sent ? State::kSent : State::kFailed;  // may be gone after this
    }
    holdWake_.notify_all();
  }
  return static_cast<int>(taken.size());
}

Json::Value Server::heldList() {
  std::lock_guard<std::mutex> lock(holdMutex_);
  Json::Value list(Json::arrayValue);
  for (const HeldAnswer* held : held_) {
    Json::Value v(Json::objectValue);
    v["session"] = held->session;
    v["call"] = held->call;
    list.append(v);
  }
  return list;
}

bool Server::attachPump(Connection* conn, const Json::Value& request) {
  const Json::Value& args = request["args"];
  std::string token;
  std::string error;
  if (!readString(args, "token", &token, &error)) return false;
  PendingPump pending;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = pendingPumps_.find(token);
    if (it == pendingPumps_.end()) return false;
    pending = it->second;
    pendingPumps_.erase(it);
  }
  Json::Value ack(Json::objectValue);
  ack["result"] = mt::RET_OK;
  ack["id"] = request.isMember("id") ? request["id"] : Json::Value();
  int fd;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    fd = conn->fd;
    conn->fd = -1;
    conn->session = pending.session;
    conn->pumping = true;
  }
  if (!sendAll(fd, makeFrame(compactJsonText(ack)), kReplyTimeoutMs)) {
    shutdownSocket(fd);
    closeSocket(fd);
    return true;
  }
  hub_.add(fd, pending.session, pending.flags,
           (pending.flags & kPumpFlagNoQuotes) == 0 ? engine_.quotesJson() : Json::Value());
  return true;
}

void Server::serveAdmin(Connection* conn) {
  LineReader reader(conn->fd);
  for (;;) {
    std::string line;
    ReadStatus status = reader.readLine(&line, kMaxMessageBytes);
    Json::Value response;
    if (status == ReadStatus::kTooLarge) {
      sendAll(conn->fd, compactJsonText(adminError("request line too long")) + "\n",
              kReplyTimeoutMs);
      break;
    }
    if (status != ReadStatus::kOk) break;
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    Json::Value request;
    std::string error;
    if (!parseJsonText(line, &request, &error)) {
      response = adminError("malformed JSON: " + error);
    } else {
      try {
        response = admin(request);
      } catch (const std::exception& e) {
        response = adminError(std::string("bad request: ") + e.what());
      }
    }
    if (!sendAll(conn->fd, compactJsonText(response) + "\n", kReplyTimeoutMs)) break;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  shutdownSocket(conn->fd);
  closeSocket(conn->fd);
  conn->fd = -1;
  conn->done = true;
}

void Server::dropClients() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& conn : connections_) {
      if (conn->session != 0 && conn->fd >= 0) shutdownSocket(conn->fd);
    }
    pendingPumps_.clear();
  }
  hub_.dropAll();
}

Json::Value Server::admin(const Json::Value& request) {
  std::string cmd;
  std::string error;
  if (!request.isObject() || !readString(request, "cmd", &cmd, &error)) {
    return adminError("a request is an object with a text \"cmd\"");
  }
  Json::Value out = adminOk();
  if (cmd == "state") {
    out["state"] = engine_.stateJson();
  } else if (cmd == "seed") {
    if (!request.isMember("state")) return adminError("missing 'state'");
    if (!engine_.seed(request["state"], &error)) return adminError(error);
  } else if (cmd == "script") {
    std::string call;
    if (!readString(request, "call", &call, &error)) return adminError(error);
    if (!request.isMember("results") || !request["results"].isArray()) {
      return adminError("'results' must be an array of integers");
    }
    std::vector<int> results;
    for (const Json::Value& r : request["results"]) {
      if (!r.isInt()) return adminError("'results' must be an array of integers");
      results.push_back(r.asInt());
    }
    engine_.script(call, results);
  } else if (cmd == "unscript") {
    engine_.unscript();
  } else if (cmd == "refuse") {
    bool on = false;
    if (!readBool(request, "on", &on, &error)) return adminError(error);
    refusing_ = on;
  } else if (cmd == "drop") {
    dropClients();
  } else if (cmd == "password") {
    int login = 0;
    std::string password;
    if (!readInt(request, "login", &login, &error) ||
        !readString(request, "password", &password, &error)) {
      return adminError(error);
    }
    if (!engine_.setManagerPassword(login, password)) return adminError("unknown manager");
  } else if (cmd == "quote") {
    std::string symbol;
    double bid = 0;
    double ask = 0;
    if (!readString(request, "symbol", &symbol, &error) ||
        !readDouble(request, "bid", &bid, &error) || !readDouble(request, "ask", &ask, &error) ||
        !engine_.pushQuote(symbol, bid, ask, &error)) {
      return adminError(error);
    }
  } else if (cmd == "balance") {
    int login = 0;
    int op = 0;
    double amount = 0;
    std::string comment;
    if (!readInt(request, "login", &login, &error) ||
        !readInt(request, "cmd6", &op, &error) ||
        !readDouble(request, "amount", &amount, &error)) {
      return adminError(error);
    }
    if (request.isMember("comment") && !readString(request, "comment", &comment, &error)) {
      return adminError(error);
    }
    int order = 0;
    int result = engine_.balanceOperation(login, op, amount, comment, &order);
    if (result != mt::RET_OK) {
      Json::Value failed = adminError("result " + std::to_string(result));
      failed["result"] = result;
      return failed;
    }
    out["order"] = order;
  } else if (cmd == "delete_user") {
    int login = 0;
    if (!readInt(request, "login", &login, &error)) return adminError(error);
    if (!engine_.deleteUser(login)) return adminError("unknown account");
  } else if (cmd == "time_offset") {
    std::int64_t seconds = 0;
    if (!readInt64(request, "seconds", &seconds, &error)) return adminError(error);
    if (seconds < -(std::int64_t{1} << 40) || seconds > (std::int64_t{1} << 40)) {
      return adminError("offset out of range");
    }
    engine_.setTimeOffset(seconds);
  } else if (cmd == "calls") {
    bool clear = false;
    if (request.isMember("clear") && !readBool(request, "clear", &clear, &error)) {
      return adminError(error);
    }
    out["calls"] = engine_.calls(clear);
  } else if (cmd == "clients") {
    Json::Value pumps = hub_.list();
    Json::Value list(Json::arrayValue);
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& conn : connections_) {
      if (conn->session == 0 || conn->done || conn->pumping) continue;
      Json::Value v(Json::objectValue);
      v["session"] = conn->session;
      v["login"] = conn->login;
      v["pumping"] = false;
      v["flags"] = Json::Value();
      for (const Json::Value& p : pumps) {
        if (p["session"].asInt() == conn->session) {
          v["pumping"] = true;
          v["flags"] = p["flags"];
        }
      }
      list.append(v);
    }
    out["clients"] = list;
  } else if (cmd == "hold") {
    std::string call;
    int count = 1;
    if (!readString(request, "call", &call, &error)) return adminError(error);
    if (request.isMember("count") && !readInt(request, "count", &count, &error)) {
      return adminError(error);
    }
    if (call.empty() || count < 1 || count > kMaxHoldCount) {
      return adminError("'call' must be a call name and 'count' from 1 to " +
                        std::to_string(kMaxHoldCount));
    }
    std::lock_guard<std::mutex> lock(holdMutex_);
    holdCounts_[call] = count;
  } else if (cmd == "unhold") {
    std::lock_guard<std::mutex> lock(holdMutex_);
    holdCounts_.clear();
  } else if (cmd == "held") {
    out["held"] = heldList();
  } else if (cmd == "release") {
    out["released"] = releaseHeld();
  } else if (cmd == "hold_events") {
    bool on = false;
    if (!readBool(request, "on", &on, &error)) return adminError(error);
    hub_.holdEvents(on);
  } else if (cmd == "ping") {
  } else {
    return adminError("unknown cmd '" + cmd + "'");
  }
  return out;
}

}  // namespace sim
