// Remember before acting, mark after: what makes the trading server act at
// most once per request. An operation whose action must not happen twice
// (a money movement, a trade import, a mail) keeps a record of it in a
// history store: on disk before the server is asked, marked handled
// (isHandle 1, with the server's ticket) once the server has done it. A
// repeated request finds the record marked and is answered from it; one
// that finds it unmarked knows that an earlier run may have acted, and
// finds out before acting again.
//
//   RememberedAction mail(ctx.mails, {serial, serial, 0, 0, 0, 0});
//   switch (mail.remember()) {
//     case RememberedAction::Start::kNotDurable: return refuse(codes::kNotDurable, ...);
//     case RememberedAction::Start::kDone: return codes::kSuccess;
//     default: break;
//   }
//   const int code = act();
//   if (code == codes::kSuccess) mail.markHandled(0);
//
// One per request run, used by one thread. It owns a copy of the record and
// its key (keyOf of the record given); the store must outlive it. Each call
// is one step under the store's lock, taken only inside the call: never
// while the caller talks to the server or pauses.
#ifndef MT4BRIDGE_OPERATIONS_REMEMBERED_ACTION_H_
#define MT4BRIDGE_OPERATIONS_REMEMBERED_ACTION_H_

#include "store/FinanceBalance.h"
#include "store/FinanceBalanceStore.h"

namespace operations {

class RememberedAction {
 public:
  enum class Start {
    kNew,         // remembered now, on disk: act
    kUnfinished,  // on file, not marked: an earlier run may have acted
    kDone,        // on file and marked: answer from earlier(), do not act
    kNotDurable,  // could not be put on disk, nothing stored: do not act
  };

  RememberedAction(store::FinanceBalanceStore& history, const store::FinanceBalance& record);

  // Stores the record and journals it, unless its key is on file; then the
  // record on file is earlier() and nothing is written.
  Start remember();

  // The record on file that remember() found (kUnfinished, kDone).
  const store::FinanceBalance& earlier() const { return earlier_; }
  // This run's record, which the caller may change before it saves it.
  store::FinanceBalance& record() { return record_; }
  const store::HistoryKey& key() const { return key_; }
  store::FinanceBalanceStore& history() { return history_; }

  // Writes record() under key() and journals it. False when the journal
  // failed: a record not marked is then not stored; a marked one is kept
  // in memory until the next snapshot (the mark can only keep the server
  // from acting twice).
  bool save();
  // The server's ticket for the action not yet finished: order = ticket,
  // then save().
  bool noteTicket(int ticket);
  // The action done: isHandle = 1, order = ticket, then save().
  bool markHandled(int ticket);

 private:
  store::FinanceBalanceStore& history_;
  store::FinanceBalance record_;
  const store::HistoryKey key_;
  store::FinanceBalance earlier_;
};

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_REMEMBERED_ACTION_H_
