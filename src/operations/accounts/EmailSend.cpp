#include "operations/accounts/EmailSend.h"

#include <cstring>
#include <vector>

#include "operations/OperationRunner.h"
#include "operations/Refusal.h"
#include "operations/RememberedAction.h"
#include "operations/ReplyCodes.h"
#include "operations/accounts/EmailSendEntity.h"
#include "server/FieldText.h"
#include "server/ManagerResults.h"

namespace operations {
namespace {

constexpr int kMailPauseMs = 2000;
constexpr const char* kSender = "Trading Platform";
// The body buffer is this much longer than the text.
constexpr std::size_t kBodySlack = 16;

int sendOnce(OperationContext& ctx, const EmailSendEntity& request) {
  mt::ConManager rights{};
  if (!ctx.callNormal([&](mt::CManagerInterface& m) { return m.ManagerRights(&rights); })
           .is(mt::RET_OK)) {
    return codes::kNoInterface;
  }
  mt::MailBox mail{};
  mt::setFieldTerminated(mail.from, kSender);
  mt::setFieldTerminated(mail.subject, request.subject);
  mail.to = static_cast<int>(request.logins.size());
  std::vector<char> body(request.content.size() + kBodySlack, '\0');
  std::memcpy(body.data(), request.content.data(), request.content.size());
  mail.body = body.data();
  mail.bodylen = static_cast<int>(request.content.size());
  return replyCode(ctx.callNormal([&](mt::CManagerInterface& m) {
                     return m.MailSend(&mail, request.logins.data());
                   }),
                   server::kSuccessZeroOrOne);
}

// A mail with a serial is remembered under it: isHandle 0 before the send,
// 1 once the server took it. A mail marked sent is not sent again; one
// that was not marked (the service stopped during the send) is sent again.
// A mail that cannot be remembered is not sent.
int sendMail(OperationContext& ctx, EmailSendEntity& request) {
  if (request.serial.empty()) return sendOnce(ctx, request);
  RememberedAction mail(ctx.mails, {request.serial, request.serial, 0, 0, 0, 0});
  switch (mail.remember()) {
    case RememberedAction::Start::kNotDurable:
      return refuse(codes::kNotDurable, "emailSend: the mail could not be remembered; not sent");
    case RememberedAction::Start::kDone:
      return codes::kSuccess;
    case RememberedAction::Start::kUnfinished:
    case RememberedAction::Start::kNew:
      break;
  }
  const int code = sendOnce(ctx, request);
  if (code == codes::kSuccess) mail.markHandled(0);
  return code;
}

}  // namespace

int emailSend(OperationContext& ctx, const Json::Value& request,
              messaging::ReplySender& reply) {
  return runOperation<EmailSendEntity>({kMailPauseMs}, ctx, request, reply, sendMail);
}

}  // namespace operations
