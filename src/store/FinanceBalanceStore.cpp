#include "store/FinanceBalanceStore.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <utility>

#include "store/FinanceBalanceFile.h"
#include "store/StoreFile.h"
#include "util/Console.h"
#include "util/Metrics.h"

namespace store {
namespace {

// The journal is compacted once it is longer than both.
constexpr uint64_t kMinJournalBytes = 1 << 20;
constexpr uint64_t kSnapshotShare = 4;  // a quarter of the snapshot

constexpr uint64_t kWholeFile = UINT64_MAX;

bool journalTooLong(uint64_t journalBytes, uint64_t snapshotBytes) {
  return journalBytes > kMinJournalBytes && journalBytes > snapshotBytes / kSnapshotShare;
}

void reportFailure(const std::string& error) {
  util::consolePrint("financeBalanceHistory save failed: %s\n", error.c_str());
}

}  // namespace

std::string journalPathOf(const std::string& path) { return path + ".journal"; }

FinanceBalanceStore::FinanceBalanceStore(std::string path)
    : path_(std::move(path)),
      journalPath_(journalPathOf(path_)),
      name_(std::filesystem::path(path_).filename().string()) {}

FinanceBalanceStore::~FinanceBalanceStore() { stopCompactionThread(); }

int FinanceBalanceStore::load() {
  std::string snapshotText;
  std::string journalText;
  FinanceBalanceMap loaded;
  size_t keptBytes = 0;
  int result = -1;
  if (readStoreFile(path_, &snapshotText) && readStoreFile(journalPath_, &journalText)) {
    result = decodeFinanceBalanceHistory(snapshotText, &loaded);
    if (result == 1) result = replayFinanceBalanceJournal(journalText, &loaded, &keptBytes);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  journal_.close();
  if (result != 1) {
    records_.clear();
    byLogin_.clear();
    return result;
  }
  records_.swap(loaded);
  indexAllLocked();
  snapshotBytes_ = snapshotText.size();
  // Cut a torn last line now, so that the next line does not join it.
  std::string error;
  if (keptBytes < journalText.size() && !journal_.open(journalPath_, keptBytes, &error)) {
    reportFailure(error);
  }
  metrics::storeSize(name_, records_.size(), keptBytes);
  return 1;
}

int FinanceBalanceStore::save() {
  compact();
  return 1;
}

void FinanceBalanceStore::close() {
  compact();
  stopCompactionThread();
}

bool FinanceBalanceStore::journalLocked(const FinanceBalance& record) {
  std::string line;
  appendFinanceBalanceRecord(&line, record);
  line.push_back('\n');
  std::string error;
  if ((!journal_.isOpen() && !journal_.open(journalPath_, kWholeFile, &error)) ||
      !journal_.append(line, &error)) {
    reportFailure(error);
    metrics::storeAppendFailed(name_);
    return false;
  }
  if (unjournaled_ > snapshotted_ || journalTooLong(journal_.size(), snapshotBytes_)) {
    wantCompactionLocked();
  }
  return true;
}

void FinanceBalanceStore::wantCompactionLocked() {
  if (compactionWanted_ || compacting_ || stopping_) return;
  compactionWanted_ = true;
  if (!compactor_.joinable()) compactor_ = std::thread(&FinanceBalanceStore::compactWhenAsked, this);
  compaction_.notify_all();
}

bool FinanceBalanceStore::storeLocked(const HistoryKey& key, const FinanceBalance& record) {
  const bool journaled = journalLocked(record);
  // A movement marked carried out is kept even so: the mark can only keep
  // money from moving twice, and the next snapshot writes it.
  const bool kept = journaled || record.isHandle == 1;
  if (!kept) return false;
  if (!journaled) {
    ++unjournaled_;
    wantCompactionLocked();
  }
  assignLocked(key, record);
  recordSizeLocked();
  return journaled;
}

void FinanceBalanceStore::assignLocked(const HistoryKey& key, const FinanceBalance& record) {
  auto [it, inserted] = records_.insert_or_assign(key, record);
  if (inserted) byLogin_[key.login].push_back(it);
}

void FinanceBalanceStore::markLocked(Records::iterator it, int order) {
  FinanceBalance handled = it->second;
  handled.isHandle = 1;
  handled.order = order;
  storeLocked(it->first, handled);
}

bool FinanceBalanceStore::ticketHeldLocked(int login, int ticket,
                                           const HistoryKey& except) const {
  auto found = byLogin_.find(login);
  if (found == byLogin_.end()) return false;
  for (const Records::iterator& it : found->second) {
    if (it->second.order == ticket && !(it->first == except)) return true;
  }
  return false;
}

void FinanceBalanceStore::indexAllLocked() {
  byLogin_.clear();
  for (auto it = records_.begin(); it != records_.end(); ++it) {
    byLogin_[it->first.login].push_back(it);
  }
}

void FinanceBalanceStore::compactWhenAsked() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    compaction_.wait(lock, [this] { return compactionWanted_ || stopping_; });
    if (stopping_) return;
    lock.unlock();
    compact();
    lock.lock();
  }
}

void FinanceBalanceStore::compact() {
  std::unique_lock<std::mutex> lock(mutex_);
  compaction_.wait(lock, [this] { return !compacting_; });
  compacting_ = true;
  compactionWanted_ = false;
  std::string error;
  // Every line in the journal now is in the copy.
  if (!journal_.isOpen() && !journal_.open(journalPath_, kWholeFile, &error)) reportFailure(error);
  const uint64_t covered = journal_.size();
  const uint64_t unjournaled = unjournaled_;
  std::vector<FinanceBalance> records = copyLocked();
  lock.unlock();

  const std::string text = encodeFinanceBalanceHistory(records);
  records = {};
  // Until the journal is cut, a crash leaves the new snapshot with lines
  // it already holds: replayed in order they give the same records again.
  const bool written = platform::replaceFileDurably(path_, text, &error);

  lock.lock();
  if (written) {
    snapshotBytes_ = text.size();
    snapshotted_ = std::max(snapshotted_, unjournaled);
    dropJournalPrefixLocked(covered);
  } else {
    reportFailure(error);
  }
  recordSizeLocked();
  compacting_ = false;
  compaction_.notify_all();
  // What was written meanwhile may be over the bound again: it is not left
  // there until the next change comes.
  if (written && journalTooLong(journal_.size(), snapshotBytes_)) wantCompactionLocked();
}

void FinanceBalanceStore::recordSizeLocked() {
  metrics::storeSize(name_, records_.size(), journal_.size());
}

void FinanceBalanceStore::dropJournalPrefixLocked(uint64_t covered) {
  if (covered == 0) return;
  std::string rest;
  std::string error;
  if (!readStoreFile(journalPath_, &rest, covered)) {
    reportFailure("read " + journalPath_);
    return;
  }
  // Closed while it is replaced: Windows renames nothing over an open file.
  journal_.close();
  const bool replaced = platform::replaceFileDurably(journalPath_, rest, &error);
  if (!journal_.open(journalPath_, kWholeFile, &error) || !replaced) reportFailure(error);
}

void FinanceBalanceStore::stopCompactionThread() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    compaction_.notify_all();
  }
  if (compactor_.joinable()) compactor_.join();
}

bool FinanceBalanceStore::find(const HistoryKey& key, FinanceBalance* out) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = records_.find(key);
  if (it == records_.end()) return false;
  if (out != nullptr) *out = it->second;
  return true;
}

FinanceBalanceStore::Insert FinanceBalanceStore::insertIfAbsentAndSave(
    const HistoryKey& key, const FinanceBalance& record, FinanceBalance* existing) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = records_.find(key);
  if (it != records_.end()) {
    if (existing != nullptr) *existing = it->second;
    return Insert::kPresent;
  }
  return storeLocked(key, record) ? Insert::kInserted : Insert::kNotDurable;
}

void FinanceBalanceStore::put(const FinanceBalance& record) {
  std::lock_guard<std::mutex> lock(mutex_);
  assignLocked(keyOf(record), record);
}

bool FinanceBalanceStore::putAndSave(const FinanceBalance& record) {
  return putAndSave(keyOf(record), record);
}

bool FinanceBalanceStore::putAndSave(const HistoryKey& key, const FinanceBalance& record) {
  std::lock_guard<std::mutex> lock(mutex_);
  return storeLocked(key, record);
}

bool FinanceBalanceStore::markHandled(const HistoryKey& key, int order) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = records_.find(key);
  if (it == records_.end()) return false;
  markLocked(it, order);
  return true;
}

FinanceBalanceStore::Claim FinanceBalanceStore::claim(const HistoryKey& key, int ticket,
                                                      FinanceBalance* existing) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = records_.find(key);
  if (it == records_.end()) return Claim::kAbsent;
  if (it->second.order != 0) {
    if (existing != nullptr) *existing = it->second;
    return Claim::kTicketed;
  }
  if (ticketHeldLocked(key.login, ticket, key)) return Claim::kTaken;
  markLocked(it, ticket);
  return Claim::kClaimed;
}

bool FinanceBalanceStore::ticketHeld(int login, int ticket, const HistoryKey& except) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return ticketHeldLocked(login, ticket, except);
}

std::vector<FinanceBalance> FinanceBalanceStore::recordsOf(int login) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<FinanceBalance> out;
  auto found = byLogin_.find(login);
  if (found == byLogin_.end()) return out;
  out.reserve(found->second.size());
  for (const Records::iterator& it : found->second) out.push_back(it->second);
  return out;
}

std::vector<FinanceBalance> FinanceBalanceStore::snapshot() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return copyLocked();
}

std::vector<FinanceBalance> FinanceBalanceStore::copyLocked() const {
  std::vector<FinanceBalance> out;
  out.reserve(records_.size());
  for (const auto& entry : records_) out.push_back(entry.second);
  return out;
}

size_t FinanceBalanceStore::size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return records_.size();
}

int loadFinanceBalanceHistory(FinanceBalanceStore& balances) {
  return balances.load();
}

int saveFinanceBalanceHistory(FinanceBalanceStore& balances) {
  return balances.save();
}

}  // namespace store
