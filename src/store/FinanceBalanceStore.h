// The balance-history store: every balance or credit movement the service
// was asked for, and whether the server carried it out, so that a repeated
// request never moves money twice. Kept in memory, saved whole to its file
// ("financeBalanceHistory" in the working directory) after every change.
//
// Thread-safe: one lock serialises lookups, changes and saves. The lock is
// never held while the caller talks to the trading server.
#ifndef MT4BRIDGE_STORE_FINANCE_BALANCE_STORE_H_
#define MT4BRIDGE_STORE_FINANCE_BALANCE_STORE_H_

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "store/FinanceBalance.h"

namespace store {

constexpr const char* kFinanceBalanceHistoryFile = "financeBalanceHistory";

class FinanceBalanceStore {
 public:
  // path: the file the store loads from and saves to.
  explicit FinanceBalanceStore(std::string path = kFinanceBalanceHistoryFile);
  FinanceBalanceStore(const FinanceBalanceStore&) = delete;
  FinanceBalanceStore& operator=(const FinanceBalanceStore&) = delete;

  // Replaces the contents with the file's. A missing or empty file gives an
  // empty store and 1; a file that is not a JSON array gives -1 and leaves
  // the store empty. Of two elements with the same key the later wins.
  int load();

  // Rewrites the whole file atomically (temporary file in the same folder,
  // flushed to disk, renamed over the file). Always 1; a failure to write
  // leaves the previous file whole and is printed on the console.
  int save();

  // Copies the record under key into *out; false when absent.
  bool find(const HistoryKey& key, FinanceBalance* out) const;

  // Stores a copy of record under keyOf(record), replacing any; no save.
  void put(const FinanceBalance& record);

  // Stores record and saves the file, as one step under the lock.
  void putAndSave(const FinanceBalance& record);

  // If key is present: sets its isHandle to 1 and its order, saves the
  // file and returns true. Absent: nothing changes, nothing is written.
  bool markHandled(const HistoryKey& key, int order);

  // All records in key order (a copy).
  std::vector<FinanceBalance> snapshot() const;
  size_t size() const;
  const std::string& path() const { return path_; }

 private:
  int saveLocked() const;

  const std::string path_;
  mutable std::mutex mutex_;
  std::map<HistoryKey, FinanceBalance> records_;
};

}  // namespace store

#endif  // MT4BRIDGE_STORE_FINANCE_BALANCE_STORE_H_
