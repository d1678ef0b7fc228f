#include "store/StoreCheck.h"

#include <json/json.h>

#include <algorithm>
#include <cstddef>

#include "store/FinanceBalanceFile.h"
#include "store/FinanceBalanceStore.h"
#include "store/StoreFile.h"
#include "store/UserInfoStore.h"

namespace store {
namespace {

std::string unreadable(const std::string& path) { return "store file " + path + " cannot be read"; }

// The line for a file that was read but whose text does not load.
std::string contentProblem(const std::string& path, const std::string& text) {
  Json::Value root;
  if (!parseStoreArray(text, &root)) return "store file " + path + " is not a JSON array";
  return "store file " + path + " holds a record that does not read";
}

}  // namespace

std::string historyStoreProblem(const std::string& path) {
  std::string text;
  if (!readStoreFile(path, &text)) return unreadable(path);
  FinanceBalanceMap records;
  if (decodeFinanceBalanceHistory(text, &records) != 1) return contentProblem(path, text);
  const std::string journal = journalPathOf(path);
  if (!readStoreFile(journal, &text)) return unreadable(journal);
  size_t keptBytes = 0;
  if (replayFinanceBalanceJournal(text, &records, &keptBytes) != 1) {
    const auto before = std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(keptBytes), '\n');
    return "store file " + journal + " line " + std::to_string(before + 1) + " does not read";
  }
  return std::string();
}

std::string userInfoProblem(const std::string& path) {
  UserInfoStore users(path);  // its load() reads the file and writes nothing
  if (users.load() == 1) return std::string();
  std::string text;
  if (!readStoreFile(path, &text)) return unreadable(path);
  return contentProblem(path, text);
}

}  // namespace store
