// The few operating-system calls the service makes, kept in one place:
// Platform.cpp for Linux (POSIX), PlatformWindows.cpp for Windows. Nothing
// else in the service needs to know which system it runs on.
#ifndef MT4BRIDGE_UTIL_PLATFORM_H_
#define MT4BRIDGE_UTIL_PLATFORM_H_

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

namespace platform {

// Breaks t into local calendar time. Thread-safe.
std::tm localTime(std::time_t t);

// True when path names an existing directory.
bool directoryExists(const std::string& path);

// Creates one directory level; true when it exists afterwards.
bool makeDirectory(const std::string& path);

// Sleeps the calling thread. Only the pause function calls it.
void sleepMilliseconds(int ms);

// Dynamic libraries. A handle is opaque; null means failure.
// libraryPath("../libs", "mtmanapi") is "../libs/mtmanapi.so" on Linux and
// "..\\libs\\mtmanapi.dll" on Windows.
std::string libraryPath(const std::string& folder, const std::string& name);
void* loadLibrary(const std::string& path);
void* findSymbol(void* library, const char* name);
void freeLibrary(void* library);
// Text of the last loadLibrary/findSymbol failure.
std::string lastLibraryError();

// Sets the process locale (all categories) to the user's default. Called
// once at start-up, before any thread is started.
void setUserDefaultLocale();

// Replaces the file at path with data so that a crash at any moment leaves
// either the previous file or the new one, whole: writes path + ".tmp",
// flushes it to disk, renames it over path and flushes the folder. Returns
// false on failure, with the previous file untouched and *error (when not
// null) telling why.
bool replaceFileDurably(const std::string& path, const std::string& data,
                        std::string* error);

// The test seam of AppendFile::append (PlatformHooks.cpp): when a hook is
// set it is asked before every append with the file's path, and a nonzero
// errno value it returns fails that append as the system would, with
// nothing written. An empty hook (the default) fails nothing. Returns the
// previous hook. Not meant to be changed while other threads append.
using AppendFaultHook = std::function<int(const std::string& path)>;
AppendFaultHook setAppendFaultHook(AppendFaultHook hook);
// The hook's answer for path; 0 without a hook.
int appendFault(const std::string& path);

// A file written only at its end, each append on disk before it returns.
// Not thread-safe: its owner serialises the calls.
class AppendFile {
 public:
  AppendFile() = default;
  ~AppendFile();
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;

  // Opens path for appending (created when missing) and cuts it to
  // keepBytes when longer. False, with the file closed and *error told
  // why, on failure.
  bool open(const std::string& path, uint64_t keepBytes, std::string* error);
  // Writes data at the end and flushes it to disk. On failure the file is
  // cut back to its previous length (or, when even that fails, before the
  // next append writes anything) and false returned with *error told why.
  bool append(const std::string& data, std::string* error);
  void close();

  bool isOpen() const { return fd_ >= 0; }
  // Bytes in the file, as this object knows them.
  uint64_t size() const { return size_; }

 private:
  int fd_ = -1;
  uint64_t size_ = 0;
  bool cutPending_ = false;  // bytes past size_ to cut before writing
  std::string path_;
};

// An advisory lock on a file (created when missing), held until release()
// or the end of the process: one holder at a time, other processes that
// ask are refused at once. The file's content is not touched.
class FileLock {
 public:
  FileLock() = default;
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // False, with *error told why, when another process holds the lock or
  // the file cannot be opened.
  bool acquire(const std::string& path, std::string* error);
  void release();

 private:
  int fd_ = -1;
};

// Holds the system's sockets library started for its lifetime: Winsock 2.2
// (WSAStartup, then WSACleanup) on Windows, nothing on Linux. Each manager
// link holds one, since the manager library's sockets need it.
class SocketLibrary {
 public:
  SocketLibrary();
  ~SocketLibrary();
  SocketLibrary(const SocketLibrary&) = delete;
  SocketLibrary& operator=(const SocketLibrary&) = delete;

  bool started() const { return started_; }

 private:
  bool started_ = false;
};

// Console input. readKeyNoEcho reads one key without echo and without
// waiting for Enter when standard input is a terminal or console (otherwise
// the next byte of the stdin stream); returns -1 at end of input.
int readKeyNoEcho();

// Termination signals (SIGTERM, SIGINT; on Windows Ctrl-C, Ctrl-Break and
// the console's close, reported as SIGINT, SIGBREAK and SIGTERM).
// blockTerminationSignals is called by the main thread before any other
// thread starts, so every thread inherits the block (on Windows it installs
// the console's control handler); waitTerminationSignal then blocks its
// caller until one arrives and returns its number.
void blockTerminationSignals();
int waitTerminationSignal();

// The service manager (systemd's sd_notify on Linux; none on Windows).
// notifyServiceManager sends state ("READY=1", "STATUS=...", "WATCHDOG=1",
// "STOPPING=1") when the process was started with NOTIFY_SOCKET; false when
// it was not, or the message could not be sent. serviceWatchdogMs is the
// watchdog interval the unit asks for, 0 when it asks for none.
bool notifyServiceManager(const std::string& state);
int serviceWatchdogMs();

// Ends the process at once with status, without running destructors.
[[noreturn]] void exitNow(int status);

}  // namespace platform

#endif  // MT4BRIDGE_UTIL_PLATFORM_H_
