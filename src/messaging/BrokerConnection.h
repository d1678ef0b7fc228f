// The connection settings every broker endpoint of the service uses: the
// configured user name and password (SASL PLAIN, only when both are set),
// TLS for amqps://, and reconnection across the members of a failover
// address.
//
// TLS: the broker's certificate must chain to a CA of the configured
// brokerCaFile (the system's CA store when it is empty) and name the host of
// the address member being connected. A list with any amqps:// member is
// reached over TLS only, and PLAIN then never travels unencrypted.
#ifndef MT4BRIDGE_MESSAGING_BROKER_CONNECTION_H_
#define MT4BRIDGE_MESSAGING_BROKER_CONNECTION_H_

#include <proton/connection_options.hpp>

#include <string>
#include <vector>

#include "messaging/BrokerAddress.h"

namespace proton {
class connection;
class transport;
}  // namespace proton

namespace messaging {

// Options for connecting to address.urls[0]; the handler is not set. Call
// only for an address that brokerTlsUsable accepted.
proton::connection_options brokerConnectionOptions(const BrokerAddress& address);

// False when the address asks for TLS and the configured brokerCaFile cannot
// be read as PEM certificates; prints and logs one line (once per process).
bool brokerTlsUsable(const BrokerAddress& address);

// What an endpoint's connection does after a transport error, before
// Proton's next attempt. Event thread only.
//
// Peer names: Proton gives every member of a failover list the host name of
// the first one, so a member's certificate would be checked against another
// member's name. This keeps the name (TLS peer name and AMQP host name) on
// the member being tried. Proton's order: the first member, then each next
// one in turn after a failed attempt, cyclically; after a lost connection
// the first member again, except after the very first connection, when its
// next member comes first.
//
// Refused certificates: a broker certificate refused while the endpoint
// starts is a configuration fault, not an outage, so reconnection ends.
class BrokerReconnection {
 public:
  explicit BrokerReconnection(const BrokerAddress& address);

  // From on_connection_open.
  void opened(const proton::connection& c);

  // From on_transport_error, first. starting: the endpoint has never been
  // open. True when the error is, or follows, the refusal of the broker's
  // certificate while starting: the first such call prints and logs the
  // refusal once per process, closes the connection of a failover address
  // (a plain one is not retried) and sets *failure to the endpoint's short
  // failure text; later calls leave *failure alone. False otherwise, after
  // naming the member that the next attempt reaches.
  bool certificateRefused(proton::transport& t, bool starting, std::string* failure);

 private:
  void beforeReconnect(proton::connection c);

  std::vector<std::string> urls_;
  bool failover_;
  bool active_;          // TLS over a list of more than one member
  bool refused_ = false;
  size_t current_ = 0;   // member of the attempt under way
  size_t next_;          // member of the next attempt
};

}  // namespace messaging

#endif  // MT4BRIDGE_MESSAGING_BROKER_CONNECTION_H_
