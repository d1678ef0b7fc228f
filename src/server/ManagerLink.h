// One manager interface of the trading server and the plugin library it came
// from. The service holds two: the normal manager (changes and direct
// requests) and the pumping manager (pumped events and cached reads).
//
// Every call into the interface goes through call(), which holds this link's
// lock for the length of the call, so two threads never use one interface at
// once. The lock is never held across a fixed pause: callers pause between
// calls, not inside them.
#ifndef MT4BRIDGE_SERVER_MANAGER_LINK_H_
#define MT4BRIDGE_SERVER_MANAGER_LINK_H_

#include <atomic>
#include <mutex>
#include <string>
#include <utility>

#include "server/ManagerApi.h"
#include "util/Platform.h"

namespace server {

// The default plugin path, relative to the working directory:
// "../libs/mtmanapi.so", on Windows "..\\libs\\mtmanapi.dll".
inline std::string managerLibraryPath() { return platform::libraryPath("../libs", "mtmanapi"); }

class ManagerLink;

// An array returned by an interface call; given back with MemFree (under the
// owning link's lock) when destroyed. The link must outlive it.
template <typename T>
class ManagerArray {
 public:
  ManagerArray() = default;
  ManagerArray(ManagerLink* owner, T* data, int count)
      : owner_(owner), data_(data), count_(data ? count : 0) {}
  ~ManagerArray() { reset(); }
  ManagerArray(ManagerArray&& other) noexcept { *this = std::move(other); }
  ManagerArray& operator=(ManagerArray&& other) noexcept;
  ManagerArray(const ManagerArray&) = delete;
  ManagerArray& operator=(const ManagerArray&) = delete;

  T* data() const { return data_; }
  int count() const { return count_; }  // 0 when no array was returned
  bool empty() const { return data_ == nullptr || count_ <= 0; }
  // True when the call returned an array, even one of no items.
  bool returned() const { return data_ != nullptr; }
  T& operator[](int i) const { return data_[i]; }
  T* begin() const { return data_; }
  T* end() const { return data_ ? data_ + (count_ > 0 ? count_ : 0) : nullptr; }
  // Frees the array now.
  void reset();

 private:
  ManagerLink* owner_ = nullptr;
  T* data_ = nullptr;
  int count_ = 0;
};

class ManagerLink {
 public:
  // Loads the plugin at libraryPath, resolves MtManVersion and
  // MtManCreate and creates an interface of version kManagerApiVersion.
  // When any of that fails prints "Failed to create MetaTrader 4 Manager
  // API interface\n" and the link stays without interface; problem() then
  // says why.
  explicit ManagerLink(const std::string& libraryPath);

  // Adopts iface (may be null), with no library: for tests. The link
  // releases it like a created one (Release at teardown or release()); an
  // adopted interface that must survive its Release (a test's fake) says so
  // itself.
  explicit ManagerLink(mt::CManagerInterface* iface);

  // Tears down what is left: Disconnect when connected, Release, then the
  // library is freed.
  ~ManagerLink();

  ManagerLink(const ManagerLink&) = delete;
  ManagerLink& operator=(const ManagerLink&) = delete;

  // True while the link holds an interface.
  bool hasInterface() const;

  // Why the constructor created no interface, one line without line feed
  // naming the library's path, e.g. "manager library ../libs/mtmanapi.so
  // cannot be loaded: <the system's reason>"; empty when it created one (and
  // for an adopted interface).
  const std::string& problem() const { return problem_; }

  // Runs fn(mt::CManagerInterface&) under this link's lock and returns its
  // result; returns fallback without running fn when there is no interface.
  template <typename R, typename Fn>
  R call(R fallback, Fn&& fn) {
    std::lock_guard<std::mutex> lock(mutex_);
    mt::CManagerInterface* iface = iface_.load();
    if (iface == nullptr) return fallback;
    return fn(*iface);
  }

  // Runs fn(mt::CManagerInterface&, int* count) under the lock; fn returns
  // a T* array that the result owns. Empty when there is no interface.
  template <typename T, typename Fn>
  ManagerArray<T> fetchArray(Fn&& fn) {
    T* data = nullptr;
    int count = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      mt::CManagerInterface* iface = iface_.load();
      if (iface == nullptr) return ManagerArray<T>();
      data = fn(*iface, &count);
    }
    return ManagerArray<T>(this, data, count);
  }

  // MemFree under the lock (no-op for null or without interface).
  void memFree(void* ptr);

  // Shut-down steps: Disconnect, and Release with the pointer cleared.
  // Both are no-ops without interface. Once release() has run, every
  // later use of the link finds no interface.
  void disconnect();
  void release();

  // The interface without taking the lock, for the pumping handler only:
  // SymbolInfoUpdated is safe to call from inside the handler while another
  // thread is in a call. Null when there is none. The read is atomic; the
  // interface stays valid while pumping runs, because shut-down disconnects
  // (which ends pumping) before it releases.
  mt::CManagerInterface* interfaceForPumpHandler() const;

 private:
  // Frees any module held, then loads path and resolves both exports.
  void loadLibrary(const std::string& path);

  // Started before the library is loaded and ended after it is freed.
  platform::SocketLibrary sockets_;
  void* library_ = nullptr;
  mt::MtManVersionFunc version_ = nullptr;
  mt::MtManCreateFunc create_ = nullptr;
  std::string problem_;
  // Written under mutex_; read without it only by the pumping handler.
  std::atomic<mt::CManagerInterface*> iface_{nullptr};
  mutable std::mutex mutex_;
};

template <typename T>
ManagerArray<T>& ManagerArray<T>::operator=(ManagerArray&& other) noexcept {
  if (this != &other) {
    reset();
    owner_ = other.owner_;
    data_ = other.data_;
    count_ = other.count_;
    other.owner_ = nullptr;
    other.data_ = nullptr;
    other.count_ = 0;
  }
  return *this;
}

template <typename T>
void ManagerArray<T>::reset() {
  if (data_ != nullptr && owner_ != nullptr) owner_->memFree(data_);
  owner_ = nullptr;
  data_ = nullptr;
  count_ = 0;
}

}  // namespace server

#endif  // MT4BRIDGE_SERVER_MANAGER_LINK_H_
