// Why a store's files would not load, told by file name: the line start-up
// prints when a store's load() fails, and what --check-config reports. The
// checks read the files as load() does and write nothing (load() cuts a
// torn last journal line; a check leaves it).
#ifndef MT4BRIDGE_STORE_STORE_CHECK_H_
#define MT4BRIDGE_STORE_STORE_CHECK_H_

#include <string>

namespace store {

// For a balance-history store (FinanceBalanceStore) on the snapshot at
// path and its journal: empty when load() would read them, otherwise one
// line without line feed, one of
//   store file <path> cannot be read
//   store file <path> is not a JSON array
//   store file <path> holds a record that does not read
//   store file <path>.journal cannot be read
//   store file <path>.journal line <n> does not read
std::string historyStoreProblem(const std::string& path);

// The same for the account identity store's file (UserInfoStore): empty,
// or one of the first three lines above.
std::string userInfoProblem(const std::string& path);

}  // namespace store

#endif  // MT4BRIDGE_STORE_STORE_CHECK_H_
