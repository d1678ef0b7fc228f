// The bridge service: serves the back office's requests on the trading
// server until the operator stops it. With an argument it does what the
// argument asks instead (app/CommandLine.h).
#include "app/CommandLine.h"
#include "app/Service.h"
#include "util/Platform.h"

int main(int argc, char** argv) {
  const app::Command command = app::commandOf(argc, argv);
  // The locale is set once, before any thread exists, and before
  // --check-config reads what start-up reads.
  platform::setUserDefaultLocale();
  if (command != app::Command::kServe) return app::runCommand(command);
  // Before any thread exists: every thread inherits the blocked signals.
  platform::blockTerminationSignals();
  static app::Service service;
  return service.run();
}
