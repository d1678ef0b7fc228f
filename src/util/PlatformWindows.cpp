// The operating-system calls on Windows (Platform.h, PlatformFiles.h),
// built instead of Platform.cpp by the Windows build.
#include <winsock2.h>
#include <windows.h>

#include <conio.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "util/Platform.h"
#include "util/PlatformFiles.h"

namespace platform {

namespace {

// The system's text for an error code, without its line end.
std::string systemErrorText(DWORD code) {
  char* text = nullptr;
  const DWORD n = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string out = n > 0 && text != nullptr ? std::string(text, n)
                                             : "error " + std::to_string(code);
  if (text != nullptr) ::LocalFree(text);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ')) {
    out.pop_back();
  }
  return out;
}

std::atomic<DWORD> lastLibraryFailure{0};

}  // namespace

std::tm localTime(std::time_t t) {
  std::tm out{};
  ::localtime_s(&out, &t);
  return out;
}

bool directoryExists(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool makeDirectory(const std::string& path) {
  return ::CreateDirectoryA(path.c_str(), nullptr) != 0 || directoryExists(path);
}

void sleepMilliseconds(int ms) {
  if (ms > 0) ::Sleep(static_cast<DWORD>(ms));
}

std::string libraryPath(const std::string& folder, const std::string& name) {
  std::string path = folder + "\\" + name + ".dll";
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

void* loadLibrary(const std::string& path) {
  HMODULE module = ::LoadLibraryA(path.c_str());
  if (module == nullptr) lastLibraryFailure = ::GetLastError();
  return reinterpret_cast<void*>(module);
}

void* findSymbol(void* library, const char* name) {
  if (library == nullptr) return nullptr;
  FARPROC symbol = ::GetProcAddress(reinterpret_cast<HMODULE>(library), name);
  if (symbol == nullptr) lastLibraryFailure = ::GetLastError();
  return reinterpret_cast<void*>(symbol);
}

void freeLibrary(void* library) {
  if (library != nullptr) ::FreeLibrary(reinterpret_cast<HMODULE>(library));
}

std::string lastLibraryError() {
  const DWORD code = lastLibraryFailure.exchange(0);
  return code == 0 ? "" : systemErrorText(code);
}

void setUserDefaultLocale() { std::setlocale(LC_ALL, ""); }

namespace sys {

int openFile(const std::string& path, OpenMode mode) {
  const int flags = mode == OpenMode::kReplace  ? _O_WRONLY | _O_CREAT | _O_TRUNC
                    : mode == OpenMode::kAppend ? _O_WRONLY | _O_CREAT | _O_APPEND
                                                : _O_RDWR | _O_CREAT;
  return ::_open(path.c_str(), flags | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
}

void closeFile(int fd) { ::_close(fd); }

void removeFile(const std::string& path) { ::_unlink(path.c_str()); }

bool writeAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    const size_t chunk = std::min<size_t>(data.size() - done, 1u << 30);
    const int n = ::_write(fd, data.data() + done, static_cast<unsigned>(chunk));
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool flushToDisk(int fd) { return ::_commit(fd) == 0; }

bool cutTo(int fd, uint64_t size) {
  const errno_t e = ::_chsize_s(fd, static_cast<__int64>(size));
  if (e != 0) errno = e;
  return e == 0;
}

bool sizeOf(int fd, uint64_t* size) {
  struct _stati64 st{};
  if (::_fstati64(fd, &st) != 0) return false;
  *size = static_cast<uint64_t>(st.st_size);
  return true;
}

bool renameOver(const std::string& from, const std::string& to, std::string* why) {
  // Write-through: the call returns once the rename is on disk.
  if (::MoveFileExA(from.c_str(), to.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0) {
    return true;
  }
  *why = systemErrorText(::GetLastError());
  return false;
}

// NTFS journals a new file's name itself.
void syncFolderOf(const std::string&) {}

LockResult lockWithoutWaiting(int fd) {
  HANDLE file = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
  OVERLAPPED whole{};
  if (::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD,
                   MAXDWORD, &whole) != 0) {
    return LockResult::kLocked;
  }
  const DWORD code = ::GetLastError();
  if (code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING) return LockResult::kBusy;
  errno = EACCES;
  return LockResult::kFailed;
}

}  // namespace sys

SocketLibrary::SocketLibrary() {
  WSADATA data{};
  started_ = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

SocketLibrary::~SocketLibrary() {
  if (started_) ::WSACleanup();
}

int readKeyNoEcho() {
  DWORD mode = 0;
  if (::GetConsoleMode(::GetStdHandle(STD_INPUT_HANDLE), &mode) != 0) {
    // A console: one key, without echo and without Enter.
    return ::_getch();
  }
  // Standard input is a pipe or a file: read through the same buffered
  // stream as the prompt, so input the prompt has already buffered is not
  // skipped, and end of input ends the wait.
  const int k = std::fgetc(stdin);
  return k == EOF ? -1 : k;
}

namespace {

// Set by the console's control handler, waited on by waitTerminationSignal.
HANDLE stopEvent = nullptr;
std::atomic<int> stopSignal{0};

BOOL WINAPI onConsoleControl(DWORD type) {
  int signal = 0;
  switch (type) {
    case CTRL_C_EVENT:
      signal = SIGINT;
      break;
    case CTRL_BREAK_EVENT:
      signal = SIGBREAK;
      break;
    case CTRL_CLOSE_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      signal = SIGTERM;
      break;
    default:
      return FALSE;
  }
  int none = 0;
  stopSignal.compare_exchange_strong(none, signal);
  ::SetEvent(stopEvent);
  // The system ends the process as soon as a close or shutdown handler
  // returns: wait here for the clean stop to end it first (the system
  // allows a few seconds).
  if (signal == SIGTERM) ::Sleep(INFINITE);
  return TRUE;
}

}  // namespace

void blockTerminationSignals() {
  stopEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ::SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

int waitTerminationSignal() {
  ::WaitForSingleObject(stopEvent, INFINITE);
  return stopSignal.load();
}

// A Windows program is not run by systemd.
bool notifyServiceManager(const std::string&) { return false; }
int serviceWatchdogMs() { return 0; }

void exitNow(int status) {
  std::fflush(stdout);
  std::fflush(stderr);
  // Ends every thread at once, without the libraries' detach routines:
  // the manager library's threads may hold its locks.
  ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(status));
  std::_Exit(status);
}

}  // namespace platform
