// The balance-history journal replay: the journal's text ->
// replayFinanceBalanceJournal (over no records).
//
// Checked beside the sanitizers:
// - the kept length ends at a line feed (or is 0) and only the last line
//   may lie beyond it; the text cut to the kept length replays to the same
//   records (what the loader leaves in the file after a crash);
// - every line the fast reader accepts, the JSON library reads to the same
//   record;
// - the replayed records, written back as journal lines, replay to the
//   same records.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "HistoryAgreement.h"
#include "store/FastHistoryReader.h"
#include "store/FinanceBalanceFile.h"

namespace {

using store::FinanceBalance;
using store::FinanceBalanceMap;

void checkLines(std::string_view text) {
  static store::FastHistoryReader fast;
  size_t begin = 0;
  while (begin < text.size()) {
    const size_t newline = text.find('\n', begin);
    if (newline == std::string_view::npos) break;
    const std::string line(text.substr(begin, newline - begin));
    FinanceBalance quick;
    if (fast.readRecord(line, &quick)) {
      FinanceBalance r;
      if (!fuzz::libraryRecord(line, &r)) {
        fuzz::fail("the fast reader took a journal line the JSON library refuses", line);
      }
      fuzz::requireSame("the readers disagree on a journal line", r, quick);
    }
    begin = newline + 1;
  }
}

void requireSameMaps(const char* property, const FinanceBalanceMap& expected,
                     const FinanceBalanceMap& got, bool saved) {
  if (expected.size() != got.size()) fuzz::fail(property, "record counts differ");
  auto it = got.begin();
  for (const auto& [key, r] : expected) {
    if (!(it->first == key)) fuzz::fail(property, "keys differ");
    FinanceBalance want = r;
    if (saved) {
      want.amount = fuzz::savedAmount(r.amount);
      want.requested = fuzz::savedAmount(r.requested);
    }
    fuzz::requireSame(property, want, it->second);
    ++it;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  FinanceBalanceMap records;
  size_t kept = 0;
  const int result = store::replayFinanceBalanceJournal(text, &records, &kept);
  if (result != 1 && result != -1) fuzz::fail("the replay's result is neither 1 nor -1");
  if (kept > text.size() || (kept > 0 && text[kept - 1] != '\n')) {
    fuzz::fail("the kept length does not end at a line feed", std::to_string(kept));
  }
  for (const auto& [key, r] : records) {
    if (!(key == store::keyOf(r))) fuzz::fail("a replayed record sits under another key");
  }
  checkLines(text);
  if (result != 1) return 0;

  const size_t nextLineFeed = text.find('\n', kept);
  if (nextLineFeed != std::string_view::npos && nextLineFeed + 1 != text.size()) {
    fuzz::fail("more than the last line was skipped", std::to_string(kept));
  }
  FinanceBalanceMap cut;
  size_t keptAgain = 0;
  if (store::replayFinanceBalanceJournal(text.substr(0, kept), &cut, &keptAgain) != 1 ||
      keptAgain != kept) {
    fuzz::fail("the journal cut to its kept length does not replay whole");
  }
  requireSameMaps("the cut journal replays to other records", records, cut, false);

  std::string lines;
  for (const auto& [key, r] : records) {
    store::appendFinanceBalanceRecord(&lines, r);
    lines.push_back('\n');
  }
  FinanceBalanceMap rewritten;
  size_t keptRewritten = 0;
  if (store::replayFinanceBalanceJournal(lines, &rewritten, &keptRewritten) != 1 ||
      keptRewritten != lines.size()) {
    fuzz::fail("journal lines written from records do not replay whole", lines);
  }
  requireSameMaps("journal lines written from records replay to other records", records,
                  rewritten, true);
  return 0;
}
