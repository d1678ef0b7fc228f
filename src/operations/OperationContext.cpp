#include "operations/OperationContext.h"

#include "operations/PumpEvent.h"
#include "operations/ReplyCodes.h"
#include "server/Connections.h"
#include "server/ManagerResults.h"

namespace operations {

int replyCode(const CallResult& call, const util::ResultSet& success) {
  if (call.missingInterface()) return codes::kNoInterface;
  return call.in(success) ? codes::kSuccess : codes::failedCall(call.result());
}

int OperationContext::readAccount(int login, mt::UserRecord* user) {
  const CallResult got =
      callPumping([&](mt::CManagerInterface& m) { return m.UserRecordGet(login, user); });
  return got.in(server::kSuccessZeroOrOne) ? 0 : replyCode(got, server::kSuccessZeroOrOne);
}

int OperationContext::reconnectNormal() { return server::connectNormalManager(normal); }

int OperationContext::reconnectPumping() {
  return server::connectPumpingManager(pumping, &pumpEvent);
}

}  // namespace operations
