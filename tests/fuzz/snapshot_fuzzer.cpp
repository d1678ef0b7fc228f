// The balance-history snapshot loader: the file's text ->
// decodeFinanceBalanceHistory (the fast reader, with the JSON library for
// any text it does not take).
//
// Checked beside the sanitizers:
// - a refused text leaves no records; every record sits under its own key;
// - what the fast reader accepts, the JSON library reads to the same
//   records (the loader's two paths agree);
// - records loaded, saved and loaded again are the same records.
#include <json/json.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "HistoryAgreement.h"
#include "store/FastHistoryReader.h"
#include "store/FinanceBalanceFile.h"
#include "store/StoreFile.h"

namespace {

using store::FinanceBalance;
using store::FinanceBalanceMap;

void checkAgreement(const std::string& text, int loaded) {
  static store::FastHistoryReader fast;
  std::vector<FinanceBalance> quick;
  if (!fast.readArray(text, &quick)) return;
  Json::Value root;
  if (!store::parseStoreArray(text, &root)) {
    fuzz::fail("the fast reader took a snapshot the JSON library refuses", text);
  }
  if (root.size() != quick.size()) fuzz::fail("the readers disagree on the record count", text);
  for (Json::ArrayIndex i = 0; i < root.size(); ++i) {
    FinanceBalance r;
    if (!fuzz::libraryRecord(root[i], &r)) {
      fuzz::fail("the fast reader took a record the JSON library refuses", text);
    }
    fuzz::requireSame("the readers disagree on a record", r, quick[i]);
  }
  if (loaded != 1) fuzz::fail("a snapshot both readers take was refused", text);
}

void checkSavedAgain(const FinanceBalanceMap& loaded) {
  std::vector<FinanceBalance> records;
  for (const auto& [key, r] : loaded) records.push_back(r);
  const std::string saved = store::encodeFinanceBalanceHistory(records);
  FinanceBalanceMap again;
  if (store::decodeFinanceBalanceHistory(saved, &again) != 1 || again.size() != loaded.size()) {
    fuzz::fail("a saved snapshot does not load back whole", saved);
  }
  auto it = again.begin();
  for (const auto& [key, r] : loaded) {
    if (!(it->first == key)) fuzz::fail("a saved record came back under another key", saved);
    FinanceBalance expected = r;
    expected.amount = fuzz::savedAmount(r.amount);
    expected.requested = fuzz::savedAmount(r.requested);
    fuzz::requireSame("a saved record came back changed", expected, it->second);
    ++it;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  FinanceBalanceMap loaded;
  const int result = store::decodeFinanceBalanceHistory(text, &loaded);
  if (result != 1 && !(result == -1 && loaded.empty())) {
    fuzz::fail("a refused snapshot left records, or the result is neither 1 nor -1", text);
  }
  for (const auto& [key, r] : loaded) {
    if (!(key == store::keyOf(r))) fuzz::fail("a record sits under another key", text);
  }
  checkAgreement(text, result);
  if (result == 1) checkSavedAgain(loaded);
  return 0;
}
