#include "messaging/EventLoop.h"

#include <proton/container.hpp>

#include <exception>

#include "util/Console.h"

namespace messaging {

EventLoop::EventLoop() = default;

EventLoop::~EventLoop() { stop(); }

proton::container& EventLoop::container() {
  if (!container_) {
    // Each connection names itself to the broker (BrokerEndpoint), so the
    // container's own id is never seen.
    container_ = std::make_unique<proton::container>();
    container_->auto_stop(false);
    proton::container* c = container_.get();
    thread_ = std::thread([c] {
      try {
        c->run();
      } catch (const std::exception& e) {
        util::consolePrint("broker connection ended: %s\n", e.what());
      }
    });
  }
  return *container_;
}

void EventLoop::stop() {
  if (!container_) return;
  container_->stop();
  thread_.join();
  container_.reset();
}

}  // namespace messaging
