// Server records for tests: the fields a test names, every other one zero.
#ifndef MT4BRIDGE_TESTS_RECORDS_H_
#define MT4BRIDGE_TESTS_RECORDS_H_

#include <string>

#include "server/FieldText.h"
#include "server/ManagerApi.h"

namespace test_util {

// A trade: ticket, account, command (mt::OP_*), comment and amount (profit).
inline mt::TradeRecord trade(int order, int login, int cmd, const std::string& comment,
                             double amount) {
  mt::TradeRecord t{};
  t.order = order;
  t.login = login;
  t.cmd = cmd;
  mt::setField(t.comment, comment);
  t.profit = amount;
  return t;
}

// An account with its identity fields.
inline mt::UserRecord account(int login, const std::string& name = "",
                              const std::string& email = "", const std::string& group = "",
                              const std::string& comment = "",
                              const std::string& leadSource = "") {
  mt::UserRecord u{};
  u.login = login;
  mt::setField(u.name, name);
  mt::setField(u.email, email);
  mt::setField(u.group, group);
  mt::setField(u.comment, comment);
  mt::setField(u.lead_source, leadSource);
  return u;
}

}  // namespace test_util

#endif  // MT4BRIDGE_TESTS_RECORDS_H_
