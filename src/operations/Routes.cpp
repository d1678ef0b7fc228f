#include "operations/Routes.h"

#include <utility>

#include "operations/ReplyCodes.h"
#include "operations/accounts/EmailSend.h"
#include "operations/accounts/EmailSendEntity.h"
#include "operations/accounts/PasswordAndLeverage.h"
#include "operations/accounts/UserLeverageUpdateEntity.h"
#include "operations/accounts/UserPasswordUpdateEntity.h"
#include "operations/accounts/UserRecordCreate.h"
#include "operations/accounts/UserRecordCreateEntity.h"
#include "operations/accounts/UserRecordUpdate.h"
#include "operations/accounts/UserRecordUpdateEntity.h"
#include "operations/balance/CloseUserTrades.h"
#include "operations/balance/CloseUserTradesEntity.h"
#include "operations/balance/FinanceBalanceEntity.h"
#include "operations/balance/ImportTrade.h"
#include "operations/balance/ImportTradeEntity.h"
#include "operations/balance/TradeTransInfo.h"
#include "operations/groups/GroupLeverage.h"
#include "operations/groups/GroupLeverageEntity.h"
#include "operations/reads/AccountReads.h"
#include "operations/reads/ReadEntities.h"
#include "operations/symbols/SymbolChanges.h"
#include "operations/symbols/SymbolEntities.h"

namespace operations {
namespace {

CodeRow safety(int code) {
  for (const SafetyCode& row : safetyCodes()) {
    if (row.code == code) return {row.code, row.when};
  }
  return {code, "?"};
}

// The codes of a queue that moves money: its own, those of safetyCodes()
// that every movement may answer, then the rest.
std::vector<CodeRow> movementCodes(std::vector<CodeRow> own, const std::vector<CodeRow>& rest) {
  for (int code : {codes::kNoMovementKey, codes::kKeyConflict, codes::kHistoryUnreadable,
                   codes::kNotDurable, codes::kLoginOutOfRange, codes::kAmountOutOfRange}) {
    own.push_back(safety(code));
  }
  own.insert(own.end(), rest.begin(), rest.end());
  return own;
}

template <typename Record>
Route route(int queue, OperationFn operation, std::vector<CodeRow> codes) {
  return Route{&config::queueInfo(queue), operation, &recordSchema<Record>, std::move(codes)};
}

}  // namespace

const std::vector<SafetyCode>& safetyCodes() {
  static const std::vector<SafetyCode> table = {
      {codes::kNoMovementKey,
       "the comment (an import's serial), the movement's key, is empty as the server keeps it; "
       "nothing moved",
       "give every movement a comment of its own (every import a serial of its own) and send it "
       "again"},
      {codes::kKeyConflict,
       "the comment (an import's serial) was used on this account for another movement, of "
       "another amount or kind; nothing moved",
       "this is not a repeat: give the new movement a comment of its own"},
      {codes::kHistoryUnreadable,
       "the movement is on file from an earlier delivery and may have been carried out, and the "
       "trading server's history cannot be read now to tell; nothing moved",
       "send the same request again later, unchanged: it is then found (200 with its ticket) or "
       "moved once"},
      {codes::kNotDurable,
       "the service could not record the request on its disk: nothing done (an import: what it "
       "opened is not rewritten yet)",
       "send the same request again, unchanged, once the operator has freed the disk"},
      {codes::kLoginOutOfRange,
       "`login` (an element of `logins`) is outside 1 to 2147483647, or `agent` outside 0 to "
       "2147483647; nothing called",
       "correct the account number"},
      {codes::kAmountOutOfRange,
       "an amount, price or profit is not a finite number of magnitude below 10^13; nothing "
       "called",
       "correct the amount"},
      {codes::kOtherAccountsTrade,
       "`newOrder` is a trade of another account than `login`; nothing written",
       "correct `newOrder` or `login`"},
  };
  return table;
}

const std::array<Route, config::kRouteCount>& routeTable() {
  using namespace config;
  static const CodeRow kLoginRow = safety(codes::kLoginOutOfRange);
  static const std::vector<CodeRow> kSymbolCodes = {
      {codes::kSuccess, "the server took the symbol's new settings"},
      {codes::kNoSymbolList, "no symbol list came from the server"},
      {codes::kSymbolNotFound, "no symbol has exactly the requested name"},
      {kFailedCallCode, "`CfgUpdateSymbol` refused the change (its last result r)"},
  };
  static const CodeRow kUnknownAccount = {
      kFailedCallCode, "`UserRecordGet` returned r other than 0 and 1 (-65: no such account)"};
  static const std::array<Route, kRouteCount> table = {{
      route<UserRecordCreateEntity>(
          kUserRecordCreate, &userRecordCreate,
          {{codes::kSuccess,
            "created, or the login is known with the same identity and the server has the "
            "account (nothing written)"},
           {codes::kOtherIdentity, "the login is known with another identity; nothing written"},
           kLoginRow,
           {kFailedCallCode, "`UserRecordNew` returned r other than 0"}}),
      route<UserRecordUpdateEntity>(
          kUserRecordUpdate, &userRecordUpdate,
          {{codes::kSuccess, "the account was stored"},
           kLoginRow,
           {kFailedCallCode, "`UserRecordGet` returned r other than 0 and 1 (nothing written), "
                             "or `UserRecordUpdate` returned r other than 0"}}),
      route<UserPasswordUpdateEntity>(
          kUserRecordPasswordUpdate, &userRecordPasswordUpdate,
          {{codes::kSuccess, "the password was set"},
           {codes::kNotCarriedOut, "`type` is not 1, 2 or 3; nothing called"},
           kLoginRow,
           {kFailedCallCode, "the check of `masterPass` (types 1 and 3) or `UserPasswordSet` "
                             "returned r other than 0 and 1"}}),
      route<FinanceBalanceEntity>(
          kTradeTransInfo, &tradeTransInfo,
          movementCodes(
              {{codes::kSuccess, "moved (`order` the ticket), moved before (`amount` and `order` "
                                 "of that movement) or nothing to move (`order` -1)"},
               {codes::kBelowMargin, "the withdrawal would leave less than `margin`"},
               {codes::kFloatingWithoutTrades,
                "`floating` reported, the account has no open trade"},
               {codes::kNoRecord, "the server took the transaction without a ticket (or -1)"}},
              {{kFailedCallCode,
                "`UserRecordGet` or `TradeTransaction` returned r (after a `TradeTransaction` "
                "that timed out or lost its link the money may have moved: send the same "
                "request again)"}})),
      route<UserLeverageUpdateEntity>(
          kUserLeverageUpdate, &userLeverageUpdate,
          {{codes::kSuccess, "set, or the account already had that leverage (nothing written)"},
           kLoginRow,
           {kFailedCallCode,
            "`UserRecordGet` or `UserRecordUpdate` returned r other than 0 and 1"}}),
      route<EmailSendEntity>(
          kEmailSend, &emailSend,
          {{codes::kSuccess, "the server took the mail (`MailSend` answered 0 or 1), or the "
                             "mail of this `serial` was sent before (not sent again)"},
           {codes::kNoInterface, "the manager's rights check failed; no mail sent"},
           safety(codes::kNotDurable),
           kLoginRow,
           {kFailedCallCode, "`MailSend` returned r other than 0 and 1 (the mail is not marked "
                             "sent: the same request sends it again)"}}),
      route<GroupLeverageEntity>(
          kGroupLeverage, &groupLeverage,
          {{codes::kSuccess, "the group was updated (or needed no change), and the accounts' "
                             "leverage set when `logins` and a `ForeignExchange` entry are given"},
           {codes::kGroupNotUpdated, "the group could not be fetched or written"},
           kLoginRow,
           {kFailedCallCode, "setting the accounts' leverage (`UsersGroupOp`) returned r"}}),
      route<UpdateSymbolEntity>(kUpdateSymbol, &updateSymbol, kSymbolCodes),
      route<CloseUserTradesEntity>(
          kCloseUserTrades, &closeUserTrades,
          {{codes::kSuccess, "every open trade closed or deleted, or none open"},
           {codes::kNoTradeList, "no list of open trades came from the server"},
           kLoginRow,
           {kFailedCallCode, "`UserRecordGet`, or the first close or deletion that failed, "
                             "returned r (trades handled before stay closed)"}}),
      route<ImportTradeEntity>(
          kImportTrade, &importTrade,
          movementCodes(
              {{codes::kSuccess, "imported (`newOrder` the ticket), or imported before (the "
                                 "earlier ticket in `newOrder`, for cmd 6 and 7 in `order`)"},
               {codes::kNoRecord, "the server returned no trade record for the ticket"}},
              {safety(codes::kOtherAccountsTrade),
               {kFailedCallCode, "`TradeTransaction`, `AdmTradeRecordModify` or `AdmBalanceFix` "
                                 "returned r (a repeat finishes the import)"}})),
      route<SymbolLeverageEntity>(kSymbolLeverageUpdate, &symbolLeverageUpdate, kSymbolCodes),
      route<SymbolTradeEntity>(kSymbolTradeUpdate, &symbolTradeUpdate, kSymbolCodes),
      route<SymbolGtcPendingEntity>(kSymboGtcPendingUpdate, &symboGtcPendingUpdate,
                                    kSymbolCodes),
      route<SymbolSessionsEntity>(kSymboTraderDateUpdate, &symboTraderDateUpdate, kSymbolCodes),
      route<SymbolSessionsEntity>(kSymboQuoteDateUpdate, &symboQuoteDateUpdate, kSymbolCodes),
      route<UserRecordGetEntity>(
          kUserRecordGet, &userRecordGet,
          {{codes::kSuccess, "the account was read"}, kLoginRow, kUnknownAccount}),
      route<UserTradesGetEntity>(
          kUserTradesGet, &userTradesGet,
          {{codes::kSuccess, "the open trades were read (none: an empty list)"},
           {codes::kNoTradeList, "no list of open trades came from the server"},
           kLoginRow,
           kUnknownAccount}),
      route<UserHistoryGetEntity>(
          kUserHistoryGet, &userHistoryGet,
          {{codes::kSuccess, "the history was read (none in the window: an empty list)"},
           {codes::kBadWindow, "`to` is before `from`, or more than 31 days after it; nothing "
                               "called"},
           {codes::kNoTradeList, "no history came from the server"},
           kLoginRow,
           kUnknownAccount}),
  }};
  return table;
}

}  // namespace operations
