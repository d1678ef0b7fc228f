// Time of one balance-history save (and of one load) by store size.
//   store_save_bench [folder]   (default: the system's temporary folder)
// Prints, per size: records, file bytes, time per save (encoding, writing,
// flushing to disk, renaming), time of the encoding alone, time of a load.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "store/FinanceBalanceFile.h"
#include "store/FinanceBalanceStore.h"

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const std::filesystem::path folder =
      argc > 1 ? std::filesystem::path(argv[1])
               : std::filesystem::temp_directory_path() / "store_save_bench";
  std::filesystem::create_directories(folder);
  const std::string path = (folder / "financeBalanceHistory").string();

  std::printf("%10s %12s %14s %14s %14s %5s\n", "records", "file bytes",
              "ms/save", "ms/encode", "ms/load", "reps");
  const int sizes[] = {1000, 10000, 100000, 1000000};
  const int reps[] = {50, 20, 5, 2};
  for (int s = 0; s < 4; ++s) {
    const int n = sizes[s];
    store::FinanceBalanceStore balances(path);
    store::FinanceBalanceMap map;
    for (int i = 0; i < n; ++i) {
      store::FinanceBalance r;
      r.serial = "CRM-" + std::to_string(20260000000 + i);
      r.comment = "Deposit #" + std::to_string(i);
      r.amount = 100.25 + i;
      r.login = 100000 + i % 5000;
      r.isHandle = i % 3 != 0;
      r.order = i % 3 != 0 ? 3000000 + i : 0;
      balances.put(r);
      map[store::keyOf(r)] = r;
    }
    auto start = Clock::now();
    for (int k = 0; k < reps[s]; ++k) balances.save();
    const double perSave = msSince(start) / reps[s];

    start = Clock::now();
    size_t bytes = 0;
    for (int k = 0; k < reps[s]; ++k) bytes = store::encodeFinanceBalanceHistory(map).size();
    const double perEncode = msSince(start) / reps[s];

    store::FinanceBalanceStore loaded(path);
    start = Clock::now();
    const int result = loaded.load();
    const double perLoad = msSince(start);
    if (result != 1 || loaded.size() != static_cast<size_t>(n)) {
      std::printf("load failed at %d records\n", n);
      return 1;
    }
    std::printf("%10d %12zu %14.3f %14.3f %14.3f %5d\n", n, bytes, perSave,
                perEncode, perLoad, reps[s]);
    std::fflush(stdout);
  }
  std::filesystem::remove_all(folder);
  return 0;
}
