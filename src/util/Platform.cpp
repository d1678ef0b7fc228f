#include "util/Platform.h"
#include "util/PlatformFiles.h"

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <termios.h>
#include <sys/file.h>
#include <systemd/sd-daemon.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace platform {

std::tm localTime(std::time_t t) {
  std::tm out{};
  localtime_r(&t, &out);
  return out;
}

bool directoryExists(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool makeDirectory(const std::string& path) {
  if (::mkdir(path.c_str(), 0755) == 0) return true;
  return directoryExists(path);
}

void sleepMilliseconds(int ms) {
  if (ms <= 0) return;
  struct timespec ts;
  ts.tv_sec = ms / 1000;
  ts.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
  while (nanosleep(&ts, &ts) != 0) {
  }
}

std::string libraryPath(const std::string& folder, const std::string& name) {
  return folder + "/" + name + ".so";
}

void* loadLibrary(const std::string& path) {
  return ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* findSymbol(void* library, const char* name) {
  if (library == nullptr) return nullptr;
  return ::dlsym(library, name);
}

void freeLibrary(void* library) {
  if (library != nullptr) ::dlclose(library);
}

std::string lastLibraryError() {
  const char* e = ::dlerror();
  return e ? e : "";
}

void setUserDefaultLocale() { std::setlocale(LC_ALL, ""); }

namespace sys {

int openFile(const std::string& path, OpenMode mode) {
  const int flags = mode == OpenMode::kReplace  ? O_WRONLY | O_CREAT | O_TRUNC
                    : mode == OpenMode::kAppend ? O_WRONLY | O_CREAT | O_APPEND
                                                : O_RDWR | O_CREAT;
  return ::open(path.c_str(), flags | O_CLOEXEC, 0644);
}

void closeFile(int fd) { ::close(fd); }

void removeFile(const std::string& path) { ::unlink(path.c_str()); }

bool writeAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool flushToDisk(int fd) { return ::fdatasync(fd) == 0; }

bool cutTo(int fd, uint64_t size) { return ::ftruncate(fd, static_cast<off_t>(size)) == 0; }

bool sizeOf(int fd, uint64_t* size) {
  struct stat st{};
  if (::fstat(fd, &st) != 0) return false;
  *size = static_cast<uint64_t>(st.st_size);
  return true;
}

bool renameOver(const std::string& from, const std::string& to, std::string* why) {
  if (::rename(from.c_str(), to.c_str()) != 0) {
    *why = std::strerror(errno);
    return false;
  }
  syncFolderOf(to);
  return true;
}

void syncFolderOf(const std::string& path) {
  std::string dir = ".";
  auto slash = path.find_last_of('/');
  if (slash != std::string::npos) dir = slash == 0 ? "/" : path.substr(0, slash);
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

LockResult lockWithoutWaiting(int fd) {
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return LockResult::kLocked;
  return errno == EWOULDBLOCK ? LockResult::kBusy : LockResult::kFailed;
}

}  // namespace sys

SocketLibrary::SocketLibrary() : started_(true) {}
SocketLibrary::~SocketLibrary() = default;

int readKeyNoEcho() {
  unsigned char c = 0;
  if (::isatty(STDIN_FILENO)) {
    struct termios old{};
    if (::tcgetattr(STDIN_FILENO, &old) == 0) {
      struct termios raw = old;
      raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
      raw.c_cc[VMIN] = 1;
      raw.c_cc[VTIME] = 0;
      ::tcsetattr(STDIN_FILENO, TCSANOW, &raw);
      ssize_t n = ::read(STDIN_FILENO, &c, 1);
      ::tcsetattr(STDIN_FILENO, TCSANOW, &old);
      return n == 1 ? c : -1;
    }
  }
  // Not a terminal: read through the same buffered stream as the prompt,
  // so input the prompt has already buffered is not skipped.
  int k = std::fgetc(stdin);
  return k == EOF ? -1 : k;
}

namespace {
sigset_t terminationSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  return set;
}
}  // namespace

void blockTerminationSignals() {
  sigset_t set = terminationSignals();
  ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

int waitTerminationSignal() {
  sigset_t set = terminationSignals();
  int sig = 0;
  while (::sigwait(&set, &sig) != 0) {
  }
  return sig;
}

bool notifyServiceManager(const std::string& state) {
  return ::sd_notify(0, state.c_str()) > 0;
}

int serviceWatchdogMs() {
  uint64_t usec = 0;
  if (::sd_watchdog_enabled(0, &usec) <= 0) return 0;
  return static_cast<int>(std::min<uint64_t>(usec / 1000, 24ull * 3600 * 1000));
}

void exitNow(int status) {
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(status);
}

}  // namespace platform
