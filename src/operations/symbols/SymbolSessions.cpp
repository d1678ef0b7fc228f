#include "messaging/ReplyWriter.h"
#include "operations/EchoWriter.h"
#include "operations/OperationRunner.h"
#include "operations/symbols/SymbolChanges.h"
#include "operations/symbols/SymbolEntities.h"
#include "server/ManagerResults.h"
#include "util/Console.h"

namespace operations {
namespace {

// Quote or trade: which sessions of a day the member writes.
struct SessionKind {
  mt::ConSession (mt::ConSessions::*sessions)[3];
  const char* failLine;     // symbol, text of the success reply
  const char* successLine;
};

constexpr SessionKind kQuote{&mt::ConSessions::quote, "%s update quote date fail,trade:%s\n",
                             "%s update  quote date success,trade:%s\n"};
constexpr SessionKind kTrade{&mt::ConSessions::trade, "%s update trader date fail,trade:%s\n",
                             "%s update  trader date success,trade:%s\n"};

// The low 16 bits, as the server's field keeps them.
short low16(int value) { return static_cast<short>(value); }

void setFirstSessions(const SessionKind& kind, const SymbolSessionsEntity& request,
                      mt::ConSymbol& copy) {
  for (int day = 0; day < mt::kSymbolSessionDays; ++day) {
    const SessionTimeEntity& times = request.days[day];
    mt::ConSession& first = (copy.sessions[day].*kind.sessions)[0];
    first.open_hour = low16(times.openHour);
    first.open_min = low16(times.openMin);
    first.close_hour = low16(times.closeHour);
    first.close_min = low16(times.closeMin);
  }
}

int runSessions(const SessionKind& kind, OperationContext& ctx, const Json::Value& request,
                messaging::ReplySender& reply) {
  return runOperation<SymbolSessionsEntity>(
      {}, ctx, request, reply, [&](OperationContext& c, SymbolSessionsEntity& r) {
        return changeSymbol(c, r, [&](mt::ConSymbol& copy) {
          setFirstSessions(kind, r, copy);
          const CallResult written = writeSymbolRetrying(c, copy);
          const std::string shown = messaging::writeReply(echoRecord(r), codes::kSuccess);
          const bool ok = written.in(server::kSuccessZeroOnly);
          util::consolePrint(ok ? kind.successLine : kind.failLine, r.symbol.c_str(),
                             shown.c_str());
          return replyCode(written, server::kSuccessZeroOnly);
        });
      });
}

}  // namespace

int symboQuoteDateUpdate(OperationContext& ctx, const Json::Value& request,
                         messaging::ReplySender& reply) {
  return runSessions(kQuote, ctx, request, reply);
}

int symboTraderDateUpdate(OperationContext& ctx, const Json::Value& request,
                          messaging::ReplySender& reply) {
  return runSessions(kTrade, ctx, request, reply);
}

}  // namespace operations
