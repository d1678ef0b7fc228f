// The balance-history store: every balance or credit movement the service
// was asked for, and whether the server carried it out, so that a repeated
// request never moves money twice. Kept in memory, saved whole to its file
// ("financeBalanceHistory" in the working directory) after every change.
//
// Thread-safe: one lock serialises lookups, changes and saves. The lock is
// never held while the caller talks to the trading server or pauses.
#ifndef MT4BRIDGE_STORE_FINANCE_BALANCE_STORE_H_
#define MT4BRIDGE_STORE_FINANCE_BALANCE_STORE_H_

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "store/FinanceBalance.h"

namespace store {

constexpr const char* kFinanceBalanceHistoryFile = "financeBalanceHistory";
// The same kind of store, on its own file, remembers the trade imports: a
// record per import (serial as comment, login, the trade's ticket).
constexpr const char* kTradeImportHistoryFile = "tradeImportHistory";
// And the internal mails sent: a record per mail (serial as comment, login
// 0, isHandle 1 once sent).
constexpr const char* kEmailSendHistoryFile = "emailSendHistory";

class FinanceBalanceStore {
 public:
  // path: the file the store loads from and saves to. A save also writes
  // path + ".tmp" on its way.
  explicit FinanceBalanceStore(std::string path = kFinanceBalanceHistoryFile);
  FinanceBalanceStore(const FinanceBalanceStore&) = delete;
  FinanceBalanceStore& operator=(const FinanceBalanceStore&) = delete;

  // Replaces the contents with the file's. A missing or empty file gives an
  // empty store and 1. -1, with the store left empty, when the file exists
  // but cannot be read, is not a JSON array, holds an element that is not
  // an object, or a value the JSON library cannot convert to its field (see
  // decodeFinanceBalanceHistory). Of two elements with the same key the
  // later wins.
  int load();

  // Rewrites the whole file atomically (temporary file in the same folder,
  // flushed to disk, renamed over the file), so that a crash at any moment
  // leaves the previous file or the new one, whole. An empty store writes
  // an empty file. Always 1; a failure to write leaves the previous file
  // whole and is printed on the console as one line.
  int save();

  // Copies the record under key into *out; false when absent.
  bool find(const HistoryKey& key, FinanceBalance* out) const;

  // One step under the lock: when key is absent stores a copy of record
  // under it, saves the file and returns true; when present copies the
  // stored record into *existing (when not null) and returns false, with
  // nothing written.
  bool insertIfAbsentAndSave(const HistoryKey& key, const FinanceBalance& record,
                             FinanceBalance* existing);

  // Stores a copy of record under keyOf(record), replacing any; no save.
  void put(const FinanceBalance& record);

  // Stores a copy of record under key (or keyOf(record)), replacing any,
  // and saves the file, as one step under the lock.
  void putAndSave(const FinanceBalance& record);
  void putAndSave(const HistoryKey& key, const FinanceBalance& record);

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

// The start-up and operation entry points, on the service's store.
// loadFinanceBalanceHistory: balances.load(); saveFinanceBalanceHistory:
// balances.save() (always 1).
int loadFinanceBalanceHistory(FinanceBalanceStore& balances);
int saveFinanceBalanceHistory(FinanceBalanceStore& balances);

}  // namespace store

#endif  // MT4BRIDGE_STORE_FINANCE_BALANCE_STORE_H_
