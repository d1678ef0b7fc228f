// One event-loop thread and its Proton container. The connections opened
// on it (a request queue's and its reply queue's) have all their events on
// this thread; other threads reach them through their work queues.
#ifndef MT4BRIDGE_MESSAGING_EVENT_LOOP_H_
#define MT4BRIDGE_MESSAGING_EVENT_LOOP_H_

#include <memory>
#include <thread>

namespace proton {
class container;
}

namespace messaging {

class EventLoop {
 public:
  EventLoop();
  ~EventLoop();  // stops

  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  // Starts the thread on first use; it runs until stop(), with or without
  // connections. Not thread-safe: call from the owner's thread.
  proton::container& container();

  // Ends the thread; connections still open are aborted. Call after their
  // orderly close. Idempotent.
  void stop();

 private:
  std::unique_ptr<proton::container> container_;
  std::thread thread_;
};

}  // namespace messaging

#endif  // MT4BRIDGE_MESSAGING_EVENT_LOOP_H_
