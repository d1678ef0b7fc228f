#include "store/FinanceBalanceStore.h"

#include <cstdint>
#include <utility>

#include "store/FinanceBalanceFile.h"
#include "store/StoreFile.h"
#include "util/Console.h"

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
    : path_(std::move(path)), journalPath_(journalPathOf(path_)) {}

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
    return result;
  }
  records_.swap(loaded);
  snapshotBytes_ = snapshotText.size();
  // Cut a torn last line now, so that the next line does not join it.
  std::string error;
  if (keptBytes < journalText.size() && !journal_.open(journalPath_, keptBytes, &error)) {
    reportFailure(error);
  }
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

void FinanceBalanceStore::journalLocked(const FinanceBalance& record) {
  std::string line;
  appendFinanceBalanceRecord(&line, record);
  line.push_back('\n');
  std::string error;
  if ((!journal_.isOpen() && !journal_.open(journalPath_, kWholeFile, &error)) ||
      !journal_.append(line, &error)) {
    reportFailure(error);
    return;
  }
  if (compactionWanted_ || compacting_ || stopping_ ||
      !journalTooLong(journal_.size(), snapshotBytes_)) {
    return;
  }
  compactionWanted_ = true;
  if (!compactor_.joinable()) compactor_ = std::thread(&FinanceBalanceStore::compactWhenAsked, this);
  compaction_.notify_all();
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
    dropJournalPrefixLocked(covered);
  } else {
    reportFailure(error);
  }
  compacting_ = false;
  compaction_.notify_all();
}

void FinanceBalanceStore::dropJournalPrefixLocked(uint64_t covered) {
  if (covered == 0) return;
  std::string rest;
  std::string error;
  if (!readStoreFile(journalPath_, &rest, covered)) {
    reportFailure("read " + journalPath_);
    return;
  }
  if (!platform::replaceFileDurably(journalPath_, rest, &error) ||
      !journal_.open(journalPath_, kWholeFile, &error)) {
    reportFailure(error);
  }
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
  *out = it->second;
  return true;
}

bool FinanceBalanceStore::insertIfAbsentAndSave(const HistoryKey& key,
                                                const FinanceBalance& record,
                                                FinanceBalance* existing) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto result = records_.emplace(key, record);
  if (result.second) {
    journalLocked(record);
  } else if (existing != nullptr) {
    *existing = result.first->second;
  }
  return result.second;
}

void FinanceBalanceStore::put(const FinanceBalance& record) {
  std::lock_guard<std::mutex> lock(mutex_);
  records_[keyOf(record)] = record;
}

void FinanceBalanceStore::putAndSave(const FinanceBalance& record) {
  putAndSave(keyOf(record), record);
}

void FinanceBalanceStore::putAndSave(const HistoryKey& key,
                                     const FinanceBalance& record) {
  std::lock_guard<std::mutex> lock(mutex_);
  records_[key] = record;
  journalLocked(record);
}

bool FinanceBalanceStore::markHandled(const HistoryKey& key, int order) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = records_.find(key);
  if (it == records_.end()) return false;
  it->second.isHandle = 1;
  it->second.order = order;
  journalLocked(it->second);
  return true;
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
