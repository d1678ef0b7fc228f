// The pumping connections of the simulated server: each subscriber owns one
// socket, a queue of encoded event frames and a writer thread, so a slow
// client never holds up the engine. While events are held they stay queued;
// a subscriber that goes away meanwhile loses its queue. Thread-safe.
#ifndef MT4BRIDGE_SIM_PUMP_HUB_H_
#define MT4BRIDGE_SIM_PUMP_HUB_H_

#include <json/json.h>

#include <condition_variable>
#include <deque>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "sim/Engine.h"

namespace sim {

// Pumping flag bit that turns quotes off (flags 11 has it, flags 0 not).
constexpr int kPumpFlagNoQuotes = 1;

class PumpHub {
 public:
  PumpHub() = default;
  ~PumpHub();  // stopAll()
  PumpHub(const PumpHub&) = delete;
  PumpHub& operator=(const PumpHub&) = delete;

  // Takes ownership of fd: events are written to it until it fails or is
  // dropped. initialQuotes (an array of SymbolInfo objects, may be empty)
  // goes out first when the flags want quotes.
  void add(int fd, int session, int flags, const Json::Value& initialQuotes);

  // Queues the event for every subscriber that wants it. Never blocks on a
  // socket.
  void publish(const Event& event);

  // On: events (also of subscribers added later) stay in their queues.
  // Off: every queue goes out in order.
  void holdEvents(bool on);

  // Ends the subscribers of one session / of all sessions now.
  void dropSession(int session);
  void dropAll();

  // Ends every subscriber and joins the writer threads.
  void stopAll();

  // [{"session":id,"flags":f}] of the live subscribers.
  Json::Value list();

 private:
  struct Subscriber {
    int fd = -1;
    int session = 0;
    int flags = 0;
    std::deque<std::string> queue;
    std::size_t queuedBytes = 0;
    bool closed = false;
    bool done = false;
    std::condition_variable wake;
    std::thread writer;
  };

  void writeLoop(Subscriber* sub);
  void enqueue(Subscriber* sub, const std::string& frame);  // mutex_ held
  void reapLocked(std::list<std::unique_ptr<Subscriber>>* finished);

  std::mutex mutex_;
  std::list<std::unique_ptr<Subscriber>> subscribers_;
  bool held_ = false;
};

}  // namespace sim

#endif  // MT4BRIDGE_SIM_PUMP_HUB_H_
