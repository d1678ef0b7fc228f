// The bridge service: serves the back office's requests on the trading
// server until the operator stops it.
#include "app/Service.h"
#include "util/Platform.h"

int main() {
  // Before any thread exists: every thread inherits the blocked signals and
  // the process locale is set once.
  platform::blockTerminationSignals();
  platform::setUserDefaultLocale();
  static app::Service service;
  return service.run();
}
