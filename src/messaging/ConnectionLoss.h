// The end of the process after a broker connection that the client has
// given up on (a connection without failover, or a failover that ended).
// The service manager restarts the service; the requests in progress are
// redelivered by the broker.
#ifndef MT4BRIDGE_MESSAGING_CONNECTION_LOSS_H_
#define MT4BRIDGE_MESSAGING_CONNECTION_LOSS_H_

namespace messaging {

// Prints "CMS Exception occurred.  Shutting down client.\n" once and ends
// the process at once with status 1. Several connections usually fail
// together: the first caller ends the process, later ones return.
void endProcessAfterConnectionLoss();

}  // namespace messaging

#endif  // MT4BRIDGE_MESSAGING_CONNECTION_LOSS_H_
