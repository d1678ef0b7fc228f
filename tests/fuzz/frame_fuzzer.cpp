// The simulator's wire: bytes as they arrive on a client or pumping
// connection -> readFrame (length-prefixed frames) -> parseJsonText -> the
// structure codec (sim/Codec.h), as the server reads a call's arguments
// and the plugin reads answers and pumped events.
//
// Input: byte 0 picks the structure (one of the twelve the protocol
// carries); the rest is the byte stream. Each frame's object, its members
// and the elements of its array members are decoded as that structure.
// Checked beside the sanitizers:
// - a structure decoded and encoded again decodes without error (what one
//   side writes, the other reads);
// - an encoding written as wire text and read back writes the same text.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "server/ManagerApi.h"
#include "sim/Codec.h"
#include "sim/Socket.h"
#include "sim/WireJson.h"

namespace {

// Larger inputs than this are skipped: the whole input is written into the
// socket before it is read, and must fit its buffer. It is also the frame
// size limit here (a frame longer than the input cannot be whole, and
// the reader would fill up to 8 MiB for each such length).
constexpr size_t kMaxInput = 64 * 1024;
// Array elements decoded per member.
constexpr Json::ArrayIndex kMaxElements = 8;

template <typename T>
void roundTrip(const Json::Value& value, const char* type) {
  T decoded{};
  std::string error;
  if (!sim::fromJson(value, &decoded, &error)) return;
  const Json::Value encoded = sim::toJson(decoded);
  T again{};
  if (!sim::fromJson(encoded, &again, &error)) {
    fuzz::fail("a structure's own encoding does not decode",
               std::string(type) + ": " + error + "\n" + sim::compactJsonText(encoded));
  }
  const std::string wire = sim::compactJsonText(encoded);
  Json::Value reread;
  if (!sim::parseJsonText(wire, &reread, &error) || sim::compactJsonText(reread) != wire) {
    fuzz::fail("an encoding does not read back from its wire text", std::string(type) + ": " + wire);
  }
}

using Decode = void (*)(const Json::Value&, const char*);
struct Structure {
  const char* name;
  Decode decode;
};
const Structure kStructures[] = {
    {"UserRecord", &roundTrip<mt::UserRecord>},
    {"ConGroupMargin", &roundTrip<mt::ConGroupMargin>},
    {"ConGroup", &roundTrip<mt::ConGroup>},
    {"ConSession", &roundTrip<mt::ConSession>},
    {"ConSessions", &roundTrip<mt::ConSessions>},
    {"ConSymbol", &roundTrip<mt::ConSymbol>},
    {"SymbolInfo", &roundTrip<mt::SymbolInfo>},
    {"TradeRecord", &roundTrip<mt::TradeRecord>},
    {"TradeTransInfo", &roundTrip<mt::TradeTransInfo>},
    {"GroupCommandInfo", &roundTrip<mt::GroupCommandInfo>},
    {"ConManager", &roundTrip<mt::ConManager>},
    {"MailBox", &roundTrip<mt::MailBox>},
};
constexpr size_t kStructureCount = sizeof(kStructures) / sizeof(kStructures[0]);

void decodeAs(const Structure& structure, const Json::Value& value) {
  if (value.isObject()) structure.decode(value, structure.name);
}

void decodeFrame(const Structure& structure, const std::string& payload) {
  Json::Value message;
  if (!sim::parseJsonText(payload, &message, nullptr) || !message.isObject()) return;
  decodeAs(structure, message);
  for (const std::string& name : message.getMemberNames()) {
    const Json::Value& member = message[name];
    decodeAs(structure, member);
    if (!member.isArray()) continue;
    for (Json::ArrayIndex i = 0; i < member.size() && i < kMaxElements; ++i) {
      decodeAs(structure, member[i]);
    }
  }
  // The typed reads of the protocol handlers.
  std::string text;
  int number = 0;
  sim::readString(message, "call", &text, nullptr);
  sim::readInt(message, "result", &number, nullptr);
  sim::readInt(message, "code", &number, nullptr);
  sim::readInt(message, "type", &number, nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quietConsole();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > kMaxInput) return 0;
  const Structure& structure = kStructures[data[0] % kStructureCount];
  ++data;
  --size;
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) fuzz::fail("socketpair");
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  if (!sim::sendAll(fds[1], bytes, 1000)) fuzz::fail("the input does not fit the socket");
  ::shutdown(fds[1], SHUT_WR);
  for (;;) {
    std::string payload;
    if (sim::readFrame(fds[0], &payload, 1000, kMaxInput) != sim::ReadStatus::kOk) {
      break;
    }
    decodeFrame(structure, payload);
  }
  ::close(fds[0]);
  ::close(fds[1]);
  return 0;
}
