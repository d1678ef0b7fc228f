// Where the pumping handler hands the trading server's events.
// EventPublisher implements it for the configured queue or topic; unit
// tests use a recorder.
#ifndef MT4BRIDGE_MESSAGING_EVENT_SINK_H_
#define MT4BRIDGE_MESSAGING_EVENT_SINK_H_

#include <json/json.h>

namespace messaging {

class EventSink {
 public:
  virtual ~EventSink() = default;
  // One event: an object with "event", "action", "data" and "time"; the
  // sink adds "sequence". Never waits on the broker.
  virtual void offer(Json::Value event) = 0;
  // Events may have been missed (the pumping connection started anew):
  // the back office should read again.
  virtual void resync() = 0;
};

}  // namespace messaging

#endif  // MT4BRIDGE_MESSAGING_EVENT_SINK_H_
