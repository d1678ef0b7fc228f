// The client side of the simulated trading server: a CManagerInterface that
// speaks the simulator's frame protocol (see Server.h) over TCP. Built into
// the plugin mtmanapi.so.
//
// Locks: callMutex_ guards the request connection (one request/response at
// a time); pumpMutex_ guards the pumping thread's lifecycle and socket;
// cacheMutex_ guards the quote cache. The pumping thread calls the handler
// holding none of them, so a handler may call SymbolInfoUpdated (served from
// the cache) or any other call of this interface. Every network wait is
// bounded (kCallTimeoutMs); a dead link gives RET_NO_CONNECT.
#ifndef MT4BRIDGE_SIM_MANAGER_CLIENT_H_
#define MT4BRIDGE_SIM_MANAGER_CLIENT_H_

#include <json/json.h>

#include <atomic>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "server/ManagerApi.h"

namespace sim {

constexpr int kCallTimeoutMs = 5000;

class ManagerClient : public mt::CManagerInterface {
 public:
  ManagerClient() = default;
  ManagerClient(const ManagerClient&) = delete;
  ManagerClient& operator=(const ManagerClient&) = delete;

  int Connect(const char* server) override;
  int Disconnect() override;
  int IsConnected() override;
  int Login(int login, const char* password) override;
  int Ping() override;
  const char* ErrorDescription(int code) override;
  // Disconnects and deletes this object. Must not be called from inside
  // the pumping handler.
  int Release() override;
  void MemFree(void* ptr) override;
  int PumpingSwitchEx(mt::PumpingNotifyFunc handler, int flags, void* param) override;

  int UserRecordGet(int login, mt::UserRecord* user) override;
  mt::UserRecord* UsersGet(int* total) override;
  mt::ConSymbol* SymbolsGetAll(int* total) override;
  int SymbolAdd(const char* symbol) override;
  int SymbolsRefresh() override;
  int SymbolInfoUpdated(mt::SymbolInfo* infos, int max_info) override;
  mt::TradeRecord* TradesGetByLogin(int login, const char* group, int* total) override;
  int GroupRecordGet(const char* name, mt::ConGroup* group) override;

  int TradeTransaction(mt::TradeTransInfo* info) override;
  mt::TradeRecord* TradesUserHistory(int login, mt::ServerTimeT from, mt::ServerTimeT to,
                                     int* total) override;
  mt::TradeRecord* TradeRecordsRequest(const int* orders, int* total) override;
  mt::ServerTimeT ServerTime() override;
  int AdmTradeRecordModify(mt::TradeRecord* trade) override;
  int AdmBalanceFix(const int* logins, int count) override;
  int AdmTradesDelete(const int* orders, int count) override;
  int UserRecordNew(mt::UserRecord* user) override;
  int UserRecordUpdate(const mt::UserRecord* user) override;
  int UserPasswordCheck(int login, const char* password) override;
  int UserPasswordSet(int login, const char* password, int change_investor,
                      int clean_pubkey) override;
  int UsersGroupOp(const mt::GroupCommandInfo* info, const int* logins) override;
  int CfgUpdateGroup(const mt::ConGroup* group) override;
  int CfgUpdateSymbol(const mt::ConSymbol* symbol) override;
  int ManagerRights(mt::ConManager* manager) override;
  int MailSend(const mt::MailBox* mail, const int* logins) override;

 protected:
  ~ManagerClient() override;

 private:
  // One request/response on the request connection. Returns the result
  // code; *response gets the whole answer (when not null).
  int call(const char* name, const Json::Value& args, Json::Value* response);
  // Calls name and converts the array member key of the answer to a
  // malloc'ed array (never null on success, even when empty).
  template <typename T>
  T* fetchArray(const char* name, const Json::Value& args, const char* key, int* total);
  void closeMainLocked();
  void stopPump();
  void pumpLoop(int fd);
  void dispatchEvent(const Json::Value& event);

  std::mutex callMutex_;
  int mainFd_ = -1;
  std::string host_;
  int port_ = 0;
  long long nextId_ = 0;

  std::mutex pumpMutex_;
  std::thread pumpThread_;
  int pumpFd_ = -1;
  std::atomic<bool> pumpStop_{false};
  std::atomic<bool> pumpAlive_{false};
  std::atomic<bool> pumpWanted_{false};
  mt::PumpingNotifyFunc handler_ = nullptr;
  void* param_ = nullptr;

  std::mutex cacheMutex_;
  std::map<std::string, mt::SymbolInfo> quotes_;
  std::deque<std::string> updated_;
  std::set<std::string> updatedSet_;
};

}  // namespace sim

#endif  // MT4BRIDGE_SIM_MANAGER_CLIENT_H_
