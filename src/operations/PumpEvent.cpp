#include "operations/PumpEvent.h"

#include <atomic>
#include <vector>

#include "operations/EchoWriter.h"
#include "operations/TradeComment.h"
#include "operations/balance/BalanceHistoryCheck.h"
#include "operations/reads/ServerRecords.h"
#include "server/FieldText.h"

namespace operations {
namespace {

std::atomic<store::FinanceBalanceStore*> gBalances{nullptr};
std::atomic<store::UserInfoStore*> gUsers{nullptr};
std::atomic<server::ManagerLink*> gPumping{nullptr};
std::atomic<messaging::EventSink*> gEvents{nullptr};
std::atomic<int> gTimeZone{0};

const char* actionText(int type) {
  switch (type) {
    case mt::TRANS_ADD:
      return "add";
    case mt::TRANS_DELETE:
      return "delete";
    default:
      return "update";
  }
}

// Offers the record to the sink, when there is one.
template <typename Fields>
void publish(const char* event, int type, Fields fields, mt::ServerTimeT time) {
  messaging::EventSink* events = gEvents.load();
  if (events == nullptr) return;
  Json::Value message(Json::objectValue);
  message["event"] = event;
  message["action"] = actionText(type);
  message["data"] = echoRecord(fields);
  message["time"] = Json::Int64(backOfficeMillis(time, gTimeZone.load()));
  events->offer(std::move(message));
}

// A balance or credit trade marks the one movement on file that it can be:
// a record of the account not yet carried out whose key text, as the
// server keeps it, is the trade's comment, with the trade's kind and
// amount (isMovementOf). When two records could both be it (comments that
// share the 31 bytes the server keeps, with one amount) or another record
// holds its ticket, nothing is marked: the operation that moved the money
// marks its own record, and a repeat finds it in the server's history.
void onTrade(int type, const mt::TradeRecord& trade) {
  if (type != mt::TRANS_DELETE) return;
  if (trade.cmd != mt::OP_BALANCE && trade.cmd != mt::OP_CREDIT) return;
  store::FinanceBalanceStore* balances = gBalances.load();
  if (balances == nullptr) return;
  const store::FinanceBalance* candidate = nullptr;
  int candidates = 0;
  const std::vector<store::FinanceBalance> records = balances->recordsOf(trade.login);
  for (const store::FinanceBalance& record : records) {
    if (record.order == trade.order) return;  // already its record's
    if (record.order == 0 && isMovementOf(trade, record, tradeComment(record.comment))) {
      candidate = &record;
      ++candidates;
    }
  }
  if (candidates == 1) balances->claim(store::keyOf(*candidate), trade.order, nullptr);
}

void onUser(int type, const mt::UserRecord& user) {
  store::UserInfoStore* users = gUsers.load();
  if (users == nullptr) return;
  if (type == mt::TRANS_ADD || type == mt::TRANS_UPDATE) {
    store::UserIdentity identity;
    identity.login = user.login;
    identity.name = mt::fieldText(user.name);
    identity.email = mt::fieldText(user.email);
    identity.group = mt::fieldText(user.group);
    identity.comment = mt::fieldText(user.comment);
    identity.leadSource = mt::fieldText(user.lead_source);
    users->set(identity);
  } else if (type == mt::TRANS_DELETE) {
    users->remove(user.login);
  }
}

void onQuotes() {
  server::ManagerLink* pumping = gPumping.load();
  if (pumping == nullptr) return;
  mt::CManagerInterface* iface = pumping->interfaceForPumpHandler();
  if (iface == nullptr) return;
  mt::SymbolInfo infos[kQuoteBatch];
  for (int i = 0; i < kQuoteReadsMax; ++i) {
    if (iface->SymbolInfoUpdated(infos, kQuoteBatch) <= 0) break;
  }
}

}  // namespace

void setPumpTargets(store::FinanceBalanceStore* balances,
                    store::UserInfoStore* users, server::ManagerLink* pumping,
                    messaging::EventSink* events, int timeZone) {
  gBalances.store(balances);
  gUsers.store(users);
  gPumping.store(pumping);
  gTimeZone.store(timeZone);
  gEvents.store(events);
}

void pumpEvent(int code, int type, void* data, void* /*param*/) {
  switch (code) {
    case mt::PUMP_START_PUMPING:
      if (messaging::EventSink* events = gEvents.load()) events->resync();
      break;
    case mt::PUMP_UPDATE_TRADES:
      if (data != nullptr) {
        const mt::TradeRecord& trade = *static_cast<mt::TradeRecord*>(data);
        onTrade(type, trade);
        publish("trade", type, tradeFields(trade, gTimeZone.load()), trade.timestamp);
      }
      break;
    case mt::PUMP_UPDATE_USERS:
      if (data != nullptr) {
        const mt::UserRecord& user = *static_cast<mt::UserRecord*>(data);
        onUser(type, user);
        publish("account", type, accountFields(user), user.timestamp);
      }
      break;
    case mt::PUMP_UPDATE_BIDASK:
      onQuotes();
      break;
    default:
      break;
  }
}

}  // namespace operations
