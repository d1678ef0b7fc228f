// Drives the manager-interface plugin from the end-to-end tests: reads one
// command per line on stdin, carries it out on one interface and prints
// "RESULT <command> <code> [details]"; pumped events are printed as
// "EVENT code=<c> type=<t> ..." as they arrive. Usage:
//   sim_client_harness <plugin path>
// Commands: connect ADDRESS | login LOGIN PASSWORD | pump FLAGS |
//   balance LOGIN CMD AMOUNT COMMENT | newuser GROUP NAME |
//   update LOGIN NAME | get LOGIN | isconnected | ping | servertime |
//   symbols | disconnect | quit
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>

#include "server/FieldText.h"
#include "server/ManagerApi.h"
#include "util/Platform.h"

namespace {

std::mutex printMutex;
mt::CManagerInterface* iface = nullptr;

void printLine(const std::string& line) {
  std::lock_guard<std::mutex> lock(printMutex);
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

void onPump(int code, int type, void* data, void*) {
  std::ostringstream out;
  out << "EVENT code=" << code << " type=" << type;
  if (code == mt::PUMP_UPDATE_TRADES && data != nullptr) {
    const auto* t = static_cast<const mt::TradeRecord*>(data);
    out << " order=" << t->order << " login=" << t->login << " cmd=" << t->cmd
        << " profit=" << t->profit << " comment=" << mt::fieldText(t->comment);
  } else if (code == mt::PUMP_UPDATE_USERS && data != nullptr) {
    const auto* u = static_cast<const mt::UserRecord*>(data);
    out << " login=" << u->login << " balance=" << u->balance
        << " name=" << mt::fieldText(u->name);
  } else if (code == mt::PUMP_UPDATE_BIDASK) {
    mt::SymbolInfo infos[32];
    int n;
    while ((n = iface->SymbolInfoUpdated(infos, 32)) > 0) {
      for (int i = 0; i < n; ++i) {
        out << " symbol=" << mt::fieldText(infos[i].symbol) << " bid=" << infos[i].bid
            << " ask=" << infos[i].ask;
      }
    }
  }
  printLine(out.str());
}

std::string rest(std::istringstream& in) {
  std::string text;
  std::getline(in >> std::ws, text);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: sim_client_harness <plugin path>\n");
    return 2;
  }
  void* library = platform::loadLibrary(argv[1]);
  auto create = library != nullptr ? reinterpret_cast<mt::MtManCreateFunc>(
                                         platform::findSymbol(library, mt::kMtManCreateSymbol))
                                   : nullptr;
  if (create == nullptr || create(mt::kManagerApiVersion, &iface) != 0 || iface == nullptr) {
    std::fprintf(stderr, "cannot create the interface: %s\n",
                 platform::lastLibraryError().c_str());
    return 1;
  }
  printLine("READY");
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream in(line);
    std::string cmd;
    in >> cmd;
    std::ostringstream out;
    out << "RESULT " << cmd << " ";
    if (cmd == "connect") {
      std::string address;
      in >> address;
      out << iface->Connect(address.c_str());
    } else if (cmd == "login") {
      int login = 0;
      std::string password;
      in >> login >> password;
      out << iface->Login(login, password.c_str());
    } else if (cmd == "pump") {
      int flags = 0;
      in >> flags;
      out << iface->PumpingSwitchEx(onPump, flags, nullptr);
    } else if (cmd == "balance") {
      mt::TradeTransInfo info{};
      info.type = mt::TT_BR_BALANCE;
      in >> info.orderby >> info.cmd >> info.price;
      mt::setField(info.comment, rest(in));
      int r = iface->TradeTransaction(&info);
      out << r << " order=" << info.order;
    } else if (cmd == "newuser") {
      mt::UserRecord user{};
      std::string group;
      in >> group;
      mt::setField(user.group, group);
      mt::setField(user.name, rest(in));
      mt::setField(user.password, "Start123");
      int r = iface->UserRecordNew(&user);
      out << r << " login=" << user.login;
    } else if (cmd == "update") {
      mt::UserRecord user{};
      int login = 0;
      in >> login;
      int r = iface->UserRecordGet(login, &user);
      if (r == 0) {
        mt::setField(user.name, rest(in));
        r = iface->UserRecordUpdate(&user);
      }
      out << r;
    } else if (cmd == "get") {
      mt::UserRecord user{};
      int login = 0;
      in >> login;
      int r = iface->UserRecordGet(login, &user);
      out << r << " login=" << user.login << " balance=" << user.balance
          << " name=" << mt::fieldText(user.name);
    } else if (cmd == "isconnected") {
      out << iface->IsConnected();
    } else if (cmd == "ping") {
      out << iface->Ping();
    } else if (cmd == "servertime") {
      out << iface->ServerTime();
    } else if (cmd == "symbols") {
      int total = -1;
      mt::ConSymbol* symbols = iface->SymbolsGetAll(&total);
      out << (symbols != nullptr ? 0 : 1) << " total=" << total;
      for (int i = 0; symbols != nullptr && i < total; ++i) {
        out << " " << mt::fieldText(symbols[i].symbol);
      }
      iface->MemFree(symbols);
    } else if (cmd == "disconnect") {
      out << iface->Disconnect();
    } else if (cmd == "quit") {
      break;
    } else {
      out << "unknown";
    }
    printLine(out.str());
  }
  iface->Disconnect();
  iface->Release();
  platform::freeLibrary(library);
  printLine("BYE");
  return 0;
}
