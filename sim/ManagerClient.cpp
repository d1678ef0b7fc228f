#include "sim/ManagerClient.h"

#include <cstdlib>
#include <cstring>
#include <exception>

#include "server/FieldText.h"
#include "sim/Codec.h"
#include "sim/Socket.h"
#include "sim/WireJson.h"

namespace sim {

namespace {

// Answers can be larger than requests (the whole account list).
constexpr std::size_t kMaxAnswerBytes = 256u << 20;
constexpr int kMaxListArgument = 100000;

std::string safeText(const char* text) { return text != nullptr ? text : ""; }

Json::Value intList(const int* items, int count) {
  Json::Value list(Json::arrayValue);
  if (items == nullptr || count <= 0) return list;
  if (count > kMaxListArgument) count = kMaxListArgument;
  for (int i = 0; i < count; ++i) list.append(items[i]);
  return list;
}

Json::Value args() { return Json::Value(Json::objectValue); }

// answer[outer][inner] as an int, when the server sent one (any other shape
// leaves *out alone).
void readNestedInt(const Json::Value& answer, const char* outer, const char* inner, int* out) {
  const Json::Value* record = answer.isObject() ? answer.find(outer, outer + std::strlen(outer))
                                                : nullptr;
  if (record == nullptr || !record->isObject()) return;
  const Json::Value* value = record->find(inner, inner + std::strlen(inner));
  if (value != nullptr && value->isInt()) *out = value->asInt();
}

}  // namespace

ManagerClient::~ManagerClient() { Disconnect(); }

int ManagerClient::call(const char* name, const Json::Value& callArgs, Json::Value* response) {
  std::lock_guard<std::mutex> lock(callMutex_);
  if (mainFd_ < 0) return mt::RET_NO_CONNECT;
  try {
    Json::Value request(Json::objectValue);
    long long id = ++nextId_;
    request["id"] = static_cast<Json::Int64>(id);
    request["call"] = name;
    request["args"] = callArgs;
    if (!sendAll(mainFd_, makeFrame(compactJsonText(request)), kCallTimeoutMs)) {
      closeMainLocked();
      return mt::RET_NO_CONNECT;
    }
    std::string payload;
    if (readFrame(mainFd_, &payload, kCallTimeoutMs, kMaxAnswerBytes) != ReadStatus::kOk) {
      closeMainLocked();
      return mt::RET_NO_CONNECT;
    }
    Json::Value answer;
    if (!parseJsonText(payload, &answer, nullptr) || !answer.isObject() ||
        !answer["result"].isInt() || !answer["id"].isInt64() ||
        answer["id"].asInt64() != id) {
      closeMainLocked();
      return mt::RET_NO_CONNECT;
    }
    int result = answer["result"].asInt();
    if (response != nullptr) *response = std::move(answer);
    return result;
  } catch (const std::exception&) {
    closeMainLocked();
    return mt::RET_NO_CONNECT;
  }
}

void ManagerClient::closeMainLocked() {
  if (mainFd_ >= 0) {
    shutdownSocket(mainFd_);
    closeSocket(mainFd_);
    mainFd_ = -1;
  }
}

template <typename T>
T* ManagerClient::fetchArray(const char* name, const Json::Value& callArgs, const char* key,
                             int* total) {
  if (total != nullptr) *total = 0;
  Json::Value answer;
  if (call(name, callArgs, &answer) != mt::RET_OK) return nullptr;
  const Json::Value& list = answer[key];
  if (!list.isArray()) return nullptr;
  std::size_t count = list.size();
  T* items = static_cast<T*>(std::calloc(count > 0 ? count : 1, sizeof(T)));
  if (items == nullptr) return nullptr;
  for (Json::ArrayIndex i = 0; i < list.size(); ++i) {
    if (!fromJson(list[i], &items[i], nullptr)) {
      std::free(items);
      return nullptr;
    }
  }
  if (total != nullptr) *total = static_cast<int>(count);
  return items;
}

int ManagerClient::Connect(const char* server) {
  Disconnect();
  std::string address = safeText(server);
  std::size_t colon = address.rfind(':');
  if (colon == std::string::npos || colon == 0) return mt::RET_INVALID_DATA;
  std::string host = address.substr(0, colon);
  char* end = nullptr;
  long port = std::strtol(address.c_str() + colon + 1, &end, 10);
  if (end == address.c_str() + colon + 1 || *end != '\0' || port <= 0 || port > 65535) {
    return mt::RET_INVALID_DATA;
  }
  int fd = connectTo(host, static_cast<int>(port), kCallTimeoutMs);
  if (fd < 0) return mt::RET_NO_CONNECT;
  {
    std::lock_guard<std::mutex> lock(callMutex_);
    mainFd_ = fd;
    host_ = host;
    port_ = static_cast<int>(port);
  }
  Json::Value a = args();
  a["address"] = address;
  int result = call("Connect", a, nullptr);
  if (result != mt::RET_OK) {
    std::lock_guard<std::mutex> lock(callMutex_);
    closeMainLocked();
  }
  return result;
}

int ManagerClient::Disconnect() {
  stopPump();
  std::lock_guard<std::mutex> lock(callMutex_);
  closeMainLocked();
  return mt::RET_OK;
}

int ManagerClient::IsConnected() {
  {
    std::lock_guard<std::mutex> lock(callMutex_);
    if (mainFd_ < 0) return 0;
    if (peerGone(mainFd_)) {
      closeMainLocked();
      return 0;
    }
  }
  if (pumpWanted_ && !pumpAlive_) return 0;
  return 1;
}

int ManagerClient::Login(int login, const char* password) {
  Json::Value a = args();
  a["login"] = login;
  a["password"] = safeText(password);
  return call("Login", a, nullptr);
}

int ManagerClient::Ping() { return call("Ping", args(), nullptr) == mt::RET_OK ? 0 : 1; }

const char* ManagerClient::ErrorDescription(int code) {
  switch (code) {
    case mt::RET_OK: return "done";
    case mt::RET_OK_NONE: return "done, nothing to do";
    case mt::RET_ERROR: return "common error";
    case mt::RET_INVALID_DATA: return "invalid data";
    case mt::RET_TECH_PROBLEM: return "technical problem on the server";
    case mt::RET_OLD_VERSION: return "old client version";
    case mt::RET_NO_CONNECT: return "no connection";
    case mt::RET_NOT_ENOUGH_RIGHTS: return "not enough rights";
    case mt::RET_TOO_FREQUENT: return "too frequent requests";
    case mt::RET_MALFUNCTION: return "operation failed on the server";
    case mt::RET_INVALID_LOGIN: return "invalid login or password";
    case mt::RET_NOT_FOUND: return "not found";
    case mt::RET_TRADE_BAD_PRICES: return "invalid prices";
    case mt::RET_TRADE_NO_MONEY: return "not enough money";
    default: return "unknown error";
  }
}

int ManagerClient::Release() {
  Disconnect();
  delete this;
  return 0;
}

void ManagerClient::MemFree(void* ptr) { std::free(ptr); }

int ManagerClient::PumpingSwitchEx(mt::PumpingNotifyFunc handler, int flags, void* param) {
  stopPump();
  // Until the pumping connection is up this interface reports itself
  // disconnected, so that a failed switch is retried by reconnecting.
  pumpWanted_ = true;
  Json::Value a = args();
  a["flags"] = flags;
  Json::Value answer;
  int result = call("PumpingSwitchEx", a, &answer);
  if (result != mt::RET_OK) return result;
  if (!answer["token"].isString()) return mt::RET_ERROR;
  std::string host;
  int port;
  {
    std::lock_guard<std::mutex> lock(callMutex_);
    host = host_;
    port = port_;
  }
  int fd = connectTo(host, port, kCallTimeoutMs);
  if (fd < 0) return mt::RET_NO_CONNECT;
  Json::Value attach(Json::objectValue);
  attach["id"] = 0;
  attach["call"] = "PumpAttach";
  attach["args"]["token"] = answer["token"];
  std::string payload;
  Json::Value ack;
  if (!sendAll(fd, makeFrame(compactJsonText(attach)), kCallTimeoutMs) ||
      readFrame(fd, &payload, kCallTimeoutMs, kMaxAnswerBytes) != ReadStatus::kOk ||
      !parseJsonText(payload, &ack, nullptr) || !ack.isObject() || !ack["result"].isInt() ||
      ack["result"].asInt() != mt::RET_OK) {
    closeSocket(fd);
    return mt::RET_NO_CONNECT;
  }
  std::lock_guard<std::mutex> lock(pumpMutex_);
  handler_ = handler;
  param_ = param;
  pumpFd_ = fd;
  pumpStop_ = false;
  pumpAlive_ = true;
  pumpWanted_ = true;
  pumpThread_ = std::thread([this, fd] { pumpLoop(fd); });
  return mt::RET_OK;
}

void ManagerClient::stopPump() {
  std::thread thread;
  {
    std::lock_guard<std::mutex> lock(pumpMutex_);
    pumpStop_ = true;
    pumpWanted_ = false;
    if (pumpFd_ >= 0) shutdownSocket(pumpFd_);
    thread = std::move(pumpThread_);
  }
  if (thread.joinable()) {
    if (thread.get_id() == std::this_thread::get_id()) {
      thread.detach();  // called from inside the handler: the loop ends after it
    } else {
      thread.join();
    }
  }
}

void ManagerClient::pumpLoop(int fd) {
  if (handler_ != nullptr && !pumpStop_) handler_(mt::PUMP_START_PUMPING, 0, nullptr, param_);
  while (!pumpStop_) {
    std::string payload;
    if (readFrame(fd, &payload, -1, kMaxAnswerBytes) != ReadStatus::kOk) break;
    Json::Value event;
    if (!parseJsonText(payload, &event, nullptr) || !event.isObject()) break;
    try {
      dispatchEvent(event);
    } catch (const std::exception&) {
      break;
    }
  }
  pumpAlive_ = false;
  std::lock_guard<std::mutex> lock(pumpMutex_);
  shutdownSocket(fd);
  closeSocket(fd);
  if (pumpFd_ == fd) pumpFd_ = -1;
}

void ManagerClient::dispatchEvent(const Json::Value& event) {
  if (!event["code"].isInt() || !event["type"].isInt()) return;
  int code = event["code"].asInt();
  int type = event["type"].asInt();
  const Json::Value& data = event["data"];
  if (pumpStop_ || handler_ == nullptr) return;
  if (code == mt::PUMP_UPDATE_TRADES) {
    mt::TradeRecord trade{};
    if (!fromJson(data, &trade, nullptr)) return;
    handler_(code, type, &trade, param_);
  } else if (code == mt::PUMP_UPDATE_USERS) {
    mt::UserRecord user{};
    if (!fromJson(data, &user, nullptr)) return;
    handler_(code, type, &user, param_);
  } else if (code == mt::PUMP_UPDATE_BIDASK) {
    if (!data.isArray()) return;
    {
      std::lock_guard<std::mutex> lock(cacheMutex_);
      for (const Json::Value& item : data) {
        mt::SymbolInfo info{};
        if (!fromJson(item, &info, nullptr)) continue;
        std::string name = mt::fieldText(info.symbol);
        quotes_[name] = info;
        if (updatedSet_.insert(name).second) updated_.push_back(name);
      }
    }
    handler_(code, type, nullptr, param_);
  } else {
    handler_(code, type, nullptr, param_);
  }
}

int ManagerClient::UserRecordGet(int login, mt::UserRecord* user) {
  if (user == nullptr) return mt::RET_INVALID_DATA;
  Json::Value a = args();
  a["login"] = login;
  Json::Value answer;
  int result = call("UserRecordGet", a, &answer);
  if (result != mt::RET_OK) return result;
  mt::UserRecord parsed{};
  if (!fromJson(answer["user"], &parsed, nullptr)) return mt::RET_ERROR;
  *user = parsed;
  return mt::RET_OK;
}

mt::UserRecord* ManagerClient::UsersGet(int* total) {
  return fetchArray<mt::UserRecord>("UsersGet", args(), "users", total);
}

mt::ConSymbol* ManagerClient::SymbolsGetAll(int* total) {
  return fetchArray<mt::ConSymbol>("SymbolsGetAll", args(), "symbols", total);
}

int ManagerClient::SymbolAdd(const char* symbol) {
  Json::Value a = args();
  a["symbol"] = safeText(symbol);
  return call("SymbolAdd", a, nullptr);
}

int ManagerClient::SymbolsRefresh() { return call("SymbolsRefresh", args(), nullptr); }

int ManagerClient::SymbolInfoUpdated(mt::SymbolInfo* infos, int max_info) {
  if (infos == nullptr || max_info <= 0) return 0;
  std::lock_guard<std::mutex> lock(cacheMutex_);
  int count = 0;
  while (count < max_info && !updated_.empty()) {
    std::string name = updated_.front();
    updated_.pop_front();
    updatedSet_.erase(name);
    infos[count++] = quotes_[name];
  }
  return count;
}

mt::TradeRecord* ManagerClient::TradesGetByLogin(int login, const char* group, int* total) {
  Json::Value a = args();
  a["login"] = login;
  a["group"] = textFromBytes(safeText(group).c_str(), safeText(group).size());
  return fetchArray<mt::TradeRecord>("TradesGetByLogin", a, "trades", total);
}

int ManagerClient::GroupRecordGet(const char* name, mt::ConGroup* group) {
  if (group == nullptr) return mt::RET_INVALID_DATA;
  Json::Value a = args();
  a["name"] = textFromBytes(safeText(name).c_str(), safeText(name).size());
  Json::Value answer;
  int result = call("GroupRecordGet", a, &answer);
  if (result != mt::RET_OK) return result;
  mt::ConGroup parsed{};
  if (!fromJson(answer["group"], &parsed, nullptr)) return mt::RET_ERROR;
  *group = parsed;
  return mt::RET_OK;
}

int ManagerClient::TradeTransaction(mt::TradeTransInfo* info) {
  if (info == nullptr) return mt::RET_INVALID_DATA;
  Json::Value a = args();
  a["info"] = toJson(*info);
  Json::Value answer;
  int result = call("TradeTransaction", a, &answer);
  if (result == mt::RET_OK) readNestedInt(answer, "info", "order", &info->order);
  return result;
}

mt::TradeRecord* ManagerClient::TradesUserHistory(int login, mt::ServerTimeT from,
                                                  mt::ServerTimeT to, int* total) {
  Json::Value a = args();
  a["login"] = login;
  a["from"] = static_cast<Json::Int64>(from);
  a["to"] = static_cast<Json::Int64>(to);
  return fetchArray<mt::TradeRecord>("TradesUserHistory", a, "trades", total);
}

mt::TradeRecord* ManagerClient::TradeRecordsRequest(const int* orders, int* total) {
  if (total == nullptr) return nullptr;
  int count = *total;
  *total = 0;
  if (orders == nullptr || count <= 0) return nullptr;
  Json::Value a = args();
  a["orders"] = intList(orders, count);
  return fetchArray<mt::TradeRecord>("TradeRecordsRequest", a, "trades", total);
}

mt::ServerTimeT ManagerClient::ServerTime() {
  Json::Value answer;
  if (call("ServerTime", args(), &answer) != mt::RET_OK || !answer["time"].isInt64()) {
    return 0;
  }
  return answer["time"].asInt64();
}

int ManagerClient::AdmTradeRecordModify(mt::TradeRecord* trade) {
  if (trade == nullptr) return mt::RET_INVALID_DATA;
  Json::Value a = args();
  a["trade"] = toJson(*trade);
  return call("AdmTradeRecordModify", a, nullptr);
}

int ManagerClient::AdmBalanceFix(const int* logins, int count) {
  Json::Value a = args();
  a["logins"] = intList(logins, count);
  return call("AdmBalanceFix", a, nullptr);
}

int ManagerClient::AdmTradesDelete(const int* orders, int count) {
  Json::Value a = args();
  a["orders"] = intList(orders, count);
  return call("AdmTradesDelete", a, nullptr);
}

int ManagerClient::UserRecordNew(mt::UserRecord* user) {
  if (user == nullptr) return mt::RET_INVALID_DATA;
  Json::Value a = args();
  a["user"] = toJson(*user);
  Json::Value answer;
  int result = call("UserRecordNew", a, &answer);
  if (result == mt::RET_OK) readNestedInt(answer, "user", "login", &user->login);
  return result;
}

int ManagerClient::UserRecordUpdate(const mt::UserRecord* user) {
  if (user == nullptr) return mt::RET_INVALID_DATA;
  Json::Value a = args();
  a["user"] = toJson(*user);
  return call("UserRecordUpdate", a, nullptr);
}

int ManagerClient::UserPasswordCheck(int login, const char* password) {
  Json::Value a = args();
  a["login"] = login;
  a["password"] = textFromBytes(safeText(password).c_str(), safeText(password).size());
  return call("UserPasswordCheck", a, nullptr);
}

int ManagerClient::UserPasswordSet(int login, const char* password, int change_investor,
                                   int clean_pubkey) {
  Json::Value a = args();
  a["login"] = login;
  a["password"] = textFromBytes(safeText(password).c_str(), safeText(password).size());
  a["investor"] = change_investor;
  a["clean_pubkey"] = clean_pubkey;
  return call("UserPasswordSet", a, nullptr);
}

int ManagerClient::UsersGroupOp(const mt::GroupCommandInfo* info, const int* logins) {
  if (info == nullptr) return mt::RET_INVALID_DATA;
  Json::Value a = args();
  a["info"] = toJson(*info);
  a["logins"] = intList(logins, info->len);
  return call("UsersGroupOp", a, nullptr);
}

int ManagerClient::CfgUpdateGroup(const mt::ConGroup* group) {
  if (group == nullptr) return mt::RET_INVALID_DATA;
  Json::Value a = args();
  a["group"] = toJson(*group);
  return call("CfgUpdateGroup", a, nullptr);
}

int ManagerClient::CfgUpdateSymbol(const mt::ConSymbol* symbol) {
  if (symbol == nullptr) return mt::RET_INVALID_DATA;
  Json::Value a = args();
  a["symbol"] = toJson(*symbol);
  return call("CfgUpdateSymbol", a, nullptr);
}

int ManagerClient::ManagerRights(mt::ConManager* manager) {
  if (manager == nullptr) return mt::RET_INVALID_DATA;
  Json::Value answer;
  int result = call("ManagerRights", args(), &answer);
  if (result != mt::RET_OK) return result;
  mt::ConManager parsed{};
  if (!fromJson(answer["manager"], &parsed, nullptr)) return mt::RET_ERROR;
  *manager = parsed;
  return mt::RET_OK;
}

int ManagerClient::MailSend(const mt::MailBox* mail, const int* logins) {
  if (mail == nullptr) return mt::RET_INVALID_DATA;
  std::string body;
  if (mail->body != nullptr) {
    std::size_t len = mail->bodylen > 0 ? static_cast<std::size_t>(mail->bodylen)
                                        : std::strlen(mail->body);
    if (len > kMaxMessageBytes / 2) len = kMaxMessageBytes / 2;
    body.assign(mail->body, len);
  }
  Json::Value a = args();
  a["mail"] = toJson(*mail);
  a["body"] = textFromBytes(body.c_str(), body.size());
  a["logins"] = intList(logins, mail->to);
  return call("MailSend", a, nullptr);
}

}  // namespace sim
