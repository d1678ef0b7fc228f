#include "operations/Routes.h"

#include "operations/accounts/EmailSend.h"
#include "operations/accounts/PasswordAndLeverage.h"
#include "operations/accounts/UserRecordCreate.h"
#include "operations/accounts/UserRecordUpdate.h"
#include "operations/balance/CloseUserTrades.h"
#include "operations/balance/ImportTrade.h"
#include "operations/balance/TradeTransInfo.h"
#include "operations/groups/GroupLeverage.h"
#include "operations/symbols/SymbolChanges.h"

namespace operations {
namespace {

Route route(int queue, OperationFn operation) {
  return Route{&config::queueInfo(queue), operation};
}

}  // namespace

const std::array<Route, config::kQueueCount>& routeTable() {
  using namespace config;
  static const std::array<Route, kQueueCount> table = {{
      route(kUserRecordCreate, &userRecordCreate),
      route(kUserRecordUpdate, &userRecordUpdate),
      route(kUserRecordPasswordUpdate, &userRecordPasswordUpdate),
      route(kTradeTransInfo, &tradeTransInfo),
      route(kUserLeverageUpdate, &userLeverageUpdate),
      route(kEmailSend, &emailSend),
      route(kGroupLeverage, &groupLeverage),
      route(kUpdateSymbol, &updateSymbol),
      route(kCloseUserTrades, &closeUserTrades),
      route(kImportTrade, &importTrade),
      route(kSymbolLeverageUpdate, &symbolLeverageUpdate),
      route(kSymbolTradeUpdate, &symbolTradeUpdate),
      route(kSymboGtcPendingUpdate, &symboGtcPendingUpdate),
      route(kSymboTraderDateUpdate, &symboTraderDateUpdate),
      route(kSymboQuoteDateUpdate, &symboQuoteDateUpdate),
  }};
  return table;
}

}  // namespace operations
