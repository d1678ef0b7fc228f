#include "app/CommandLine.h"

#include <cstring>
#include <vector>

#include "app/FolderCheck.h"
#include "app/Version.h"
#include "util/Console.h"

namespace app {
namespace {

constexpr int kUsageStatus = 2;

constexpr const char* kUsage =
    "usage: mt4bridge [--version | --check-config | --help]\n"
    "  without an argument  serve the back office's requests, from the working folder\n"
    "  --version            print the program's version and its libraries' versions\n"
    "  --check-config       read config.ini and the stores in the working folder as\n"
    "                       start-up does, and print every problem (nothing is written)\n"
    "  --help               print this text\n";

int checkFolder() {
  const std::vector<std::string> problems = folderProblems();
  for (const std::string& problem : problems) util::consolePrint("%s\n", problem.c_str());
  if (!problems.empty()) return -1;
  util::consolePrint("config.ini and the stores are fine\n");
  return 0;
}

}  // namespace

Command commandOf(int argc, const char* const argv[]) {
  if (argc <= 1) return Command::kServe;
  if (argc > 2) return Command::kUnknown;
  if (std::strcmp(argv[1], "--version") == 0) return Command::kVersion;
  if (std::strcmp(argv[1], "--check-config") == 0) return Command::kCheckConfig;
  if (std::strcmp(argv[1], "--help") == 0) return Command::kHelp;
  return Command::kUnknown;
}

int runCommand(Command command) {
  switch (command) {
    case Command::kVersion:
      util::consoleWrite(versionReport());
      return 0;
    case Command::kCheckConfig:
      return checkFolder();
    case Command::kHelp:
      util::consoleWrite(kUsage);
      return 0;
    case Command::kServe:
    case Command::kUnknown:
      break;
  }
  util::consoleWrite(kUsage);
  return kUsageStatus;
}

}  // namespace app
