#include "operations/accounts/UserRecordCreate.h"

#include <cstdint>
#include <string>

#include "operations/AccountNumber.h"
#include "operations/OperationRunner.h"
#include "operations/ReplyCodes.h"
#include "operations/accounts/UserRecordCreateEntity.h"
#include "server/FieldText.h"
#include "server/ManagerApi.h"
#include "server/ManagerResults.h"
#include "util/TextConvert.h"

namespace operations {
namespace {

constexpr int kCreatePauseMs = 1000;
constexpr unsigned int kNoColor = 0xFF000000u;

// The identity texts of a known account, as the store or the server holds
// them.
struct KnownIdentity {
  std::string name;
  std::string email;
  std::string group;
  std::string comment;
  std::string leadSource;
};

// An equal lead source alone matches; failing that, all four of name,
// e-mail, group and comment must be equal. Byte comparison of the request's
// texts as received. An empty lead source identifies nobody: two empty ones
// do not match by themselves (a request without one for another person's
// account would otherwise be answered as created).
bool sameIdentity(const UserRecordCreateEntity& request,
                  const KnownIdentity& known) {
  if (!request.leadSource.empty() && request.leadSource == known.leadSource) {
    return true;
  }
  return request.name == known.name && request.email == known.email &&
         request.group == known.group && request.comment == known.comment;
}

// 200 when the known account has the request's identity, else -2.
int identityCode(const UserRecordCreateEntity& request,
                 const KnownIdentity& known) {
  return sameIdentity(request, known) ? codes::kSuccess : codes::kOtherIdentity;
}

KnownIdentity identityOf(const store::UserIdentity& entry) {
  return KnownIdentity{entry.name, entry.email, entry.group, entry.comment,
                       entry.leadSource};
}

KnownIdentity identityOf(const mt::UserRecord& user) {
  return KnownIdentity{mt::fieldText(user.name), mt::fieldText(user.email),
                       mt::fieldText(user.group), mt::fieldText(user.comment),
                       mt::fieldText(user.lead_source)};
}

// The new account's record. Every text is cut to its field's width; the
// address, like every field, fills its 96 bytes without terminator when the
// converted text is that long or longer.
mt::UserRecord newAccount(const UserRecordCreateEntity& request) {
  mt::UserRecord user{};
  user.login = accountOf(request.login);
  mt::setField(user.group, request.group);
  mt::setField(user.password, request.masterPass);
  user.enable = 1;
  user.enable_change_password = 1;
  user.enable_read_only = request.valid == 1 ? 0 : 1;
  mt::setField(user.password_investor, request.investorPass);
  mt::setField(user.password_phone, std::string());
  mt::setField(user.name, util::toServerText(request.name));
  mt::setField(user.country, request.country);
  mt::setField(user.city, util::toServerText(request.city));
  mt::setField(user.state, util::toServerText(request.town));
  mt::setField(user.zipcode, request.postalCode);
  mt::setField(user.address, util::toServerText(request.addressLine));
  mt::setField(user.lead_source, request.leadSource);
  mt::setField(user.phone, request.phone);
  mt::setField(user.email, request.email);
  mt::setField(user.comment, request.comment);
  mt::setField(user.id, util::toServerText(request.id));
  mt::setField(user.status, std::string());
  user.leverage = request.leverage;
  user.agent_account = accountOf(request.agent);
  user.user_color = kNoColor;
  return user;
}

// The operation's own steps: the identity store, then the pumping
// manager's cache, then UserRecordNew on the normal manager. The store may
// still hold an account the server has deleted (deletions change it in
// memory only, and a restart reads the file again), so a match there is
// confirmed on the server; an account the server does not know is created
// as if the store had not held it.
int createAccount(OperationContext& ctx, UserRecordCreateEntity& record) {
  const int login = accountOf(record.login);

  store::UserIdentity stored;
  const bool known = ctx.users.find(login, &stored);
  if (known && !sameIdentity(record, identityOf(stored))) return codes::kOtherIdentity;

  mt::UserRecord fetched{};
  const CallResult got =
      ctx.callPumping([&](mt::CManagerInterface& m) { return m.UserRecordGet(login, &fetched); });
  if (got.missingInterface()) return codes::kNoInterface;
  if (got.is(mt::RET_OK)) {
    return known ? codes::kSuccess : identityCode(record, identityOf(fetched));
  }

  mt::UserRecord user = newAccount(record);
  return replyCode(ctx.callNormal([&](mt::CManagerInterface& m) { return m.UserRecordNew(&user); }),
                   server::kSuccessZeroOnly);
}

}  // namespace

int userRecordCreate(OperationContext& ctx, const Json::Value& request,
                     messaging::ReplySender& reply) {
  return runOperation<UserRecordCreateEntity>({kCreatePauseMs}, ctx, request, reply,
                                              createAccount);
}

}  // namespace operations
