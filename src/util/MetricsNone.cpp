// The metrics of a build without prometheus-cpp (Windows): no endpoint, and
// recording does nothing.
#include "util/Metrics.h"

namespace metrics {

bool start(const std::string&, const std::string&, std::string* error) {
  *error = "this build has no metrics endpoint";
  return false;
}

void stop() {}
bool enabled() { return false; }
int port() { return 0; }

void requestAnswered(const std::string&, int, double) {}
void replyRetried(const std::string&) {}
void deadLettered(const std::string&) {}
void redeliveryRecognised(const std::string&) {}
void brokerConnected(const std::string&, const char*, bool) {}

void managerConnected(const char*, bool) {}
void managerReconnected(const char*) {}

void storeSize(const std::string&, std::size_t, std::uint64_t) {}
void storeAppendFailed(const std::string&) {}
void eventDropped() {}

}  // namespace metrics
