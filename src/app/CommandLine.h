// The program's arguments. Without any it serves (Service::run); with one
// of these it does only that, on the console, and ends:
//   --version       the program's and its libraries' versions (Version.h);
//                   status 0
//   --check-config  every problem of the working folder's config.ini and
//                   stores (FolderCheck.h), or that there is none; status
//                   0, or -1 (255) when there are problems
//   --help          the usage; status 0
// Any other argument, or more than one: the usage; status 2. None of them
// writes a file, takes the working folder's lock or connects.
#ifndef MT4BRIDGE_APP_COMMAND_LINE_H_
#define MT4BRIDGE_APP_COMMAND_LINE_H_

namespace app {

enum class Command { kServe, kVersion, kCheckConfig, kHelp, kUnknown };

Command commandOf(int argc, const char* const argv[]);

// Runs a command other than kServe and returns the process's exit status.
int runCommand(Command command);

}  // namespace app

#endif  // MT4BRIDGE_APP_COMMAND_LINE_H_
