#include "operations/accounts/UserRecordUpdate.h"

#include <string>

#include "operations/AccountNumber.h"
#include "operations/OperationRunner.h"
#include "operations/accounts/AccountRewrite.h"
#include "operations/accounts/UserRecordUpdateEntity.h"
#include "server/FieldText.h"
#include "server/ManagerResults.h"
#include "util/TextConvert.h"

namespace operations {
namespace {

constexpr int kUpdatePauseMs = 1000;
constexpr const char* kFlagsOnlyRoute = "USER_ENABLE_READ_ONLY_UPDATE";
constexpr const char* kKeepComment = "-1";

bool keepsPersonalData(int groupType) { return groupType == 2 || groupType == 9; }

void applyUpdate(const UserRecordUpdateEntity& r, mt::UserRecord& user) {
  if (r.routeType != kFlagsOnlyRoute) {
    mt::setField(user.address, util::toServerText(r.addressLine));
    if (!keepsPersonalData(r.groupType)) {
      if (r.comment != kKeepComment) mt::setField(user.comment, r.comment);
      mt::setField(user.group, r.group);
      mt::setField(user.email, r.email);
      mt::setField(user.name, util::toServerText(r.name));
      mt::setField(user.country, r.country);
      mt::setField(user.phone, r.phone);
      mt::setField(user.id, util::toServerText(r.id));
      mt::setField(user.city, util::toServerText(r.city));
      mt::setField(user.state, util::toServerText(r.town));
      mt::setField(user.zipcode, r.postalCode);
      user.agent_account = accountOf(r.agent);
    }
    user.leverage = r.leverage;
  }
  user.enable_read_only = r.valid == 1 ? 0 : 1;
  user.enable_change_password = r.updatePassword == 1 ? 1 : 0;
}

int updateAccount(OperationContext& ctx, UserRecordUpdateEntity& request) {
  return rewriteAccount(
      ctx, accountOf(request.login),
      [&](mt::UserRecord& user) {
        applyUpdate(request, user);
        return true;
      },
      server::kSuccessZeroOnly);
}

}  // namespace

int userRecordUpdate(OperationContext& ctx, const Json::Value& request,
                     messaging::ReplySender& reply) {
  return runOperation<UserRecordUpdateEntity>({kUpdatePauseMs}, ctx, request, reply,
                                              updateAccount);
}

}  // namespace operations
