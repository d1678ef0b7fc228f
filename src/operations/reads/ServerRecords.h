// The server's records as the back office reads them (AccountFields.h,
// TradeFields.h).
#ifndef MT4BRIDGE_OPERATIONS_READS_SERVER_RECORDS_H_
#define MT4BRIDGE_OPERATIONS_READS_SERVER_RECORDS_H_

#include <cstdint>

#include "operations/reads/AccountFields.h"
#include "operations/reads/TradeFields.h"
#include "server/ManagerApi.h"

namespace operations {

AccountFields accountFields(const mt::UserRecord& user);

// timeZone: the configured shift in seconds, taken off every time.
TradeFields tradeFields(const mt::TradeRecord& trade, int timeZone);

// A server time as the back office reads it: (time - timeZone) in
// milliseconds; 0 stays 0 (no time), and a time beyond what milliseconds
// can hold gives the nearest that can.
std::int64_t backOfficeMillis(mt::ServerTimeT time, int timeZone);

}  // namespace operations

#endif  // MT4BRIDGE_OPERATIONS_READS_SERVER_RECORDS_H_
