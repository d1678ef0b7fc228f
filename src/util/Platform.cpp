#include "util/Platform.h"

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

bool syncFile(int fd) { return ::fsync(fd) == 0; }

bool renameReplace(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0;
}

bool syncDirectoryOf(const std::string& path) {
  std::string dir = ".";
  auto slash = path.find_last_of('/');
  if (slash != std::string::npos) dir = slash == 0 ? "/" : path.substr(0, slash);
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return false;
  bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

namespace {

// Writes all of data to fd, retrying short writes; false on an error.
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

}  // namespace

bool replaceFileDurably(const std::string& path, const std::string& data,
                        std::string* error) {
  const std::string temp = path + ".tmp";
  auto fail = [&](const char* step) {
    if (error) *error = std::string(step) + " " + temp + ": " + std::strerror(errno);
    ::unlink(temp.c_str());
    return false;
  };
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return fail("open");
  const char* step = !writeAll(fd, data) ? "write" : ::fsync(fd) != 0 ? "fsync" : nullptr;
  if (step != nullptr) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return fail(step);
  }
  if (::close(fd) != 0) return fail("close");
  if (::rename(temp.c_str(), path.c_str()) != 0) return fail("rename");
  syncDirectoryOf(path);
  return true;
}

AppendFile::~AppendFile() { close(); }

bool AppendFile::open(const std::string& path, uint64_t keepBytes, std::string* error) {
  close();
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  struct stat st{};
  if (fd < 0 || ::fstat(fd, &st) != 0) {
    if (error) *error = "open " + path + ": " + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return false;
  }
  uint64_t size = static_cast<uint64_t>(st.st_size);
  if (size > keepBytes) {
    if (::ftruncate(fd, static_cast<off_t>(keepBytes)) != 0 || ::fsync(fd) != 0) {
      if (error) *error = "truncate " + path + ": " + std::strerror(errno);
      ::close(fd);
      return false;
    }
    size = keepBytes;
  }
  // A new file's name must survive a crash too.
  if (st.st_size == 0) syncDirectoryOf(path);
  fd_ = fd;
  size_ = size;
  path_ = path;
  return true;
}

bool AppendFile::append(const std::string& data, std::string* error) {
  if (fd_ < 0) {
    if (error) *error = "append: the file is not open";
    return false;
  }
  // After a failed append a partial write may stand at the end: it is cut
  // back before anything else is written, so that nothing joins it.
  if (cutPending_ && ::ftruncate(fd_, static_cast<off_t>(size_)) == 0) cutPending_ = false;
  const int fault = appendFault(path_);
  if (fault != 0) errno = fault;
  const bool ok = fault == 0 && !cutPending_ && writeAll(fd_, data) && ::fdatasync(fd_) == 0;
  if (!ok) {
    if (error) *error = std::string("append: ") + std::strerror(errno);
    cutPending_ = cutPending_ || ::ftruncate(fd_, static_cast<off_t>(size_)) != 0;
    return false;
  }
  size_ += data.size();
  return true;
}

void AppendFile::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  size_ = 0;
  cutPending_ = false;
  path_.clear();
}

FileLock::~FileLock() { release(); }

bool FileLock::acquire(const std::string& path, std::string* error) {
  release();
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (error) *error = "open " + path + ": " + std::strerror(errno);
    return false;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (error) {
      *error = errno == EWOULDBLOCK ? path + " is locked by another process"
                                    : "lock " + path + ": " + std::strerror(errno);
    }
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

void FileLock::release() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

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

void exitNow(int status) {
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(status);
}

}  // namespace platform
