#include "messaging/BrokerEndpoint.h"

#include <proton/connection_options.hpp>
#include <proton/container.hpp>
#include <proton/duration.hpp>
#include <proton/error.hpp>
#include <proton/error_condition.hpp>
#include <proton/reconnect_options.hpp>
#include <proton/ssl.hpp>
#include <proton/transport.hpp>
#include <proton/uuid.hpp>
#include <proton/work_queue.hpp>

#include <atomic>
#include <mutex>
#include <vector>

#include "config/Config.h"
#include "messaging/EventLoop.h"
#include "util/Console.h"
#include "util/Log.h"
#include "util/Platform.h"

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
  // One at a time: on Windows the CA file is opened for this process alone
  // while it is read, and a second reader meanwhile would be refused.
  static std::mutex reading;
  std::lock_guard<std::mutex> lock(reading);
  const std::string& caFile = config::current().brokerCaFile;
  if (caFile.empty()) return proton::ssl_client_options(proton::ssl::VERIFY_PEER_NAME);
  return proton::ssl_client_options(caFile, proton::ssl::VERIFY_PEER_NAME);
}

std::string trustedCas() {
  const std::string& caFile = config::current().brokerCaFile;
  return caFile.empty() ? "the system's CA store" : "brokerCaFile " + caFile;
}

bool isCertificateRejected(const proton::error_condition& error) {
  // The reason for a failed verification of the peer's chain or name, as
  // OpenSSL (Linux) and SChannel (Windows) word it.
  const std::string& why = error.description();
  return why.find("certificate verify failed") != std::string::npos ||
         why.find("certificate verification error") != std::string::npos;
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

void endProcessAfterConnectionLoss() {
  static std::atomic<bool> ending{false};
  if (ending.exchange(true)) return;  // several connections usually fail together
  util::consolePrint("CMS Exception occurred.  Shutting down client.\n");
  platform::exitNow(1);
}

// False when the address asks for TLS and brokerCaFile cannot be read (PEM
// certificates on Linux, a PKCS#12 file or a certificate store on Windows);
// prints and logs one line (once per process).
bool tlsUsable(const BrokerAddress& address) {
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

// Options for connecting to address.urls[0].
proton::connection_options connectionOptions(const BrokerAddress& address) {
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

}  // namespace

// Proton's order of members: the first, then each next one in turn after a
// failed attempt, cyclically; after a lost connection the first again,
// except after the very first connection, when its next member comes first.
class BrokerEndpoint::Reconnection {
 public:
  explicit Reconnection(const BrokerAddress& address)
      : urls_(address.urls),
        failover_(address.failover),
        active_(usesTls(address) && address.urls.size() > 1),
        next_(address.urls.size() > 1 ? 1 : 0) {}

  void opened(const proton::connection& c) {
    if (c.reconnected()) next_ = 0;
  }

  // See BrokerEndpoint::interrupted.
  bool certificateRefused(proton::transport& t, bool starting, std::string* refusal) {
    if (refused_) return true;
    if (starting && isCertificateRejected(t.error())) {
      refused_ = true;
      *refusal = reportCertificateRejected(urls_[current_]);
      if (failover_) t.connection().close();
      return true;
    }
    if (failover_) beforeReconnect(t.connection());
    return false;
  }

 private:
  // Names the member that the next attempt reaches.
  void beforeReconnect(proton::connection c) {
    current_ = next_;
    next_ = (next_ + 1) % urls_.size();
    if (active_) {
      c.update_options(proton::connection_options().virtual_host(hostOf(urls_[current_])));
    }
  }

  std::vector<std::string> urls_;
  bool failover_;
  bool active_;  // TLS over a list of more than one member
  bool refused_ = false;
  size_t current_ = 0;  // member of the attempt under way
  size_t next_;         // member of the next attempt
};

bool BrokerEndpoint::readAddress(const std::string& brokerURI, BrokerAddress* address) {
  if (!parseBrokerAddress(brokerURI, address)) {
    reportUnsupportedBrokerAddress(brokerURI);
    return false;
  }
  return tlsUsable(*address);
}

BrokerEndpoint::BrokerEndpoint(BrokerAddress address, const std::string& clientId)
    : address_(std::move(address)),
      clientId_(clientId + "-" + proton::uuid::random().str()),
      reconnection_(std::make_unique<Reconnection>(address_)) {}

BrokerEndpoint::~BrokerEndpoint() = default;

void BrokerEndpoint::connect(EventLoop& loop) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    ended_ = false;
  }
  proton::container& c = loop.container();
  c.schedule(proton::duration::IMMEDIATE, [this, &c] {
    proton::connection_options options = connectionOptions(address_);
    // The broker takes the container id as the client id.
    options.container_id(clientId_).handler(*this);
    connection_ = c.connect(address_.urls[0], options);
    std::lock_guard<std::mutex> lock(mu_);
    workQueue_ = &connection_.work_queue();
  });
}

bool BrokerEndpoint::post(std::function<void()> work) {
  // Under mu_: the event thread clears workQueue_ (under the same lock)
  // before the connection and its queue are freed.
  std::lock_guard<std::mutex> lock(mu_);
  return workQueue_ != nullptr && workQueue_->add(std::move(work));
}

bool BrokerEndpoint::close(int ms) {
  std::unique_lock<std::mutex> lock(mu_);
  if (!closing_.exchange(true) && workQueue_ != nullptr) {
    workQueue_->add([this] {
      if (connection_) connection_.close();
    });
  }
  return cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return ended_; });
}

std::string BrokerEndpoint::error() const {
  std::lock_guard<std::mutex> lock(mu_);
  return error_;
}

bool BrokerEndpoint::closing() const { return closing_; }

void BrokerEndpoint::setError(const std::string& text) {
  std::lock_guard<std::mutex> lock(mu_);
  error_ = text;
}

void BrokerEndpoint::on_connection_open(proton::connection& c) {
  connected_ = true;
  reconnection_->opened(c);
  opened(c, !openedBefore_);
  openedBefore_ = true;
}

void BrokerEndpoint::on_transport_error(proton::transport& t) {
  std::string refusal;
  const bool refused = reconnection_->certificateRefused(t, starting(), &refusal);
  if (!refused) {
    setError(t.error().what());
  } else if (!refusal.empty()) {
    setError(refusal);
  }
  interrupted(refused, refusal);  // connected() still tells whether it was open
  connected_ = false;
}

void BrokerEndpoint::on_transport_close(proton::transport&) {
  connected_ = false;
  {
    std::lock_guard<std::mutex> lock(mu_);
    workQueue_ = nullptr;
  }
  // The connection is finished: its objects are released on their own
  // thread.
  const bool lost = ended() && !closing_;
  connection_ = proton::connection();
  {
    std::lock_guard<std::mutex> lock(mu_);
    ended_ = true;
  }
  cv_.notify_all();
  if (lost) endProcessAfterConnectionLoss();
}

void BrokerEndpoint::on_tracker_accept(proton::tracker& t) { settled(t, true, ""); }

void BrokerEndpoint::on_tracker_reject(proton::tracker& t) {
  settled(t, false, "rejected by the broker");
}

void BrokerEndpoint::on_tracker_release(proton::tracker& t) {
  settled(t, false, "released by the broker");
}

// Settled without an outcome (after one, the message is already settled).
void BrokerEndpoint::on_tracker_settle(proton::tracker& t) {
  settled(t, false, "settled by the broker without outcome");
}

void BrokerEndpoint::on_connection_error(proton::connection& c) { setError(c.error().what()); }

void BrokerEndpoint::on_error(const proton::error_condition& e) { setError(e.what()); }

}  // namespace messaging
