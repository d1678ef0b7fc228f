// One remembered balance or credit movement.
#ifndef MT4BRIDGE_STORE_FINANCE_BALANCE_H_
#define MT4BRIDGE_STORE_FINANCE_BALANCE_H_

#include <string>
#include <tuple>

namespace store {

struct FinanceBalance {
  std::string serial;   // serial of the request that created the record
  std::string comment;  // the request's comment as received
  double amount = 0;    // the working amount of the movement
  int login = 0;        // the account
  int isHandle = 0;     // 1 = the server has carried the movement out
  int order = 0;        // the server's ticket; 0 until established
  // What the request asked for, so that a repeat can be told from another
  // movement under the same key: the kind (6 balance, 7 credit; 0 = not
  // known, a record of an older file, of a trade import or of a mail) and
  // the amount as requested.
  int cmd = 0;
  double requested = 0;
};

// The key of a movement: its comment and its account, kept apart so that
// ("ABC", 42) and ("ABC4", 2) are different movements.
struct HistoryKey {
  std::string comment;
  int login = 0;

  bool operator<(const HistoryKey& other) const {
    return std::tie(comment, login) < std::tie(other.comment, other.login);
  }
  bool operator==(const HistoryKey& other) const {
    return comment == other.comment && login == other.login;
  }
};

inline HistoryKey keyOf(const FinanceBalance& record) {
  return HistoryKey{record.comment, record.login};
}

}  // namespace store

#endif  // MT4BRIDGE_STORE_FINANCE_BALANCE_H_
