// The metrics endpoint: nothing is recorded before start(), what is recorded
// afterwards is in the text a scrape reads, and an address in use is
// refused with the reason.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "store/FinanceBalanceStore.h"
#include "test_util/TempDir.h"
#include "util/Log.h"
#include "util/Metrics.h"

#ifndef _WIN32
#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
TEST(Metrics, ThisBuildHasNoEndpoint) {
  std::string error;
  EXPECT_FALSE(metrics::start("127.0.0.1:0", "test", &error));
  EXPECT_EQ(error, "this build has no metrics endpoint");
}
#else
// A socket on 127.0.0.1:port, connected, or (port 0) listening on a free port.
int loopback(int port, sockaddr_in* address) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  *address = sockaddr_in{};
  address->sin_family = AF_INET;
  address->sin_port = htons(static_cast<uint16_t>(port));
  address->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sockaddr* any = reinterpret_cast<sockaddr*>(address);
  socklen_t size = sizeof *address;
  if (port != 0) {
    EXPECT_EQ(connect(fd, any, size), 0);
  } else {
    EXPECT_EQ(bind(fd, any, size), 0);
    EXPECT_EQ(listen(fd, 1), 0);
    getsockname(fd, any, &size);
  }
  return fd;
}

TEST(Metrics, RecordedSeriesShowOnlyWhileTheEndpointIsOpen) {
  test_util::TempDir dir;
  util::setLogDirectory(dir.file("log"));
  metrics::requestAnswered("beforeStart", 200, 0.5);
  metrics::brokerConnected("beforeStart", "consumer", true);
  metrics::storeSize("beforeStart", 1, 1);
  ASSERT_EQ(metrics::port(), 0);

  std::string error;
  ASSERT_TRUE(metrics::start("127.0.0.1:0", "9.8.7-test", &error)) << error;
  metrics::brokerConnected("tradeTransInfo", "consumer", true);
  metrics::requestAnswered("tradeTransInfo", 200, 0.3);
  metrics::requestAnswered("tradeTransInfo", -1013, 0.02);
  store::FinanceBalanceStore balances(dir.file("financeBalanceHistory"));
  ASSERT_TRUE(balances.putAndSave(store::FinanceBalance{}));
  const auto journal = std::filesystem::file_size(dir.file("financeBalanceHistory.journal"));

  sockaddr_in address;
  const int fd = loopback(metrics::port(), &address);
  const std::string request = "GET /metrics HTTP/1.0\r\n\r\n";
  ASSERT_EQ(send(fd, request.data(), request.size(), 0), static_cast<ssize_t>(request.size()));
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;) text.append(buffer, n);
  close(fd);
  for (const std::string& line : std::vector<std::string>{
           "mt4bridge_requests_total{code=\"-1013\",queue=\"tradeTransInfo\"} 1",
           "mt4bridge_request_duration_seconds_bucket{queue=\"tradeTransInfo\",le=\"0.025\"} 1",
           "mt4bridge_request_duration_seconds_count{queue=\"tradeTransInfo\"} 2",
           "mt4bridge_dead_lettered_total{queue=\"tradeTransInfo\"} 0",
           "mt4bridge_broker_connected{endpoint=\"consumer\",queue=\"tradeTransInfo\"} 1",
           "mt4bridge_store_records{store=\"financeBalanceHistory\"} 1",
           "mt4bridge_store_journal_bytes{store=\"financeBalanceHistory\"} " +
               std::to_string(journal),
           "mt4bridge_build_info{version=\"9.8.7-test\"} 1"}) {
    EXPECT_NE(text.find(line + "\n"), std::string::npos) << line << " not in:\n" << text;
  }
  EXPECT_EQ(text.find("beforeStart"), std::string::npos) << text;

  metrics::stop();
  const int inTheWay = loopback(0, &address);
  const std::string taken = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
  EXPECT_FALSE(metrics::start(taken, "9.8.7-test", &error));
  EXPECT_EQ(error.rfind("cannot listen on " + taken + ": ", 0), 0u) << error;
  EXPECT_FALSE(metrics::enabled());
  close(inTheWay);
  util::setLogDirectory("../log/mt4");
}
#endif

}  // namespace
