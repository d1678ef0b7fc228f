#include "messaging/BrokerConnection.h"

#include <proton/duration.hpp>
#include <proton/reconnect_options.hpp>
#include <proton/ssl.hpp>

#include <string>
#include <vector>

#include "config/Config.h"

namespace messaging {

proton::connection_options brokerConnectionOptions(const BrokerAddress& address) {
  proton::connection_options options;
  const config::ConfigRecord& cfg = config::current();
  if (cfg.hasBrokerCredentials()) {
    options.user(cfg.activeMqName);
    options.password(cfg.activeMqPassword);
    options.sasl_enabled(true);
    options.sasl_allowed_mechs("PLAIN");
    // The broker of a plain amqp:// address is reached unencrypted, as the
    // configuration asks; PLAIN is then the only mechanism it offers.
    options.sasl_allow_insecure_mechs(true);
  }
  if (address.urls[0].rfind("amqps://", 0) == 0) {
    options.ssl_client_options(proton::ssl_client_options());
  }
  if (address.failover) {
    proton::reconnect_options reconnect;
    reconnect.delay(proton::duration(100));
    reconnect.delay_multiplier(2.0f);
    reconnect.max_delay(proton::duration(2000));
    reconnect.max_attempts(0);  // keep trying, like a failover transport
    options.reconnect(reconnect);
    if (address.urls.size() > 1) {
      options.failover_urls(
          std::vector<std::string>(address.urls.begin() + 1, address.urls.end()));
    }
  }
  return options;
}

}  // namespace messaging
