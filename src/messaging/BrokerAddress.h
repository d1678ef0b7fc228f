// The broker address of the configuration, read into the forms the AMQP
// client accepts:
//   amqp://host:port, amqps://host:port (TLS),
//   failover:(uri,uri,...) with amqp/amqps members, optionally followed by
//   ?options (ignored), also written failover://(...).
// Options after '?' on a member are ignored. The OpenWire forms (tcp://,
// ssl://, nio://...) are refused: the service speaks AMQP 1.0 only.
#ifndef MT4BRIDGE_MESSAGING_BROKER_ADDRESS_H_
#define MT4BRIDGE_MESSAGING_BROKER_ADDRESS_H_

#include <string>
#include <vector>

namespace messaging {

struct BrokerAddress {
  std::vector<std::string> urls;  // amqp[s]://host:port, first tried first
  bool failover = false;          // reconnect across urls when a link drops
};

// Reads text into *out. False when text is not one of the accepted forms;
// *out is then unspecified.
bool parseBrokerAddress(const std::string& text, BrokerAddress* out);

// The console line that names the accepted forms, printed once per process
// however many endpoints are refused.
void reportUnsupportedBrokerAddress(const std::string& text);

}  // namespace messaging

#endif  // MT4BRIDGE_MESSAGING_BROKER_ADDRESS_H_
