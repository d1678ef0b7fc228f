#include "operations/balance/MovementInfo.h"

#include "server/FieldText.h"

namespace operations {

mt::TradeTransInfo movementInfo(OperationContext& ctx, int cmd, int login, double amount,
                                const std::string& comment) {
  mt::TradeTransInfo info{};
  info.type = mt::TT_BR_BALANCE;
  info.cmd = cmd;
  info.orderby = login;
  info.price = amount;
  mt::setFieldTerminated(info.comment, comment);
  if (cmd == mt::OP_CREDIT) info.expiration = ctx.serverTime() + kCreditLifetimeSeconds;
  return info;
}

}  // namespace operations
