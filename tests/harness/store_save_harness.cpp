// Drives a balance-history store until it is killed, for the crash test:
//   store_save_harness <file> append|compact [movements]
//   store_save_harness <file> dump
// Loads <file> (with its journal) first, exits 3 when that fails, and
// prints "loaded <n>". Then, per movement i (counting on from n): inserts a
// new record and prints "inserted <i>", marks it handled with order i + 1
// and prints "marked <i>", each line once its store call has returned.
// With compact, every movement is followed by a compaction between the
// lines "compacting" and "compacted". Runs <movements> times, or until
// killed. dump prints every record as "<comment>|<login>|<isHandle>|<order>"
// and exits.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "store/FinanceBalanceStore.h"

namespace {

void say(const char* what, long i) {
  std::printf("%s %ld\n", what, i);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <file> append|compact|dump [movements]\n", argv[0]);
    return 2;
  }
  store::FinanceBalanceStore balances(argv[1]);
  if (balances.load() != 1) return 3;
  say("loaded", static_cast<long>(balances.size()));
  if (std::strcmp(argv[2], "dump") == 0) {
    for (const store::FinanceBalance& r : balances.snapshot()) {
      std::printf("%s|%d|%d|%d\n", r.comment.c_str(), r.login, r.isHandle, r.order);
    }
    return 0;
  }
  const bool compact = std::strcmp(argv[2], "compact") == 0;
  const long movements = argc > 3 ? std::atol(argv[3]) : -1;
  const long first = static_cast<long>(balances.size());
  for (long i = first; movements < 0 || i < first + movements; ++i) {
    store::FinanceBalance r;
    r.serial = "serial-" + std::to_string(i);
    // Long comments make each snapshot a sizeable write.
    r.comment = "deposit " + std::to_string(i) + " " + std::string(200, 'x');
    r.amount = 10.5 + static_cast<double>(i);
    r.login = 1000 + static_cast<int>(i % 50);
    balances.insertIfAbsentAndSave(store::keyOf(r), r, nullptr);
    say("inserted", i);
    balances.markHandled(store::keyOf(r), static_cast<int>(i) + 1);
    say("marked", i);
    if (compact) {
      say("compacting", i);
      balances.save();
      say("compacted", i);
    }
  }
  return 0;
}
