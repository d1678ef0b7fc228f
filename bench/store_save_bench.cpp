// Cost of the balance history by store size: of one movement's changes
// (the lookup's insert and the pumped event's mark, each journaled and
// flushed to disk), of a compaction (the whole snapshot written, the
// journal started anew), and of a load (snapshot and journal).
//   store_save_bench [folder]   (default: the system's temporary folder)
// The movements of all sizes are measured in interleaved rounds, so that
// the disk's changing speed weighs on every size alike. The last line
// gives the per-movement cost at 10^6 records over that at 10^3.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "store/FinanceBalanceStore.h"

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

store::FinanceBalance movement(int i) {
  store::FinanceBalance r;
  r.serial = "CRM-" + std::to_string(20260000000LL + i);
  r.comment = "Deposit #" + std::to_string(i);
  r.amount = 100.25 + i;
  r.login = 100000 + i % 5000;
  r.isHandle = i % 3 != 0;
  r.order = i % 3 != 0 ? 3000000 + i : 0;
  return r;
}

struct Size {
  int records;
  std::string path;
  std::unique_ptr<store::FinanceBalanceStore> balances;
  double compactMs = 0;
  double movementMs = 0;  // summed over the rounds
  int movements = 0;
  double loadMs = 0;
};

}  // namespace

int main(int argc, char** argv) {
  const std::filesystem::path folder =
      argc > 1 ? std::filesystem::path(argv[1])
               : std::filesystem::temp_directory_path() / "store_save_bench";
  std::filesystem::remove_all(folder);
  std::vector<Size> sizes;
  for (int n : {1000, 10000, 100000, 1000000}) {
    const std::filesystem::path dir = folder / std::to_string(n);
    std::filesystem::create_directories(dir);
    Size s{n, (dir / "financeBalanceHistory").string(), nullptr};
    s.balances = std::make_unique<store::FinanceBalanceStore>(s.path);
    for (int i = 0; i < n; ++i) s.balances->put(movement(i));
    const auto start = Clock::now();
    s.balances->save();
    s.compactMs = msSince(start);
    sizes.push_back(std::move(s));
  }

  // One movement: the insert before the money moves, the mark after.
  constexpr int kRounds = 10;
  constexpr int kPerRound = 20;
  for (int round = 0; round < kRounds; ++round) {
    for (Size& s : sizes) {
      const auto start = Clock::now();
      for (int k = 0; k < kPerRound; ++k) {
        const store::FinanceBalance r = movement(s.records + s.movements++);
        s.balances->insertIfAbsentAndSave(store::keyOf(r), r, nullptr);
        s.balances->markHandled(store::keyOf(r), r.order + 1);
      }
      s.movementMs += msSince(start);
    }
  }

  std::printf("%10s %14s %14s %14s %10s\n", "records", "ms/movement", "ms/compaction",
              "ms/load", "movements");
  for (Size& s : sizes) {
    const size_t expected = s.balances->size();
    s.balances.reset();
    store::FinanceBalanceStore loaded(s.path);
    const auto start = Clock::now();
    const int result = loaded.load();
    s.loadMs = msSince(start);
    if (result != 1 || loaded.size() != expected) {
      std::printf("load failed at %d records\n", s.records);
      return 1;
    }
    std::printf("%10d %14.3f %14.3f %14.3f %10d\n", s.records, s.movementMs / s.movements,
                s.compactMs, s.loadMs, s.movements);
  }
  const double ratio = (sizes.back().movementMs / sizes.back().movements) /
                       (sizes.front().movementMs / sizes.front().movements);
  std::printf("per-movement cost, 10^6 over 10^3 records: %.3f (target at most 2.0)\n", ratio);
  std::filesystem::remove_all(folder);
  return 0;
}
