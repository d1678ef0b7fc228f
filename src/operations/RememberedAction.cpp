#include "operations/RememberedAction.h"

namespace operations {

RememberedAction::RememberedAction(store::FinanceBalanceStore& history,
                                   const store::FinanceBalance& record)
    : history_(history), record_(record), key_(store::keyOf(record)) {}

RememberedAction::Start RememberedAction::remember() {
  using Insert = store::FinanceBalanceStore::Insert;
  switch (history_.insertIfAbsentAndSave(key_, record_, &earlier_)) {
    case Insert::kInserted:
      return Start::kNew;
    case Insert::kPresent:
      return earlier_.isHandle == 1 ? Start::kDone : Start::kUnfinished;
    case Insert::kNotDurable:
      break;
  }
  return Start::kNotDurable;
}

bool RememberedAction::save() { return history_.putAndSave(key_, record_); }

bool RememberedAction::noteTicket(int ticket) {
  record_.order = ticket;
  return save();
}

bool RememberedAction::markHandled(int ticket) {
  record_.isHandle = 1;
  record_.order = ticket;
  return save();
}

}  // namespace operations
