// An in-process manager interface for unit tests: no network, no plugin.
//
// Results. Every int-returning call answers, in this order of precedence:
// the next value scripted for its name (script("UserRecordNew", {3, 0})
// answers 3, then 0, then falls back), else the default set for its name
// (setDefault("Ping", 1)), else its natural result (see each call below;
// usually 0). Calls returning an array read a scripted value the same way:
// 0 (the default) returns the data, any other value returns null with a
// count of 0.
//
// Data. Users by login, symbols in order, groups by name, open trades per
// login, history records (closed trades, all logins), the server time, the
// error texts. A successful UserRecordNew/UserRecordUpdate/CfgUpdateSymbol/
// CfgUpdateGroup also stores what it was given, so a later read sees it.
// A TradeTransaction answering 0 or 1 sets info->order to the next ticket
// (setNextTicket; 0 leaves order untouched).
//
// Connection state. Connect answering 0 marks the fake connected,
// Disconnect marks it disconnected, IsConnected reports the state unless
// scripted. setConnected() sets it directly.
//
// Records. Every call is recorded in order with its arguments as texts
// (calls(), count(name), names()); the last structure passed to each call
// that takes one is kept as a typed copy (lastUserRecord() ...), and every
// TradeTransInfo passed is kept (transactions()).
//
// Arrays. Every array returned is allocated for this fake and must be given
// back with MemFree; outstandingArrays() counts those not yet freed and
// badFrees() counts MemFree of a pointer that is not an outstanding array
// (a double free or a foreign pointer: never freed for real). MemFree(null)
// is recorded and harmless.
//
// Pumping. PumpingSwitchEx keeps the handler, flags and parameter;
// firePump(code, type, data) calls the handler on the caller's thread (as
// the plugin's pumping thread would), without holding the fake's lock.
//
// Hooks. setHook(name, fn) runs fn at the start of every call of that name,
// before the result is chosen and without the fake's lock held (e.g. to set
// the stop flag while Connect runs).
//
// Ownership. By default the test owns the fake: Release only records the
// call and marks the fake released, so the test can inspect it after the
// ManagerLink that adopted it is gone. Declare the fake before the link so
// that it outlives the link. With setDeleteOnRelease(true) the fake deletes
// itself in Release, like a real interface (create it with new then).
//
// Thread-safe: one lock guards all state; tests may use the fake from the
// pumping thread and from other threads at once.
#ifndef MT4BRIDGE_TESTS_UNIT_FAKE_MANAGER_H_
#define MT4BRIDGE_TESTS_UNIT_FAKE_MANAGER_H_

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "server/ManagerApi.h"

namespace testing_support {

struct FakeCall {
  std::string name;
  std::vector<std::string> args;  // each argument as text
};

class FakeManager : public mt::CManagerInterface {
 public:
  FakeManager();
  ~FakeManager() override;
  FakeManager(const FakeManager&) = delete;
  FakeManager& operator=(const FakeManager&) = delete;

  // ---- Scripting -------------------------------------------------------
  // Appends results for the next calls of name.
  void script(const std::string& name, const std::vector<int>& results);
  // The result of name once its script is used up.
  void setDefault(const std::string& name, int result);
  // Runs fn at the start of each call of name (no fake lock held).
  void setHook(const std::string& name, std::function<void()> fn);
  void setDeleteOnRelease(bool on);

  // ---- Data ------------------------------------------------------------
  void setConnected(bool connected);
  void addUser(const mt::UserRecord& user);        // replaces same login
  void removeUser(int login);
  void addSymbol(const mt::ConSymbol& symbol);     // replaces same name
  void addGroup(const mt::ConGroup& group);        // replaces same name
  void addOpenTrade(const mt::TradeRecord& trade); // under trade.login
  void clearOpenTrades(int login);
  void addHistory(const mt::TradeRecord& trade);   // closed trade
  void clearHistory();
  void setServerTime(mt::ServerTimeT t);
  void setNextTicket(int ticket);
  void setErrorText(int code, const std::string& text);
  void setManagerRights(const mt::ConManager& rights);
  // Filled into each SymbolInfoUpdated entry (symbol name of entry i).
  void setQuoteSymbols(const std::vector<std::string>& names);

  bool hasUser(int login) const;
  mt::UserRecord user(int login) const;  // zeroed when absent
  std::vector<mt::ConSymbol> symbols() const;
  bool connected() const;
  bool released() const;

  // ---- Records ---------------------------------------------------------
  std::vector<FakeCall> calls() const;
  std::vector<std::string> names() const;  // call names in order
  int count(const std::string& name) const;
  void clearCalls();

  mt::UserRecord lastUserRecord() const { return locked(lastUser_); }
  mt::ConSymbol lastConSymbol() const { return locked(lastSymbol_); }
  mt::ConGroup lastConGroup() const { return locked(lastGroup_); }
  mt::TradeTransInfo lastTradeTransInfo() const { return locked(lastTrans_); }
  mt::TradeRecord lastTradeRecord() const { return locked(lastTrade_); }  // AdmTradeRecordModify
  mt::GroupCommandInfo lastGroupCommandInfo() const { return locked(lastGroupCommand_); }
  std::vector<int> lastGroupLogins() const { return locked(lastGroupLogins_); }
  mt::MailBox lastMailBox() const { return locked(lastMail_); }  // body pointer cleared; see below
  std::string lastMailBody() const { return locked(lastMailBody_); }
  std::vector<int> lastMailLogins() const { return locked(lastMailLogins_); }
  std::vector<mt::TradeTransInfo> transactions() const { return locked(transactions_); }

  int outstandingArrays() const;
  int memFreeCount() const { return locked(memFrees_); }  // MemFree of non-null pointers
  int badFrees() const { return locked(badFrees_); }

  // ---- Pumping ---------------------------------------------------------
  mt::PumpingNotifyFunc pumpHandler() const { return locked(handler_); }
  int pumpFlags() const { return locked(pumpFlags_); }  // -1 before PumpingSwitchEx
  // Calls the captured handler; false when there is none.
  bool firePump(int code, int type, void* data);

  // ---- CManagerInterface -----------------------------------------------
  int Connect(const char* server) override;
  int Disconnect() override;
  int IsConnected() override;
  int Login(int login, const char* password) override;
  int Ping() override;
  const char* ErrorDescription(int code) override;
  int Release() override;
  void MemFree(void* ptr) override;
  int PumpingSwitchEx(mt::PumpingNotifyFunc handler, int flags,
                      void* param) override;

  int UserRecordGet(int login, mt::UserRecord* user) override;
  mt::UserRecord* UsersGet(int* total) override;
  mt::ConSymbol* SymbolsGetAll(int* total) override;
  int SymbolAdd(const char* symbol) override;
  int SymbolsRefresh() override;
  int SymbolInfoUpdated(mt::SymbolInfo* infos, int max_info) override;
  mt::TradeRecord* TradesGetByLogin(int login, const char* group,
                                    int* total) override;
  int GroupRecordGet(const char* name, mt::ConGroup* group) override;

  int TradeTransaction(mt::TradeTransInfo* info) override;
  mt::TradeRecord* TradesUserHistory(int login, mt::ServerTimeT from,
                                     mt::ServerTimeT to, int* total) override;
  mt::TradeRecord* TradeRecordsRequest(const int* orders,
                                       int* total) override;
  mt::ServerTimeT ServerTime() override;
  int AdmTradeRecordModify(mt::TradeRecord* trade) override;
  int AdmBalanceFix(const int* logins, int count) override;
  int AdmTradesDelete(const int* orders, int count) override;
  int UserRecordNew(mt::UserRecord* user) override;
  int UserRecordUpdate(const mt::UserRecord* user) override;
  int UserPasswordCheck(int login, const char* password) override;
  int UserPasswordSet(int login, const char* password, int change_investor,
                      int clean_pubkey) override;
  int UsersGroupOp(const mt::GroupCommandInfo* info,
                   const int* logins) override;
  int CfgUpdateGroup(const mt::ConGroup* group) override;
  int CfgUpdateSymbol(const mt::ConSymbol* symbol) override;
  int ManagerRights(mt::ConManager* manager) override;
  int MailSend(const mt::MailBox* mail, const int* logins) override;

 private:
  // Runs the hook of name (unlocked), then records the call.
  void enter(const std::string& name, std::vector<std::string> args);
  // The scripted/default result of name, else natural. Lock held.
  int resultLocked(const std::string& name, int natural);
  // Copies count items into a fresh tracked array. Lock held.
  template <typename T>
  T* makeArrayLocked(const std::vector<T>& items, int* total);

  // A copy of a member, read under the lock.
  template <typename T>
  T locked(const T& member) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return member;
  }

  mutable std::mutex mutex_;
  std::map<std::string, std::deque<int>> scripts_;
  std::map<std::string, int> defaults_;
  std::map<std::string, std::function<void()>> hooks_;
  bool deleteOnRelease_ = false;
  bool released_ = false;

  bool connected_ = false;
  std::map<int, mt::UserRecord> users_;
  std::vector<mt::ConSymbol> symbols_;
  std::map<std::string, mt::ConGroup> groups_;
  std::map<int, std::vector<mt::TradeRecord>> openTrades_;
  std::vector<mt::TradeRecord> history_;
  mt::ServerTimeT serverTime_ = 1765000000;
  int nextTicket_ = 100000;
  std::map<int, std::string> errorTexts_;
  mt::ConManager rights_{};
  std::vector<std::string> quoteSymbols_;

  std::vector<FakeCall> calls_;
  mt::UserRecord lastUser_{};
  mt::ConSymbol lastSymbol_{};
  mt::ConGroup lastGroup_{};
  mt::TradeTransInfo lastTrans_{};
  mt::TradeRecord lastTrade_{};
  mt::GroupCommandInfo lastGroupCommand_{};
  std::vector<int> lastGroupLogins_;
  mt::MailBox lastMail_{};
  std::string lastMailBody_;
  std::vector<int> lastMailLogins_;
  std::vector<mt::TradeTransInfo> transactions_;

  std::set<void*> outstanding_;
  int memFrees_ = 0;
  int badFrees_ = 0;

  mt::PumpingNotifyFunc handler_ = nullptr;
  int pumpFlags_ = -1;
  void* pumpParam_ = nullptr;
};

}  // namespace testing_support

#endif  // MT4BRIDGE_TESTS_UNIT_FAKE_MANAGER_H_
