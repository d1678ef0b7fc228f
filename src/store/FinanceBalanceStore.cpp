#include "store/FinanceBalanceStore.h"

#include <utility>

#include "store/FinanceBalanceFile.h"
#include "store/StoreFile.h"
#include "util/Console.h"
#include "util/Platform.h"

namespace store {

FinanceBalanceStore::FinanceBalanceStore(std::string path)
    : path_(std::move(path)) {}

int FinanceBalanceStore::load() {
  std::string text;
  FinanceBalanceMap loaded;
  int result = -1;
  if (readStoreFile(path_, &text)) {
    result = decodeFinanceBalanceHistory(text, &loaded);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  records_.swap(loaded);
  if (result != 1) records_.clear();
  return result;
}

int FinanceBalanceStore::save() {
  std::lock_guard<std::mutex> lock(mutex_);
  return saveLocked();
}

int FinanceBalanceStore::saveLocked() const {
  std::string error;
  if (!platform::replaceFileDurably(path_, encodeFinanceBalanceHistory(records_),
                                    &error)) {
    util::consolePrint("financeBalanceHistory save failed: %s\n", error.c_str());
  }
  return 1;
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
    saveLocked();
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
  saveLocked();
}

bool FinanceBalanceStore::markHandled(const HistoryKey& key, int order) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = records_.find(key);
  if (it == records_.end()) return false;
  it->second.isHandle = 1;
  it->second.order = order;
  saveLocked();
  return true;
}

std::vector<FinanceBalance> FinanceBalanceStore::snapshot() const {
  std::lock_guard<std::mutex> lock(mutex_);
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
