// The check behind --check-config: config.ini and the four stores of the
// working folder, read as start-up reads them. Nothing is written, locked
// or connected to.
#ifndef MT4BRIDGE_APP_FOLDER_CHECK_H_
#define MT4BRIDGE_APP_FOLDER_CHECK_H_

#include <string>
#include <vector>

namespace app {

// Every problem found, one line each without line feed, in the order
// start-up meets them: config.ini's (config::loadConfig), then each store
// that would not load (store/StoreCheck.h): financeBalanceHistory,
// userInfo, tradeImportHistory, emailSendHistory. Empty when none.
std::vector<std::string> folderProblems();

}  // namespace app

#endif  // MT4BRIDGE_APP_FOLDER_CHECK_H_
