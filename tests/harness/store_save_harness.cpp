// Saves a growing balance-history store over and over, for the crash test:
//   store_save_harness <file> [saves]
// Loads <file> first (exit 3 when that fails), then adds one record per
// save and saves the whole store after each, <saves> times (default: until
// killed). Prints "loaded <n>" once the file is read.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "store/FinanceBalanceStore.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <file> [saves]\n", argv[0]);
    return 2;
  }
  store::FinanceBalanceStore balances(argv[1]);
  if (balances.load() != 1) return 3;
  const long saves = argc > 2 ? std::atol(argv[2]) : -1;
  std::printf("loaded %zu\n", balances.size());
  std::fflush(stdout);
  const int first = static_cast<int>(balances.size());
  for (long i = 0; saves < 0 || i < saves; ++i) {
    store::FinanceBalance r;
    r.serial = "serial-" + std::to_string(first + i);
    // Long comments make each save a sizeable write.
    r.comment = "deposit " + std::to_string(first + i) + " " + std::string(200, 'x');
    r.amount = 10.5 + static_cast<double>(i);
    r.login = 1000 + static_cast<int>((first + i) % 50);
    r.isHandle = static_cast<int>(i % 2);
    r.order = static_cast<int>(first + i);
    balances.putAndSave(r);
  }
  return 0;
}
