// The service's settings, read once at start from config.ini (a JSON object)
// in the working directory. The process-wide record is written by loadConfig
// only and read-only afterwards.
#ifndef MT4BRIDGE_CONFIG_CONFIG_H_
#define MT4BRIDGE_CONFIG_CONFIG_H_

#include <string>
#include <vector>

namespace config {

struct ConfigRecord {
  std::string server;
  int login = 0;
  std::string password;
  std::string activeMqName;
  std::string activeMqPassword;
  std::string brokerURI;
  // PEM file of the CAs that an amqps:// broker's certificate must chain
  // to; empty = the system's CA store.
  std::string brokerCaFile;

  // Request queue names, in configuration order.
  std::string userRecordCreate;
  std::string userRecordUpdate;
  std::string userRecordPasswordUpdate;
  std::string tradeTransInfo;
  std::string userLeverageUpdate;
  std::string groupLeverage;
  std::string emailSend;
  std::string updateSymbol;
  std::string closeUserTrades;
  std::string importTrade;
  std::string symbolLeverageUpdate;
  std::string symbolTradeUpdate;
  std::string symboGtcPendingUpdate;
  std::string symboTraderDateUpdate;
  std::string symboQuoteDateUpdate;
  // The account reads' request queues (optional keys; empty = not served).
  std::string userRecordGet;
  std::string userTradesGet;
  std::string userHistoryGet;

  // Reply queue names, in configuration order.
  std::string userRecordCreateCallback;
  std::string userRecordUpdateCallback;
  std::string userRecordPasswordUpdateCallback;
  std::string tradeTransInfoCallback;
  std::string userLeverageUpdateCallback;
  std::string groupLeverageCallback;
  std::string emailSendCallback;
  std::string updateSymbolCallback;
  std::string closeUserTradesCallback;
  std::string importTradeCallback;
  std::string symbolLeverageUpdateCallback;
  std::string symbolTradeUpdateCallback;
  std::string symboGtcPendingUpdateCallback;
  std::string symboTraderDateUpdateeCallback;
  std::string symboQuoteDateUpdateCallback;
  std::string userRecordGetCallback;
  std::string userTradesGetCallback;
  std::string userHistoryGetCallback;

  std::string tradeCancellationCreditTransInfo;
  int pumpUpdateBidAsk = 0;  // 1 = pump quotes and read the account list
  int timeZone = 0;          // seconds (the file gives hours)
  // The pause at start between the first connection attempt and the
  // queues (optional key; tests shorten it).
  int startupPauseMs = 10000;
  // "host:port" of the Prometheus /metrics endpoint (optional key); empty =
  // no endpoint.
  std::string metricsAddress;
  // Daily log files older than this many days are removed when a day's
  // first entry is written (optional key); 0 = every file is kept.
  int logRetentionDays = 0;
  // Where the trading server's events are published: a queue name, or
  // "topic://name" (optional key); empty = not published.
  std::string serverEvents;
  // The most events waiting for the broker; beyond it they are dropped
  // and a resync follows (optional key).
  int serverEventsBuffer = 10000;

  // True when the broker is contacted with a user name and password: both
  // must be set.
  bool hasBrokerCredentials() const {
    return !activeMqName.empty() && !activeMqPassword.empty();
  }
};

// Outcome of reading a settings text.
enum class ParseResult {
  kOk,          // read, and server, login and password are present
  kIncomplete,  // read, but server, login or password is missing
  kMalformed,   // not JSON, not an object, or a value of the wrong kind
};

// Reads a settings text into *out. On kMalformed *out is left untouched
// (never partly read); on kOk and kIncomplete it holds every value read.
// When problems is not null, every problem found is appended to it, one
// line each without line feed, naming the file and the key, e.g.
//   config.ini is not valid JSON: Line 3, Column 2: Missing ',' or '}' in object declaration
//   config.ini: "login" must be a whole number from -2147483648 to 2147483647
//   config.ini: "server" is missing or empty
// A text that is not JSON or not an object gives one problem; otherwise
// every key is checked, the required ones last.
ParseResult parseConfig(const std::string& text, ConfigRecord* out,
                        std::vector<std::string>* problems = nullptr);

// Reads config.ini from the working directory into the process-wide record.
// 1 when read and complete, -1 otherwise. Prints and logs nothing; when
// problems is not null, appends to it what parseConfig finds, or one line
// when the file is missing or cannot be read (naming the working
// directory).
int loadConfig(std::vector<std::string>* problems = nullptr);

// The process-wide record.
const ConfigRecord& current();

// Replaces the process-wide record; for tests and tools only.
void setCurrent(const ConfigRecord& record);

}  // namespace config

#endif  // MT4BRIDGE_CONFIG_CONFIG_H_
