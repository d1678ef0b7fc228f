#include "operations/OperationRunner.h"
#include "operations/symbols/SymbolChanges.h"
#include "operations/symbols/SymbolEntities.h"
#include "server/ManagerResults.h"

namespace operations {
namespace {

int setSwaps(OperationContext& ctx, UpdateSymbolEntity& request) {
  return changeSymbol(ctx, request, [&](mt::ConSymbol& copy) {
    copy.swap_long = request.swapLong;
    copy.swap_short = request.swapShort;
    copy.trade = mt::kTradeModeFull;
    const CallResult written =
        ctx.callNormal([&](mt::CManagerInterface& m) { return m.CfgUpdateSymbol(&copy); });
    return replyCode(written, server::kSuccessZeroOrOne);
  });
}

}  // namespace

int updateSymbol(OperationContext& ctx, const Json::Value& request,
                 messaging::ReplySender& reply) {
  return runOperation<UpdateSymbolEntity>({}, ctx, request, reply, setSwaps);
}

}  // namespace operations
