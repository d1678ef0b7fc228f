#include "operations/Routes.h"

#include <string>

#include "messaging/ReplyCodes.h"
#include "operations/OperationRunner.h"
#include "operations/accounts/EmailSend.h"
#include "operations/accounts/PasswordAndLeverage.h"
#include "operations/accounts/UserRecordCreate.h"
#include "operations/accounts/UserRecordUpdate.h"
#include "operations/balance/CloseUserTrades.h"
#include "operations/balance/ImportTrade.h"
#include "operations/balance/TradeTransInfo.h"

namespace operations {
namespace {

// The keys every request carries.
struct EnvelopeEntity {
  std::string serial;
  std::string routeType;

  template <typename Fields>
  void fields(Fields& f) {
    f.text("serial", &serial);
    f.routeType(&routeType);
  }
};

int answerNotBuilt(OperationContext&, EnvelopeEntity&) { return codes::kNoInterface; }

Route route(int queue, OperationFn operation) {
  return Route{&config::queueInfo(queue), operation};
}

}  // namespace

int notBuiltYet(OperationContext& ctx, const Json::Value& request,
                messaging::ReplySender& reply) {
  return runOperation<EnvelopeEntity>({}, ctx, request, reply, answerNotBuilt);
}

const std::array<Route, config::kQueueCount>& routeTable() {
  using namespace config;
  static const std::array<Route, kQueueCount> table = {{
      route(kUserRecordCreate, &userRecordCreate),
      route(kUserRecordUpdate, &userRecordUpdate),
      route(kUserRecordPasswordUpdate, &userRecordPasswordUpdate),
      route(kTradeTransInfo, &tradeTransInfo),
      route(kUserLeverageUpdate, &userLeverageUpdate),
      route(kEmailSend, &emailSend),
      route(kGroupLeverage, &notBuiltYet),
      route(kUpdateSymbol, &notBuiltYet),
      route(kCloseUserTrades, &closeUserTrades),
      route(kImportTrade, &importTrade),
      route(kSymbolLeverageUpdate, &notBuiltYet),
      route(kSymbolTradeUpdate, &notBuiltYet),
      route(kSymboGtcPendingUpdate, &notBuiltYet),
      route(kSymboTraderDateUpdate, &notBuiltYet),
      route(kSymboQuoteDateUpdate, &notBuiltYet),
  }};
  return table;
}

}  // namespace operations
