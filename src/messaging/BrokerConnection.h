// The connection settings every broker endpoint of the service uses: the
// configured user name and password (SASL PLAIN, only when both are set),
// TLS for amqps://, and reconnection across the members of a failover
// address.
#ifndef MT4BRIDGE_MESSAGING_BROKER_CONNECTION_H_
#define MT4BRIDGE_MESSAGING_BROKER_CONNECTION_H_

#include <proton/connection_options.hpp>

#include "messaging/BrokerAddress.h"

namespace messaging {

// Options for connecting to address.urls[0]; the handler is not set.
proton::connection_options brokerConnectionOptions(const BrokerAddress& address);

}  // namespace messaging

#endif  // MT4BRIDGE_MESSAGING_BROKER_CONNECTION_H_
