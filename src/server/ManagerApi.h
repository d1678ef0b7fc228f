// The trading server's manager interface, as this service uses it.
//
// The interface is provided by a plugin library (../libs/mtmanapi.so, on
// Windows ..\libs\mtmanapi.dll) that exports MtManVersion and MtManCreate.
// The service never links against it: ManagerLink loads it at run time.
// Every array an interface call returns is owned by the plugin and must be
// given back with MemFree by the caller.
//
// The structures are plain data (trivially copyable, zero-filled with memset
// or value-initialisation) so that they can be copied whole, as the
// configuration updates do. Text fields are fixed-width byte arrays; a text
// that fills its field carries no terminator, so readers must bound reads by
// the field width (see fieldText in FieldText.h).
#ifndef MT4BRIDGE_SERVER_MANAGER_API_H_
#define MT4BRIDGE_SERVER_MANAGER_API_H_

#include <cstdint>

namespace mt {

// Times on the trading server: seconds since 1970-01-01, server time.
using ServerTimeT = std::int64_t;

// The interface version the service asks for: 400 * 65536 + 1260.
constexpr int kManagerApiVersion = 26215660;

// Result codes of the interface calls.
enum ResultCode : int {
  RET_OK = 0,                 // done
  RET_OK_NONE = 1,            // done, nothing to do
  RET_ERROR = 2,              // common error
  RET_INVALID_DATA = 3,       // invalid data
  RET_TECH_PROBLEM = 4,       // technical problem on the server
  RET_OLD_VERSION = 5,        // old client version
  RET_NO_CONNECT = 6,         // no connection
  RET_NOT_ENOUGH_RIGHTS = 7,  // the manager lacks the right
  RET_TOO_FREQUENT = 8,       // too frequent requests
  RET_MALFUNCTION = 9,        // operation failed on the server
  RET_INVALID_LOGIN = 64,     // account or manager unknown / bad password
  RET_NOT_FOUND = 65,         // the record asked for does not exist
  RET_TRADE_BAD_PRICES = 129, // price not acceptable
  RET_TRADE_NO_MONEY = 134,   // not enough money
  RET_UNKNOWN = 255,          // unknown failure (retried like 2 and 6)
};

// Pumped event codes passed to the pumping handler.
enum PumpCode : int {
  PUMP_START_PUMPING = 0,
  PUMP_UPDATE_SYMBOLS = 1,
  PUMP_UPDATE_GROUPS = 2,
  PUMP_UPDATE_USERS = 3,
  PUMP_UPDATE_ONLINE = 4,
  PUMP_UPDATE_BIDASK = 5,
  PUMP_UPDATE_NEWS = 6,
  PUMP_UPDATE_MAIL = 8,
  PUMP_UPDATE_TRADES = 9,
  PUMP_STOP_PUMPING = 12,
  PUMP_PING = 13,
};

// Transaction types of pumped events. For trades, TRANS_DELETE means the
// trade left the open list (it was closed or, for balance and credit
// operations, went to history).
enum TransType : int {
  TRANS_ADD = 0,
  TRANS_DELETE = 1,
  TRANS_UPDATE = 2,
};

// Trade commands.
enum TradeCmd : int {
  OP_BUY = 0,
  OP_SELL = 1,
  OP_BUY_LIMIT = 2,
  OP_SELL_LIMIT = 3,
  OP_BUY_STOP = 4,
  OP_SELL_STOP = 5,
  OP_BALANCE = 6,
  OP_CREDIT = 7,
};

// Trade transaction types (TradeTransInfo::type).
enum TradeTransType : int {
  TT_BR_ORDER_OPEN = 75,    // open by the broker
  TT_BR_ORDER_CLOSE = 76,   // close by the broker
  TT_BR_ORDER_DELETE = 77,  // delete a pending order by the broker
  TT_BR_BALANCE = 83,       // balance or credit operation
};

// Pumping flags of PumpingSwitchEx.
constexpr int kPumpingFlagsAll = 0;       // everything, quotes included
constexpr int kPumpingFlagsNoQuotes = 11; // no quotes, no news, no mail

// Trade states (TradeRecord::state).
constexpr int kTradeStateOpen = 0;
constexpr int kTradeStateClosed = 3;

// Group command of UsersGroupOp that sets the listed accounts' leverage.
constexpr int kGroupCommandLeverage = 3;

// Trade modes of ConSymbol::trade.
constexpr int kTradeModeNone = 0;
constexpr int kTradeModeCloseOnly = 1;
constexpr int kTradeModeFull = 2;

// Gtc modes of ConSymbol::gtc_pendings.
constexpr int kGtcDaily = 0;
constexpr int kGtcGoodTillCancel = 1;
constexpr int kGtcDailyNoStops = 2;

struct UserRecord {
  int login;
  char group[16];
  char password[16];
  int enable;
  int enable_change_password;
  int enable_read_only;
  char password_investor[16];
  char password_phone[32];
  char name[128];
  char country[32];
  char city[32];
  char state[32];
  char zipcode[16];
  char address[96];
  char lead_source[32];
  char phone[32];
  char email[48];
  char comment[64];
  char id[32];
  char status[16];
  ServerTimeT regdate;
  ServerTimeT lastdate;
  int leverage;
  int agent_account;
  ServerTimeT timestamp;
  double balance;
  double prevmonthbalance;
  double prevbalance;
  double credit;
  double interestrate;
  double taxes;
  int send_reports;
  unsigned int user_color;
};

struct ConGroupMargin {
  char symbol[12];
  double swap_long;
  double swap_short;
  double margin_divider;  // the group's leverage on this symbol
};

constexpr int kGroupMarginsMax = 128;

struct ConGroup {
  char group[16];
  int enable;
  char company[128];
  char currency[12];
  int default_leverage;
  double default_deposit;
  int margin_call;
  int margin_stopout;
  ConGroupMargin secmargins[kGroupMarginsMax];
  int secmargins_total;
};

struct ConSession {
  short open_hour;
  short open_min;
  short close_hour;
  short close_min;
  int open;   // minutes since midnight, derived by the server
  int close;
};

struct ConSessions {
  ConSession quote[3];
  ConSession trade[3];
  int quote_overnight;
  int trade_overnight;
};

constexpr int kSymbolSessionDays = 7;

struct ConSymbol {
  char symbol[12];
  char description[64];
  char currency[12];
  int type;
  int digits;
  int trade;            // trade mode (kTradeMode...)
  ConSessions sessions[kSymbolSessionDays];
  int swap_enable;
  int swap_type;
  double swap_long;
  double swap_short;
  int swap_rollover3days;
  double contract_size;
  double tick_value;
  double tick_size;
  int stops_level;
  int gtc_pendings;
  int margin_mode;
  double margin_initial;
  double margin_divider;
  double point;
};

struct SymbolInfo {
  char symbol[12];
  int digits;
  int count;
  int visible;
  int type;
  double point;
  double spread;
  int direction;
  int updateflag;
  ServerTimeT lasttime;
  double bid;
  double ask;
  double high;
  double low;
};

struct TradeRecord {
  int order;
  int login;
  char symbol[12];
  int digits;
  int cmd;
  int volume;           // lots * 100
  ServerTimeT open_time;
  int state;
  double open_price;
  double sl;
  double tp;
  ServerTimeT close_time;
  ServerTimeT expiration;
  double commission;
  double commission_agent;
  double storage;
  double close_price;
  double profit;
  double taxes;
  int magic;
  char comment[32];
  double margin_rate;
  ServerTimeT timestamp;
};

struct TradeTransInfo {
  int type;             // TradeTransType
  int flags;
  int cmd;
  int order;            // in: the trade to act on; out: the new ticket
  int orderby;          // the account
  char symbol[12];
  int volume;
  double price;
  double sl;
  double tp;
  char comment[32];
  ServerTimeT expiration;
};

struct GroupCommandInfo {
  int len;              // number of logins passed beside it
  int command;
  char newgroup[16];
  int leverage;
};

struct MailBox {
  ServerTimeT time;
  int sender;
  char from[64];
  int to;               // number of logins passed beside it
  char subject[128];
  int readed;
  char* body;           // owned by the caller
  int bodylen;          // body length in bytes, without the terminator
};

struct ConManager {
  int login;
  int manager;
  int money;
  int online;
  int riskman;
  int broker;
  int admin;
  int logs;
  int reports;
  int trades;
  int market_watch;
  int email;
  int user_details;
  int see_trades;
  int news;
  int plugins;
  char mailbox[64];
  char name[32];
};

// The pumping handler: event code, transaction type, data (TradeRecord for
// PUMP_UPDATE_TRADES, UserRecord for PUMP_UPDATE_USERS, may be null) and the
// parameter given to PumpingSwitchEx. Runs on the plugin's pumping thread.
using PumpingNotifyFunc = void (*)(int code, int type, void* data, void* param);

// One connection to the trading server. Not thread-safe: callers serialise
// use of one instance (ManagerLink does).
class CManagerInterface {
 public:
  // Connection and session.
  virtual int Connect(const char* server) = 0;
  virtual int Disconnect() = 0;
  virtual int IsConnected() = 0;  // nonzero = connected
  virtual int Login(int login, const char* password) = 0;
  virtual int Ping() = 0;         // nonzero = the link is dead
  virtual const char* ErrorDescription(int code) = 0;  // static text
  virtual int Release() = 0;      // destroys the interface
  virtual void MemFree(void* ptr) = 0;
  virtual int PumpingSwitchEx(PumpingNotifyFunc handler, int flags,
                              void* param) = 0;

  // Reads (pumping manager).
  virtual int UserRecordGet(int login, UserRecord* user) = 0;
  virtual UserRecord* UsersGet(int* total) = 0;
  virtual ConSymbol* SymbolsGetAll(int* total) = 0;
  virtual int SymbolAdd(const char* symbol) = 0;
  virtual int SymbolsRefresh() = 0;
  virtual int SymbolInfoUpdated(SymbolInfo* infos, int max_info) = 0;
  virtual TradeRecord* TradesGetByLogin(int login, const char* group,
                                        int* total) = 0;
  virtual int GroupRecordGet(const char* name, ConGroup* group) = 0;

  // Direct requests and changes (normal manager).
  virtual int TradeTransaction(TradeTransInfo* info) = 0;
  virtual TradeRecord* TradesUserHistory(int login, ServerTimeT from,
                                         ServerTimeT to, int* total) = 0;
  // orders: *total tickets in; *total records out.
  virtual TradeRecord* TradeRecordsRequest(const int* orders, int* total) = 0;
  virtual ServerTimeT ServerTime() = 0;
  virtual int AdmTradeRecordModify(TradeRecord* trade) = 0;
  virtual int AdmBalanceFix(const int* logins, int count) = 0;
  virtual int AdmTradesDelete(const int* orders, int count) = 0;
  virtual int UserRecordNew(UserRecord* user) = 0;
  virtual int UserRecordUpdate(const UserRecord* user) = 0;
  virtual int UserPasswordCheck(int login, const char* password) = 0;
  virtual int UserPasswordSet(int login, const char* password,
                              int change_investor, int clean_pubkey) = 0;
  virtual int UsersGroupOp(const GroupCommandInfo* info,
                           const int* logins) = 0;
  virtual int CfgUpdateGroup(const ConGroup* group) = 0;
  virtual int CfgUpdateSymbol(const ConSymbol* symbol) = 0;
  virtual int ManagerRights(ConManager* manager) = 0;
  virtual int MailSend(const MailBox* mail, const int* logins) = 0;

 protected:
  // Only Release destroys an interface.
  virtual ~CManagerInterface() = default;
};

// The plugin's exports, resolved by name.
extern "C" {
using MtManVersionFunc = int (*)();
using MtManCreateFunc = int (*)(int version, CManagerInterface** out);
}

constexpr const char* kMtManVersionSymbol = "MtManVersion";
constexpr const char* kMtManCreateSymbol = "MtManCreate";

}  // namespace mt

#endif  // MT4BRIDGE_SERVER_MANAGER_API_H_
