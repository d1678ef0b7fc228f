// mt4sim: the simulated trading server used by the demo and the end-to-end
// tests. Usage: mt4sim --port P --admin-port A --state FILE
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <string>

#include "sim/Server.h"

namespace {

bool parsePort(const char* text, int* port) {
  char* end = nullptr;
  long v = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || v < 0 || v > 65535) return false;
  *port = static_cast<int>(v);
  return true;
}

int usage() {
  std::fprintf(stderr, "usage: mt4sim --port P --admin-port A --state FILE\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int port = 0;
  int adminPort = 0;
  std::string statePath;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (i + 1 >= argc) return usage();
    const char* value = argv[++i];
    if (arg == "--port") {
      if (!parsePort(value, &port)) return usage();
    } else if (arg == "--admin-port") {
      if (!parsePort(value, &adminPort)) return usage();
    } else if (arg == "--state") {
      statePath = value;
    } else {
      return usage();
    }
  }
  if (statePath.empty()) return usage();

  // Termination signals are taken by the main thread only.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  sim::Server server(statePath);
  std::string error;
  if (!server.start(port, adminPort, &error)) {
    std::fprintf(stderr, "mt4sim: %s\n", error.c_str());
    return 1;
  }
  std::printf("mt4sim listening port=%d admin=%d\n", server.port(), server.adminPort());
  std::fflush(stdout);
  int received = 0;
  sigwait(&signals, &received);
  server.stop();
  std::printf("mt4sim stopped\n");
  std::fflush(stdout);
  return 0;
}
