#include "app/FolderCheck.h"

#include "config/Config.h"
#include "store/FinanceBalanceStore.h"
#include "store/StoreCheck.h"
#include "store/UserInfoStore.h"

namespace app {

std::vector<std::string> folderProblems() {
  std::vector<std::string> problems;
  config::loadConfig(&problems);
  for (const std::string& problem :
       {store::historyStoreProblem(store::kFinanceBalanceHistoryFile),
        store::userInfoProblem(store::kUserInfoFile),
        store::historyStoreProblem(store::kTradeImportHistoryFile),
        store::historyStoreProblem(store::kEmailSendHistoryFile)}) {
    if (!problem.empty()) problems.push_back(problem);
  }
  return problems;
}

}  // namespace app
