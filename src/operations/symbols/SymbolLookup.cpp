#include "operations/symbols/SymbolLookup.h"

#include "server/FieldText.h"
#include "server/ManagerResults.h"

namespace operations {
namespace {

constexpr int kFetchCalls = 6;
constexpr int kFetchPauseMs = 1000;
constexpr int kWriteCalls = 5;
constexpr int kWritePauseMs = 100;

}  // namespace

server::ManagerArray<mt::ConSymbol> fetchSymbols(OperationContext& ctx) {
  util::RetryPlan plan;
  plan.attempts = kFetchCalls;
  plan.pauseMs = kFetchPauseMs;
  plan.pauseFirst = true;
  return server::fetchWithRetry<mt::ConSymbol>(plan, [&] {
    return ctx.pumping.fetchArray<mt::ConSymbol>(
        [](mt::CManagerInterface& m, int* count) { return m.SymbolsGetAll(count); });
  });
}

int SymbolLookup::find(OperationContext& ctx, const std::string& name) {
  list_ = fetchSymbols(ctx);
  copy_ = mt::ConSymbol{};
  if (list_.empty()) return codes::kNoSymbolList;
  for (const mt::ConSymbol& symbol : list_) {
    if (mt::fieldText(symbol.symbol) == name) {
      copy_ = symbol;
      return 0;
    }
  }
  return codes::kSymbolNotFound;
}

CallResult writeSymbolRetrying(OperationContext& ctx, const mt::ConSymbol& copy) {
  util::RetryPlan plan;
  plan.attempts = kWriteCalls;
  plan.pauseMs = kWritePauseMs;
  plan.success = server::kSuccessZeroOnly;
  return ctx.retryNormal(plan, [&](mt::CManagerInterface& m) { return m.CfgUpdateSymbol(&copy); });
}

}  // namespace operations
