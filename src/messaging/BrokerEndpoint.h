// One broker connection of the service and the handler of its events: the
// request consumer and the reply producer are built on it. It owns the
// connection's settings, the client id it gives the broker, the hand-off of
// work onto the connection's thread, the close, and what happens between a
// transport error and the next attempt.
//
// Settings: the configured user name and password (SASL PLAIN, only when
// both are set), TLS for amqps://, and reconnection across the members of a
// failover address. TLS: the broker's certificate must chain to a CA of the
// configured brokerCaFile (the system's CA store when it is empty) and name
// the host of the member being connected. A list with any amqps:// member
// is reached over TLS only, and PLAIN then never travels unencrypted.
//
// A connection lost for good while in use (no failover, or the reconnection
// gave up) ends the process: "CMS Exception occurred.  Shutting down
// client." once, status 1 at once. The service manager restarts the
// service; the requests in progress are redelivered by the broker. A
// service that can no longer take or answer requests must not go on.
//
// Reconnection: Proton gives every member of a failover list the host name
// of the first one, so a member's certificate would be checked against
// another member's name; the endpoint keeps the name (TLS peer name and AMQP
// host name) on the member being tried. A broker certificate refused while
// the endpoint starts is a configuration fault, not an outage: it is
// reported once per process and reconnection ends.
//
// Threads: the event functions and the protected members run on the event
// loop's thread only; post(), close() and error() may be called from any
// thread. One mutex guards what both sides touch (mutex(), the derived
// class's shared state included).
#ifndef MT4BRIDGE_MESSAGING_BROKER_ENDPOINT_H_
#define MT4BRIDGE_MESSAGING_BROKER_ENDPOINT_H_

#include <proton/connection.hpp>
#include <proton/messaging_handler.hpp>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "messaging/BrokerAddress.h"

namespace proton {
class work_queue;
}

namespace messaging {

class EventLoop;

class BrokerEndpoint : public proton::messaging_handler {
 public:
  // Reads brokerURI into *address. False when it is not an accepted form
  // (the console line naming the forms, once per process) or asks for TLS
  // with a brokerCaFile that cannot be read (one console and log line, once
  // per process).
  static bool readAddress(const std::string& brokerURI, BrokerAddress* address);

  // clientId: the prefix of the client id the broker sees; a random suffix
  // keeps it unique among the broker's connections, also across restarts.
  BrokerEndpoint(BrokerAddress address, const std::string& clientId);
  ~BrokerEndpoint() override;

  BrokerEndpoint(const BrokerEndpoint&) = delete;
  BrokerEndpoint& operator=(const BrokerEndpoint&) = delete;

  // Opens the connection on loop's thread. Once per endpoint; loop must
  // outlive the connection.
  void connect(EventLoop& loop);

  // Runs work on the connection's thread, after the work handed over before
  // it. False, and work dropped, when the connection has ended (or is not
  // yet made).
  bool post(std::function<void()> work);

  // Closes the connection once the work handed over before has run (on the
  // first call only), and waits at most ms for its end. True when it has ended (or was never
  // made); false leaves it to EventLoop::stop. Any later end of the
  // connection is then expected.
  bool close(int ms);

  // True while the connection is open (from its opening to an interruption
  // or its end); from any thread.
  bool connected() const { return connected_; }

  // The last error the connection reported ("" when none).
  std::string error() const;

 protected:
  // Each time the connection opens; first: the first time, when the
  // endpoint opens its link (a reconnection reattaches it).
  virtual void opened(proton::connection& c, bool first) = 0;
  // True while the endpoint has never been open.
  virtual bool starting() const = 0;
  // After a transport error has been recorded (error()). refused: the error
  // is, or follows, the refusal of the broker's certificate while starting;
  // refusal is the endpoint's short failure text on the first such call.
  // connected() is still true when the connection had been open.
  virtual void interrupted(bool refused, const std::string& refusal) = 0;
  // The broker's outcome of a message sent on the connection: accepted, or
  // not (outcome says how).
  virtual void settled(proton::tracker& t, bool accepted, const char* outcome) = 0;
  // The connection is finished for good; release what was opened on it.
  // True when it was in use and is lost (the process then ends); a close
  // asked for by close() is never a loss.
  virtual bool ended() = 0;

  bool closing() const;  // close() was called
  bool failover() const { return address_.failover; }
  proton::connection& connection() { return connection_; }
  std::mutex& mutex() const { return mu_; }
  std::condition_variable& changed() const { return cv_; }
  // Records text as error(); callers hold no lock.
  void setError(const std::string& text);

 private:
  class Reconnection;

  void on_connection_open(proton::connection& c) final;
  void on_transport_error(proton::transport& t) final;
  void on_transport_close(proton::transport& t) final;
  void on_tracker_accept(proton::tracker& t) final;
  void on_tracker_reject(proton::tracker& t) final;
  void on_tracker_release(proton::tracker& t) final;
  void on_tracker_settle(proton::tracker& t) final;
  void on_connection_error(proton::connection& c) final;
  void on_error(const proton::error_condition& e) final;

  const BrokerAddress address_;
  const std::string clientId_;
  std::unique_ptr<Reconnection> reconnection_;  // event thread only
  proton::connection connection_;               // event thread only
  bool openedBefore_ = false;                   // event thread only

  mutable std::mutex mu_;
  mutable std::condition_variable cv_;
  proton::work_queue* workQueue_ = nullptr;  // null: none to hand work to
  std::string error_;
  std::atomic<bool> closing_{false};  // set under mu_
  bool ended_ = true;  // no connection, or it has finished
  std::atomic<bool> connected_{false};
};

}  // namespace messaging

#endif  // MT4BRIDGE_MESSAGING_BROKER_ENDPOINT_H_
