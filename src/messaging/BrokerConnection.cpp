#include "messaging/BrokerConnection.h"

#include <proton/connection.hpp>
#include <proton/duration.hpp>
#include <proton/error.hpp>
#include <proton/error_condition.hpp>
#include <proton/reconnect_options.hpp>
#include <proton/transport.hpp>
#include <proton/ssl.hpp>

#include <atomic>

#include "config/Config.h"
#include "util/Console.h"
#include "util/Log.h"

namespace messaging {
namespace {

bool isTlsUrl(const std::string& url) { return url.rfind("amqps://", 0) == 0; }

bool usesTls(const BrokerAddress& address) {
  for (const std::string& url : address.urls) {
    if (isTlsUrl(url)) return true;
  }
  return false;
}

// The host of a member as parseBrokerAddress leaves it (scheme://host:port).
std::string hostOf(const std::string& url) {
  size_t start = url.find("://") + 3;
  std::string host = url.substr(start, url.rfind(':') - start);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  return host;
}

proton::ssl_client_options tlsOptions() {
  const std::string& caFile = config::current().brokerCaFile;
  if (caFile.empty()) return proton::ssl_client_options(proton::ssl::VERIFY_PEER_NAME);
  return proton::ssl_client_options(caFile, proton::ssl::VERIFY_PEER_NAME);
}

std::string trustedCas() {
  const std::string& caFile = config::current().brokerCaFile;
  return caFile.empty() ? "the system's CA store" : "brokerCaFile " + caFile;
}

bool isCertificateRejected(const proton::error_condition& error) {
  // OpenSSL's reason for a failed verification of the peer's chain or name.
  return error.description().find("certificate verify failed") != std::string::npos;
}

std::string reportCertificateRejected(const std::string& url) {
  static std::atomic<bool> reported{false};
  if (!reported.exchange(true)) {
    util::printAndLog(
        "broker certificate refused at %s: it must be signed by a CA of %s and name the host "
        "%s\n",
        url.c_str(), trustedCas().c_str(), hostOf(url).c_str());
  }
  return "broker certificate refused at " + url;
}

}  // namespace

proton::connection_options brokerConnectionOptions(const BrokerAddress& address) {
  proton::connection_options options;
  const config::ConfigRecord& cfg = config::current();
  const bool tls = usesTls(address);
  if (cfg.hasBrokerCredentials()) {
    options.user(cfg.activeMqName);
    options.password(cfg.activeMqPassword);
    options.sasl_enabled(true);
    options.sasl_allowed_mechs("PLAIN");
    // The broker of a plain amqp:// address is reached unencrypted, as the
    // configuration asks; PLAIN is then the only mechanism it offers. Over
    // TLS the client refuses PLAIN on a connection that is not encrypted.
    options.sasl_allow_insecure_mechs(!tls);
  }
  if (tls) options.ssl_client_options(tlsOptions());
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

bool brokerTlsUsable(const BrokerAddress& address) {
  if (!usesTls(address)) return true;
  try {
    tlsOptions();
    return true;
  } catch (const proton::error& e) {
    static std::atomic<bool> reported{false};
    if (!reported.exchange(true)) {
      util::printAndLog("brokerCaFile \"%s\" cannot be used: %s\n",
                        config::current().brokerCaFile.c_str(), e.what());
    }
    return false;
  }
}

BrokerReconnection::BrokerReconnection(const BrokerAddress& address)
    : urls_(address.urls),
      failover_(address.failover),
      active_(usesTls(address) && address.urls.size() > 1),
      next_(address.urls.size() > 1 ? 1 : 0) {}

void BrokerReconnection::opened(const proton::connection& c) {
  if (c.reconnected()) next_ = 0;
}

bool BrokerReconnection::certificateRefused(proton::transport& t, bool starting,
                                            std::string* failure) {
  if (refused_) return true;
  if (starting && isCertificateRejected(t.error())) {
    refused_ = true;
    *failure = reportCertificateRejected(urls_[current_]);
    if (failover_) t.connection().close();
    return true;
  }
  if (failover_) beforeReconnect(t.connection());
  return false;
}

void BrokerReconnection::beforeReconnect(proton::connection c) {
  current_ = next_;
  next_ = (next_ + 1) % urls_.size();
  if (active_) c.update_options(proton::connection_options().virtual_host(hostOf(urls_[current_])));
}

}  // namespace messaging
