#include "server/ManagerLink.h"

#include <string>

#include "util/Console.h"
#include "util/Platform.h"

namespace server {

ManagerLink::ManagerLink(const std::string& libraryPath) {
  loadLibrary(libraryPath);
  bool valid = library_ != nullptr && version_ != nullptr && create_ != nullptr;
  if (valid) {
    mt::CManagerInterface* created = nullptr;
    create_(mt::kManagerApiVersion, &created);  // its result is not used
    iface_.store(created);
  }
  const std::string library = "manager library " + libraryPath;
  if (library_ == nullptr) {
    problem_ = library + " cannot be loaded: " + platform::lastLibraryError();
  } else if (version_ == nullptr || create_ == nullptr) {
    problem_ = library + " has no " +
               (create_ == nullptr ? mt::kMtManCreateSymbol : mt::kMtManVersionSymbol);
  } else if (iface_.load() == nullptr) {
    problem_ = library + " created no interface of version " +
               std::to_string(mt::kManagerApiVersion);
  }
  if (!valid || iface_.load() == nullptr) {
    util::consolePrint("Failed to create MetaTrader 4 Manager API interface\n");
  }
}

ManagerLink::ManagerLink(mt::CManagerInterface* iface) { iface_.store(iface); }

ManagerLink::~ManagerLink() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    mt::CManagerInterface* iface = iface_.load();
    if (iface != nullptr) {
      if (iface->IsConnected() != 0) iface->Disconnect();
      iface_.store(nullptr);
      iface->Release();
    }
  }
  platform::freeLibrary(library_);
  library_ = nullptr;
}

void ManagerLink::loadLibrary(const std::string& path) {
  if (library_ != nullptr) {
    platform::freeLibrary(library_);
    library_ = nullptr;
  }
  version_ = nullptr;
  create_ = nullptr;
  library_ = platform::loadLibrary(path);
  if (library_ == nullptr) return;
  version_ = reinterpret_cast<mt::MtManVersionFunc>(
      platform::findSymbol(library_, mt::kMtManVersionSymbol));
  create_ = reinterpret_cast<mt::MtManCreateFunc>(
      platform::findSymbol(library_, mt::kMtManCreateSymbol));
}

bool ManagerLink::hasInterface() const { return iface_.load() != nullptr; }

void ManagerLink::memFree(void* ptr) {
  if (ptr == nullptr) return;
  std::lock_guard<std::mutex> lock(mutex_);
  mt::CManagerInterface* iface = iface_.load();
  if (iface != nullptr) iface->MemFree(ptr);
}

void ManagerLink::disconnect() {
  std::lock_guard<std::mutex> lock(mutex_);
  mt::CManagerInterface* iface = iface_.load();
  if (iface != nullptr) iface->Disconnect();
}

void ManagerLink::release() {
  std::lock_guard<std::mutex> lock(mutex_);
  mt::CManagerInterface* iface = iface_.load();
  if (iface == nullptr) return;
  iface_.store(nullptr);
  iface->Release();
}

mt::CManagerInterface* ManagerLink::interfaceForPumpHandler() const {
  return iface_.load();
}

}  // namespace server
