// Frame and line reading of the simulated server's sockets against hostile
// peers (a local socket pair stands in for the network).
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include "sim/Socket.h"

namespace {

class SocketPair : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(0, ::socketpair(AF_UNIX, SOCK_STREAM, 0, fds_)); }
  void TearDown() override {
    sim::closeSocket(fds_[0]);
    sim::closeSocket(fds_[1]);
  }
  void peerSends(const std::string& data) {
    ASSERT_TRUE(sim::sendAll(fds_[1], data, 1000));
  }
  void peerCloses() {
    sim::closeSocket(fds_[1]);
    fds_[1] = -1;
  }
  int fds_[2] = {-1, -1};
};

TEST_F(SocketPair, FramesRoundTrip) {
  peerSends(sim::makeFrame("{\"a\":1}") + sim::makeFrame(""));
  std::string payload;
  EXPECT_EQ(sim::ReadStatus::kOk, sim::readFrame(fds_[0], &payload, 1000, 100));
  EXPECT_EQ("{\"a\":1}", payload);
  EXPECT_EQ(sim::ReadStatus::kOk, sim::readFrame(fds_[0], &payload, 1000, 100));
  EXPECT_EQ("", payload);
}

TEST_F(SocketPair, OversizedFrameIsRefusedBeforeReadingIt) {
  peerSends(std::string("\xFF\xFF\xFF\xFF", 4));
  std::string payload;
  EXPECT_EQ(sim::ReadStatus::kTooLarge,
            sim::readFrame(fds_[0], &payload, 1000, sim::kMaxMessageBytes));
  EXPECT_TRUE(payload.empty());
}

TEST_F(SocketPair, TruncatedFrameGivesClosedAndSilenceGivesTimeout) {
  std::string payload;
  peerSends(std::string("\x00\x00\x00\x10{\"a\"", 8));
  EXPECT_EQ(sim::ReadStatus::kTimeout, sim::readFrame(fds_[0], &payload, 50, 100));
  peerCloses();
  EXPECT_TRUE(sim::peerGone(fds_[0]));
  EXPECT_EQ(sim::ReadStatus::kClosed, sim::readFrame(fds_[0], &payload, 1000, 100));
}

TEST_F(SocketPair, PeerGoneOnlyAfterHangUp) {
  EXPECT_FALSE(sim::peerGone(fds_[0]));
  peerSends("x");
  EXPECT_FALSE(sim::peerGone(fds_[0]));  // unread data is not a hang-up
  EXPECT_TRUE(sim::peerGone(-1));
}

TEST_F(SocketPair, LinesAreSplitAndOverlongLinesRefused) {
  peerSends("{\"cmd\":\"state\"}\r\n\nsecond\n");
  sim::LineReader reader(fds_[0]);
  std::string line;
  EXPECT_EQ(sim::ReadStatus::kOk, reader.readLine(&line, 100));
  EXPECT_EQ("{\"cmd\":\"state\"}", line);
  EXPECT_EQ(sim::ReadStatus::kOk, reader.readLine(&line, 100));
  EXPECT_EQ("", line);
  EXPECT_EQ(sim::ReadStatus::kOk, reader.readLine(&line, 100));
  EXPECT_EQ("second", line);
  peerSends(std::string(300, 'x'));
  EXPECT_EQ(sim::ReadStatus::kTooLarge, reader.readLine(&line, 100));
}

TEST(SimSocket, ConnectToBadAddressesFailsFast) {
  EXPECT_EQ(-1, sim::connectTo("not-an-address", 80, 100));
  EXPECT_EQ(-1, sim::connectTo("127.0.0.1", 0, 100));
  EXPECT_EQ(-1, sim::connectTo("127.0.0.1", 70000, 100));
}

}  // namespace
