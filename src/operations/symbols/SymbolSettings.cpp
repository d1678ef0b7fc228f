#include "operations/OperationRunner.h"
#include "operations/symbols/SymbolChanges.h"
#include "operations/symbols/SymbolEntities.h"
#include "server/ManagerResults.h"
#include "util/Console.h"

namespace operations {
namespace {

enum class Refresh { kNone, kBeforeRead, kAfterRead };

// What sets one member of the family apart.
struct SymbolSetting {
  Refresh refresh;
  void (*set)(mt::ConSymbol& copy, int value);
  const char* failLine;     // symbol, value as received
  const char* successLine;
};

int gtcMode(int value) {
  if (value == mt::kGtcDaily || value == mt::kGtcGoodTillCancel) return value;
  return mt::kGtcDailyNoStops;
}

constexpr SymbolSetting kTradeMode{
    Refresh::kBeforeRead, [](mt::ConSymbol& copy, int value) { copy.trade = value; },
    "%s update fail,trade:%d\n", "%s update success,trade:%d\n"};
constexpr SymbolSetting kGtcPending{
    Refresh::kAfterRead, [](mt::ConSymbol& copy, int value) { copy.gtc_pendings = gtcMode(value); },
    "%s update fail,gtc_pendings:%d\n", "%s update success,gtc_pendings:%d\n"};
constexpr SymbolSetting kLeverage{
    Refresh::kNone, [](mt::ConSymbol& copy, int value) { copy.margin_divider = value / 100.0; },
    "%s update fail,leverage:%d\n", "%s update success,leverage:%d\n"};

// SymbolsRefresh on the pumping manager; its result is not looked at.
void refreshSymbols(OperationContext& ctx) {
  ctx.callPumping([](mt::CManagerInterface& m) { return m.SymbolsRefresh(); });
}

template <typename Record>
int runSetting(const SymbolSetting& setting, OperationContext& ctx, const Json::Value& request,
               messaging::ReplySender& reply) {
  OperationShape shape;
  if (setting.refresh == Refresh::kBeforeRead) shape.beforeRead = refreshSymbols;
  return runOperation<Record>(shape, ctx, request, reply, [&](OperationContext& c, Record& r) {
    if (setting.refresh == Refresh::kAfterRead) refreshSymbols(c);
    return changeSymbol(c, r, [&](mt::ConSymbol& copy) {
      setting.set(copy, r.value);
      const CallResult written = writeSymbolRetrying(c, copy);
      const bool ok = written.in(server::kSuccessZeroOnly);
      util::consolePrint(ok ? setting.successLine : setting.failLine, r.symbol.c_str(), r.value);
      return replyCode(written, server::kSuccessZeroOnly);
    });
  });
}

}  // namespace

int symbolTradeUpdate(OperationContext& ctx, const Json::Value& request,
                      messaging::ReplySender& reply) {
  return runSetting<SymbolTradeEntity>(kTradeMode, ctx, request, reply);
}

int symboGtcPendingUpdate(OperationContext& ctx, const Json::Value& request,
                          messaging::ReplySender& reply) {
  return runSetting<SymbolGtcPendingEntity>(kGtcPending, ctx, request, reply);
}

int symbolLeverageUpdate(OperationContext& ctx, const Json::Value& request,
                         messaging::ReplySender& reply) {
  return runSetting<SymbolLeverageEntity>(kLeverage, ctx, request, reply);
}

}  // namespace operations
