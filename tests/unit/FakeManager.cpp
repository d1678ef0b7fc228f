#include "FakeManager.h"

#include <cstdlib>
#include <cstring>
#include <utility>

#include "server/FieldText.h"

namespace testing_support {
namespace {

std::string text(const char* s) { return s ? std::string(s) : "(null)"; }
std::string num(long long v) { return std::to_string(v); }
std::string dbl(double v) { return std::to_string(v); }

std::string joinInts(const int* values, int count) {
  if (values == nullptr) return "(null)";
  std::string out;
  for (int i = 0; i < count; ++i) {
    if (i) out += ",";
    out += std::to_string(values[i]);
  }
  return out;
}

}  // namespace

FakeManager::FakeManager() = default;

FakeManager::~FakeManager() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (void* p : outstanding_) std::free(p);
  outstanding_.clear();
}

// ---- Scripting ----------------------------------------------------------

void FakeManager::script(const std::string& name,
                         const std::vector<int>& results) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto& queue = scripts_[name];
  queue.insert(queue.end(), results.begin(), results.end());
}

void FakeManager::setDefault(const std::string& name, int result) {
  std::lock_guard<std::mutex> lock(mutex_);
  defaults_[name] = result;
}

void FakeManager::setHook(const std::string& name, std::function<void()> fn) {
  std::lock_guard<std::mutex> lock(mutex_);
  hooks_[name] = std::move(fn);
}

void FakeManager::setDeleteOnRelease(bool on) {
  std::lock_guard<std::mutex> lock(mutex_);
  deleteOnRelease_ = on;
}

// ---- Data ---------------------------------------------------------------

void FakeManager::setConnected(bool connected) {
  std::lock_guard<std::mutex> lock(mutex_);
  connected_ = connected;
}

void FakeManager::addUser(const mt::UserRecord& user) {
  std::lock_guard<std::mutex> lock(mutex_);
  users_[user.login] = user;
}

void FakeManager::removeUser(int login) {
  std::lock_guard<std::mutex> lock(mutex_);
  users_.erase(login);
}

void FakeManager::addSymbol(const mt::ConSymbol& symbol) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& s : symbols_) {
    if (mt::fieldText(s.symbol) == mt::fieldText(symbol.symbol)) {
      s = symbol;
      return;
    }
  }
  symbols_.push_back(symbol);
}

void FakeManager::addGroup(const mt::ConGroup& group) {
  std::lock_guard<std::mutex> lock(mutex_);
  groups_[mt::fieldText(group.group)] = group;
}

void FakeManager::addOpenTrade(const mt::TradeRecord& trade) {
  std::lock_guard<std::mutex> lock(mutex_);
  openTrades_[trade.login].push_back(trade);
}

void FakeManager::clearOpenTrades(int login) {
  std::lock_guard<std::mutex> lock(mutex_);
  openTrades_.erase(login);
}

void FakeManager::addHistory(const mt::TradeRecord& trade) {
  std::lock_guard<std::mutex> lock(mutex_);
  history_.push_back(trade);
}

void FakeManager::clearHistory() {
  std::lock_guard<std::mutex> lock(mutex_);
  history_.clear();
}

void FakeManager::setServerTime(mt::ServerTimeT t) {
  std::lock_guard<std::mutex> lock(mutex_);
  serverTime_ = t;
}

void FakeManager::setNextTicket(int ticket) {
  std::lock_guard<std::mutex> lock(mutex_);
  nextTicket_ = ticket;
}

void FakeManager::setErrorText(int code, const std::string& t) {
  std::lock_guard<std::mutex> lock(mutex_);
  errorTexts_[code] = t;
}

void FakeManager::setManagerRights(const mt::ConManager& rights) {
  std::lock_guard<std::mutex> lock(mutex_);
  rights_ = rights;
}

void FakeManager::setQuoteSymbols(const std::vector<std::string>& names) {
  std::lock_guard<std::mutex> lock(mutex_);
  quoteSymbols_ = names;
}

bool FakeManager::hasUser(int login) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return users_.count(login) != 0;
}

mt::UserRecord FakeManager::user(int login) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = users_.find(login);
  if (it == users_.end()) return mt::UserRecord{};
  return it->second;
}

std::vector<mt::ConSymbol> FakeManager::symbols() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return symbols_;
}

bool FakeManager::connected() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return connected_;
}

bool FakeManager::released() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return released_;
}

// ---- Records ------------------------------------------------------------

std::vector<FakeCall> FakeManager::calls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_;
}

std::vector<std::string> FakeManager::names() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> out;
  for (const auto& c : calls_) out.push_back(c.name);
  return out;
}

int FakeManager::count(const std::string& name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  int n = 0;
  for (const auto& c : calls_) n += (c.name == name);
  return n;
}

void FakeManager::clearCalls() {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.clear();
}

int FakeManager::outstandingArrays() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(outstanding_.size());
}
// ---- Pumping ------------------------------------------------------------

bool FakeManager::firePump(int code, int type, void* data) {
  mt::PumpingNotifyFunc handler;
  void* param;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    handler = handler_;
    param = pumpParam_;
  }
  if (handler == nullptr) return false;
  handler(code, type, data, param);
  return true;
}

// ---- Internals ----------------------------------------------------------

void FakeManager::enter(const std::string& name,
                        std::vector<std::string> args) {
  std::function<void()> hook;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = hooks_.find(name);
    if (it != hooks_.end()) hook = it->second;
  }
  if (hook) hook();
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.push_back(FakeCall{name, std::move(args)});
}

int FakeManager::resultLocked(const std::string& name, int natural) {
  auto it = scripts_.find(name);
  if (it != scripts_.end() && !it->second.empty()) {
    int r = it->second.front();
    it->second.pop_front();
    return r;
  }
  auto d = defaults_.find(name);
  if (d != defaults_.end()) return d->second;
  return natural;
}

template <typename T>
T* FakeManager::makeArrayLocked(const std::vector<T>& items, int* total) {
  // Never a zero-size allocation, so every returned array is a distinct
  // pointer that MemFree can be checked against.
  size_t bytes = sizeof(T) * (items.empty() ? 1 : items.size());
  T* array = static_cast<T*>(std::calloc(1, bytes));
  if (!items.empty()) std::memcpy(array, items.data(), sizeof(T) * items.size());
  outstanding_.insert(array);
  if (total) *total = static_cast<int>(items.size());
  return array;
}

// ---- Connection and session --------------------------------------------

int FakeManager::Connect(const char* server) {
  enter("Connect", {text(server)});
  std::lock_guard<std::mutex> lock(mutex_);
  int r = resultLocked("Connect", 0);
  if (r == 0) connected_ = true;
  return r;
}

int FakeManager::Disconnect() {
  enter("Disconnect", {});
  std::lock_guard<std::mutex> lock(mutex_);
  connected_ = false;
  return resultLocked("Disconnect", 0);
}

int FakeManager::IsConnected() {
  enter("IsConnected", {});
  std::lock_guard<std::mutex> lock(mutex_);
  return resultLocked("IsConnected", connected_ ? 1 : 0);
}

int FakeManager::Login(int login, const char* password) {
  enter("Login", {num(login), text(password)});
  std::lock_guard<std::mutex> lock(mutex_);
  return resultLocked("Login", 0);
}

int FakeManager::Ping() {
  enter("Ping", {});
  std::lock_guard<std::mutex> lock(mutex_);
  return resultLocked("Ping", 0);
}

const char* FakeManager::ErrorDescription(int code) {
  enter("ErrorDescription", {num(code)});
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = errorTexts_.find(code);
  if (it == errorTexts_.end()) {
    it = errorTexts_.emplace(code, "error " + std::to_string(code)).first;
  }
  // std::map nodes are stable: the text lives as long as the fake.
  return it->second.c_str();
}

int FakeManager::Release() {
  enter("Release", {});
  bool selfDelete;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
    selfDelete = deleteOnRelease_;
  }
  if (selfDelete) delete this;
  return 0;
}

void FakeManager::MemFree(void* ptr) {
  enter("MemFree", {ptr ? "ptr" : "(null)"});
  if (ptr == nullptr) return;
  std::lock_guard<std::mutex> lock(mutex_);
  ++memFrees_;
  auto it = outstanding_.find(ptr);
  if (it == outstanding_.end()) {
    ++badFrees_;
    return;
  }
  outstanding_.erase(it);
  std::free(ptr);
}

int FakeManager::PumpingSwitchEx(mt::PumpingNotifyFunc handler, int flags,
                                 void* param) {
  enter("PumpingSwitchEx",
        {handler ? "handler" : "(null)", num(flags), param ? "param" : "(null)"});
  std::lock_guard<std::mutex> lock(mutex_);
  handler_ = handler;
  pumpFlags_ = flags;
  pumpParam_ = param;
  return resultLocked("PumpingSwitchEx", 0);
}

// ---- Reads --------------------------------------------------------------

int FakeManager::UserRecordGet(int login, mt::UserRecord* user) {
  enter("UserRecordGet", {num(login)});
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = users_.find(login);
  int r = resultLocked("UserRecordGet",
                       it != users_.end() ? mt::RET_OK : mt::RET_NOT_FOUND);
  if (user && it != users_.end() && (r == 0 || r == 1)) *user = it->second;
  return r;
}

mt::UserRecord* FakeManager::UsersGet(int* total) {
  enter("UsersGet", {});
  std::lock_guard<std::mutex> lock(mutex_);
  if (total) *total = 0;
  if (resultLocked("UsersGet", 0) != 0) return nullptr;
  std::vector<mt::UserRecord> items;
  for (const auto& [login, u] : users_) items.push_back(u);
  return makeArrayLocked(items, total);
}

mt::ConSymbol* FakeManager::SymbolsGetAll(int* total) {
  enter("SymbolsGetAll", {});
  std::lock_guard<std::mutex> lock(mutex_);
  if (total) *total = 0;
  if (resultLocked("SymbolsGetAll", 0) != 0) return nullptr;
  return makeArrayLocked(symbols_, total);
}

int FakeManager::SymbolAdd(const char* symbol) {
  enter("SymbolAdd", {text(symbol)});
  std::lock_guard<std::mutex> lock(mutex_);
  return resultLocked("SymbolAdd", 0);
}

int FakeManager::SymbolsRefresh() {
  enter("SymbolsRefresh", {});
  std::lock_guard<std::mutex> lock(mutex_);
  return resultLocked("SymbolsRefresh", 0);
}

int FakeManager::SymbolInfoUpdated(mt::SymbolInfo* infos, int max_info) {
  enter("SymbolInfoUpdated", {num(max_info)});
  std::lock_guard<std::mutex> lock(mutex_);
  int r = resultLocked("SymbolInfoUpdated", 0);
  int filled = r < max_info ? r : max_info;
  for (int i = 0; infos && i < filled; ++i) {
    infos[i] = mt::SymbolInfo{};
    if (i < static_cast<int>(quoteSymbols_.size())) {
      mt::setField(infos[i].symbol, quoteSymbols_[i]);
    }
  }
  return r;
}

mt::TradeRecord* FakeManager::TradesGetByLogin(int login, const char* group,
                                               int* total) {
  enter("TradesGetByLogin", {num(login), text(group)});
  std::lock_guard<std::mutex> lock(mutex_);
  if (total) *total = 0;
  if (resultLocked("TradesGetByLogin", 0) != 0) return nullptr;
  auto it = openTrades_.find(login);
  static const std::vector<mt::TradeRecord> kNone;
  return makeArrayLocked(it != openTrades_.end() ? it->second : kNone, total);
}

int FakeManager::GroupRecordGet(const char* name, mt::ConGroup* group) {
  enter("GroupRecordGet", {text(name)});
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = name ? groups_.find(name) : groups_.end();
  int r = resultLocked("GroupRecordGet",
                       it != groups_.end() ? mt::RET_OK : mt::RET_NOT_FOUND);
  if (group && it != groups_.end() && (r == 0 || r == 1)) *group = it->second;
  return r;
}

// ---- Direct requests and changes ---------------------------------------

int FakeManager::TradeTransaction(mt::TradeTransInfo* info) {
  std::vector<std::string> args;
  if (info) {
    args = {num(info->type),          num(info->cmd),
            num(info->order),         num(info->orderby),
            mt::fieldText(info->symbol), num(info->volume),
            dbl(info->price),         mt::fieldText(info->comment)};
  } else {
    args = {"(null)"};
  }
  enter("TradeTransaction", std::move(args));
  std::lock_guard<std::mutex> lock(mutex_);
  if (info) {
    lastTrans_ = *info;
    transactions_.push_back(*info);
  }
  int r = resultLocked("TradeTransaction", 0);
  if (info && (r == 0 || r == 1) && nextTicket_ != 0) {
    info->order = nextTicket_++;
  }
  return r;
}

mt::TradeRecord* FakeManager::TradesUserHistory(int login,
                                                mt::ServerTimeT from,
                                                mt::ServerTimeT to,
                                                int* total) {
  enter("TradesUserHistory", {num(login), num(from), num(to)});
  std::lock_guard<std::mutex> lock(mutex_);
  if (total) *total = 0;
  if (resultLocked("TradesUserHistory", 0) != 0) return nullptr;
  std::vector<mt::TradeRecord> items;
  for (const auto& t : history_) {
    if (t.login == login) items.push_back(t);
  }
  return makeArrayLocked(items, total);
}

mt::TradeRecord* FakeManager::TradeRecordsRequest(const int* orders,
                                                  int* total) {
  int n = total ? *total : 0;
  enter("TradeRecordsRequest", {joinInts(orders, n)});
  std::lock_guard<std::mutex> lock(mutex_);
  if (total) *total = 0;
  if (resultLocked("TradeRecordsRequest", 0) != 0) return nullptr;
  std::vector<mt::TradeRecord> items;
  for (int i = 0; orders && i < n; ++i) {
    bool found = false;
    for (const auto& t : history_) {
      if (t.order == orders[i]) {
        items.push_back(t);
        found = true;
        break;
      }
    }
    for (auto it = openTrades_.begin(); !found && it != openTrades_.end();
         ++it) {
      for (const auto& t : it->second) {
        if (t.order == orders[i]) {
          items.push_back(t);
          found = true;
          break;
        }
      }
    }
  }
  return makeArrayLocked(items, total);
}

mt::ServerTimeT FakeManager::ServerTime() {
  enter("ServerTime", {});
  std::lock_guard<std::mutex> lock(mutex_);
  return serverTime_;
}

int FakeManager::AdmTradeRecordModify(mt::TradeRecord* trade) {
  enter("AdmTradeRecordModify", {trade ? num(trade->order) : "(null)"});
  std::lock_guard<std::mutex> lock(mutex_);
  if (trade) lastTrade_ = *trade;
  return resultLocked("AdmTradeRecordModify", 0);
}

int FakeManager::AdmBalanceFix(const int* logins, int count) {
  enter("AdmBalanceFix", {joinInts(logins, count), num(count)});
  std::lock_guard<std::mutex> lock(mutex_);
  return resultLocked("AdmBalanceFix", 0);
}

int FakeManager::AdmTradesDelete(const int* orders, int count) {
  enter("AdmTradesDelete", {joinInts(orders, count), num(count)});
  std::lock_guard<std::mutex> lock(mutex_);
  return resultLocked("AdmTradesDelete", 0);
}

int FakeManager::UserRecordNew(mt::UserRecord* user) {
  enter("UserRecordNew", {user ? num(user->login) : "(null)"});
  std::lock_guard<std::mutex> lock(mutex_);
  if (user) lastUser_ = *user;
  int r = resultLocked("UserRecordNew", 0);
  if (user && r == 0) users_[user->login] = *user;
  return r;
}

int FakeManager::UserRecordUpdate(const mt::UserRecord* user) {
  enter("UserRecordUpdate", {user ? num(user->login) : "(null)"});
  std::lock_guard<std::mutex> lock(mutex_);
  if (user) lastUser_ = *user;
  int r = resultLocked("UserRecordUpdate", 0);
  if (user && (r == 0 || r == 1)) users_[user->login] = *user;
  return r;
}

int FakeManager::UserPasswordCheck(int login, const char* password) {
  enter("UserPasswordCheck", {num(login), text(password)});
  std::lock_guard<std::mutex> lock(mutex_);
  return resultLocked("UserPasswordCheck", 0);
}

int FakeManager::UserPasswordSet(int login, const char* password,
                                 int change_investor, int clean_pubkey) {
  enter("UserPasswordSet", {num(login), text(password), num(change_investor),
                            num(clean_pubkey)});
  std::lock_guard<std::mutex> lock(mutex_);
  return resultLocked("UserPasswordSet", 0);
}

int FakeManager::UsersGroupOp(const mt::GroupCommandInfo* info,
                              const int* logins) {
  int n = info ? info->len : 0;
  enter("UsersGroupOp",
        {info ? num(info->command) : "(null)",
         info ? num(info->leverage) : "", joinInts(logins, n)});
  std::lock_guard<std::mutex> lock(mutex_);
  if (info) lastGroupCommand_ = *info;
  lastGroupLogins_.clear();
  for (int i = 0; logins && i < n; ++i) lastGroupLogins_.push_back(logins[i]);
  return resultLocked("UsersGroupOp", 0);
}

int FakeManager::CfgUpdateGroup(const mt::ConGroup* group) {
  enter("CfgUpdateGroup", {group ? mt::fieldText(group->group) : "(null)"});
  std::lock_guard<std::mutex> lock(mutex_);
  if (group) lastGroup_ = *group;
  int r = resultLocked("CfgUpdateGroup", 0);
  if (group && (r == 0 || r == 1)) {
    groups_[mt::fieldText(group->group)] = *group;
  }
  return r;
}

int FakeManager::CfgUpdateSymbol(const mt::ConSymbol* symbol) {
  enter("CfgUpdateSymbol",
        {symbol ? mt::fieldText(symbol->symbol) : "(null)"});
  std::lock_guard<std::mutex> lock(mutex_);
  if (symbol) lastSymbol_ = *symbol;
  int r = resultLocked("CfgUpdateSymbol", 0);
  if (symbol && (r == 0 || r == 1)) {
    bool replaced = false;
    for (auto& s : symbols_) {
      if (mt::fieldText(s.symbol) == mt::fieldText(symbol->symbol)) {
        s = *symbol;
        replaced = true;
      }
    }
    if (!replaced) symbols_.push_back(*symbol);
  }
  return r;
}

int FakeManager::ManagerRights(mt::ConManager* manager) {
  enter("ManagerRights", {});
  std::lock_guard<std::mutex> lock(mutex_);
  int r = resultLocked("ManagerRights", 0);
  if (manager && r == 0) *manager = rights_;
  return r;
}

int FakeManager::MailSend(const mt::MailBox* mail, const int* logins) {
  int n = mail ? mail->to : 0;
  enter("MailSend", {mail ? mt::fieldText(mail->subject) : "(null)",
                     joinInts(logins, n)});
  std::lock_guard<std::mutex> lock(mutex_);
  if (mail) {
    lastMail_ = *mail;
    lastMail_.body = nullptr;
    lastMailBody_ = (mail->body && mail->bodylen > 0)
                        ? std::string(mail->body, mail->bodylen)
                        : std::string();
  }
  lastMailLogins_.clear();
  for (int i = 0; logins && i < n; ++i) lastMailLogins_.push_back(logins[i]);
  return resultLocked("MailSend", 0);
}

}  // namespace testing_support
