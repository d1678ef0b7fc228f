// The balance-history store: every balance or credit movement the service
// was asked for, and whether the server carried it out, so that a repeated
// request never moves money twice. Kept in memory; on disk as a snapshot
// ("financeBalanceHistory" in the working directory, FinanceBalanceFile.h)
// and a journal beside it (the same name + ".journal") of the changes made
// since the snapshot was written.
//
// Every change is one line appended to the journal and flushed to disk
// before the call returns, so its cost does not grow with the store. A
// change whose line cannot be made durable (a full disk, a removed file) is
// not made, and the call says so; except a record marked carried out
// (isHandle 1), which is kept in memory (the mark can only keep money from
// moving twice) and written by the next snapshot, asked for at once and
// again with every later change until one is written. The store compacts
// itself: when the journal has grown past a quarter of the snapshot (and
// past 1 MiB), a thread of its own writes a fresh snapshot atomically and
// then starts the journal anew; save() and close() compact at once. A
// crash at any moment loses no change whose call had returned success.
//
// Thread-safe: one lock serialises lookups and changes, and is never held
// while a snapshot is encoded or written, nor while the caller talks to the
// trading server or pauses.
//
// Its size after each load, change and compaction, and each change it could
// not journal, go to the metrics (util/Metrics.h) under the snapshot's file
// name.
#ifndef MT4BRIDGE_STORE_FINANCE_BALANCE_STORE_H_
#define MT4BRIDGE_STORE_FINANCE_BALANCE_STORE_H_

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "store/FinanceBalance.h"
#include "util/Platform.h"

namespace store {

constexpr const char* kFinanceBalanceHistoryFile = "financeBalanceHistory";
// The same kind of store, on its own file, remembers the trade imports: a
// record per import (serial as comment, login, the trade's ticket).
constexpr const char* kTradeImportHistoryFile = "tradeImportHistory";
// And the internal mails sent: a record per mail (serial as comment, login
// 0, isHandle 1 once sent).
constexpr const char* kEmailSendHistoryFile = "emailSendHistory";

// The journal's name beside a snapshot at path.
std::string journalPathOf(const std::string& path);

class FinanceBalanceStore {
 public:
  enum class Insert { kInserted, kPresent, kNotDurable };
  enum class Claim { kClaimed, kTaken, kTicketed, kAbsent };

  // path: the snapshot file; the journal is journalPathOf(path). Writing
  // either also writes its name + ".tmp" on the way.
  explicit FinanceBalanceStore(std::string path = kFinanceBalanceHistoryFile);
  // Stops the compaction thread (a compaction under way is finished); no
  // compaction of its own: call close() for that.
  ~FinanceBalanceStore();
  FinanceBalanceStore(const FinanceBalanceStore&) = delete;
  FinanceBalanceStore& operator=(const FinanceBalanceStore&) = delete;

  // Replaces the contents with the snapshot's, then the journal's changes
  // in order. A missing or empty snapshot reads as no records, a missing
  // journal as no changes. A cut or unreadable last journal line (a crash
  // while it was written) is skipped and cut from the file. Returns 1, or
  // -1 with the store left empty when the snapshot exists but cannot be
  // read, is not a JSON array, holds an element that is not an object or a
  // value the JSON library cannot convert to its field (see
  // decodeFinanceBalanceHistory), or a journal line before the last does
  // not read. Of two records with the same key the later wins.
  int load();

  // Compacts now: writes every record to the snapshot atomically
  // (temporary file, flushed, renamed over it, folder flushed), then drops
  // the journal's lines the snapshot holds. An empty store writes an empty
  // snapshot. Always 1; a failure leaves the previous files whole and is
  // printed on the console as one line.
  int save();

  // save(), then no more compaction thread; changes after it are still
  // journaled. For a clean stop.
  void close();

  // Copies the record under key into *out (when not null); false when
  // absent.
  bool find(const HistoryKey& key, FinanceBalance* out) const;

  // One step under the lock: when key is absent stores a copy of record
  // under it and journals it (kInserted; kNotDurable when the journal
  // failed: a record not handled is then not stored); when present copies
  // the stored record into *existing (when not null), with nothing written
  // (kPresent).
  Insert insertIfAbsentAndSave(const HistoryKey& key, const FinanceBalance& record,
                               FinanceBalance* existing);

  // Stores a copy of record under keyOf(record), replacing any; nothing is
  // written to disk.
  void put(const FinanceBalance& record);

  // Stores a copy of record under key (or keyOf(record)), replacing any,
  // and journals it, as one step under the lock; false when the journal
  // failed (the change is then made only for a record marked carried
  // out, in memory until the next snapshot). The files keep records by
  // keyOf(record): callers store under that key.
  bool putAndSave(const FinanceBalance& record);
  bool putAndSave(const HistoryKey& key, const FinanceBalance& record);

  // If key is present: sets its isHandle to 1 and its order and journals
  // the record; false when absent.
  bool markHandled(const HistoryKey& key, int order);

  // Gives ticket to the movement under key, as one step under the lock:
  // when the record has no ticket yet (order 0) and no other record of its
  // login holds ticket, sets isHandle 1 and order ticket and journals it
  // (kClaimed). Otherwise nothing changes: kTaken (another record of the
  // login holds ticket), kTicketed (the record has a ticket already,
  // copied into *existing when not null), kAbsent.
  Claim claim(const HistoryKey& key, int ticket, FinanceBalance* existing);

  // True when a record of login other than the one under except holds
  // ticket as its order.
  bool ticketHeld(int login, int ticket, const HistoryKey& except) const;

  // The records of login (copies).
  std::vector<FinanceBalance> recordsOf(int login) const;

  // All records in key order (a copy).
  std::vector<FinanceBalance> snapshot() const;
  size_t size() const;
  const std::string& path() const { return path_; }

 private:
  using Records = std::map<HistoryKey, FinanceBalance>;

  // Appends record's line to the journal (opened on first use). Failures
  // are printed; false then.
  bool journalLocked(const FinanceBalance& record);
  // Stores record under key and journals it; false when the journal
  // failed: the map is then left as it was, unless record is handled
  // (kept, and a snapshot asked for). mutex_ held.
  bool storeLocked(const HistoryKey& key, const FinanceBalance& record);
  // Stores record under key in the map and its index, nothing written.
  void assignLocked(const HistoryKey& key, const FinanceBalance& record);
  // storeLocked of the record at it, marked carried out with order.
  void markLocked(Records::iterator it, int order);
  // Wakes the compaction thread (started on first use). mutex_ held.
  void wantCompactionLocked();
  bool ticketHeldLocked(int login, int ticket, const HistoryKey& except) const;
  void indexAllLocked();
  // The compaction thread: compacts whenever asked, until stopping_.
  void compactWhenAsked();
  void compact();
  // Keeps only the journal's bytes after its first covered ones.
  void dropJournalPrefixLocked(uint64_t covered);
  // The records and journal bytes to the metrics. mutex_ held.
  void recordSizeLocked();
  void stopCompactionThread();
  // The records in key order (a copy); mutex_ held.
  std::vector<FinanceBalance> copyLocked() const;

  const std::string path_;
  const std::string journalPath_;
  const std::string name_;  // in the metrics
  mutable std::mutex mutex_;
  std::condition_variable compaction_;  // wanted, finished or stopping
  Records records_;
  // The records of each login (map iterators stay valid: records are never
  // removed, and load() indexes its new map again).
  std::unordered_map<int, std::vector<Records::iterator>> byLogin_;
  platform::AppendFile journal_;
  uint64_t snapshotBytes_ = 0;
  bool compactionWanted_ = false;
  // Changes kept without a journal line, and how many of them the last
  // snapshot written holds: a snapshot is wanted while they differ.
  uint64_t unjournaled_ = 0;
  uint64_t snapshotted_ = 0;
  bool compacting_ = false;
  bool stopping_ = false;
  std::thread compactor_;  // started on the first compaction wanted
};

// The start-up and operation entry points, on the service's store.
// loadFinanceBalanceHistory: balances.load(); saveFinanceBalanceHistory:
// balances.save() (always 1).
int loadFinanceBalanceHistory(FinanceBalanceStore& balances);
int saveFinanceBalanceHistory(FinanceBalanceStore& balances);

}  // namespace store

#endif  // MT4BRIDGE_STORE_FINANCE_BALANCE_STORE_H_
