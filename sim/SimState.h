// Everything the simulated trading server knows: manager accounts, groups,
// symbols and quotes, trading accounts, open trades and closed history,
// internal mail and the counters. Plain data; the engine guards it.
//
// The JSON form (the state file, the admin channel's "state" and "seed")
// is an object with the members "managers", "groups", "symbols", "quotes",
// "users", "trades" (open trades and pending orders), "history" (closed
// records), "mails", "next_ticket", "next_login" and "time_offset"; records
// use the structures' field names (see Codec.h), a manager adds "password"
// to its rights, a quote is {"symbol","bid","ask","time"}, a mail adds
// "body" and "logins" to its header.
#ifndef MT4BRIDGE_SIM_SIM_STATE_H_
#define MT4BRIDGE_SIM_SIM_STATE_H_

#include <json/json.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "server/ManagerApi.h"

namespace sim {

struct ManagerAccount {
  mt::ConManager rights{};
  std::string password;
};

struct Quote {
  double bid = 0;
  double ask = 0;
  std::int64_t time = 0;
};

struct Mail {
  mt::MailBox header{};  // body pointer always null here
  std::string body;
  std::vector<int> logins;
};

struct SimState {
  std::vector<ManagerAccount> managers;
  std::vector<mt::ConGroup> groups;
  std::vector<mt::ConSymbol> symbols;
  std::map<std::string, Quote> quotes;
  std::map<int, mt::UserRecord> users;
  std::map<int, mt::TradeRecord> trades;   // open, by order
  std::map<int, mt::TradeRecord> history;  // closed, by order
  std::vector<Mail> mails;
  int nextTicket = 1;
  int nextLogin = 1000;
  std::int64_t timeOffset = 0;
};

Json::Value stateToJson(const SimState& state);

// Replaces *out by the state in json. Counters are raised past the highest
// order and login held. False with *error on a malformed state (then *out
// is unchanged).
bool stateFromJson(const Json::Value& json, SimState* out, std::string* error);

// Reads the state file; a missing file gives the empty state. False with
// *error when the file cannot be read or parsed.
bool loadStateFile(const std::string& path, SimState* out, std::string* error);

// Writes the state to path atomically (temporary file, flush to disk,
// rename). False with *error on failure; the old file is then intact.
bool saveStateFile(const std::string& path, const SimState& state, std::string* error);

}  // namespace sim

#endif  // MT4BRIDGE_SIM_SIM_STATE_H_
