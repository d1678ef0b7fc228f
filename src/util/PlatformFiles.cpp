// Durable files, the same on every system, on the primitives each system
// defines (PlatformFiles.h).
#include <cerrno>
#include <cstring>

#include "util/Platform.h"
#include "util/PlatformFiles.h"

namespace platform {

namespace {

std::string failure(const char* step, const std::string& path) {
  return std::string(step) + " " + path + ": " + std::strerror(errno);
}

}  // namespace

bool replaceFileDurably(const std::string& path, const std::string& data,
                        std::string* error) {
  const std::string temp = path + ".tmp";
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    sys::removeFile(temp);
    return false;
  };
  const int fd = sys::openFile(temp, sys::OpenMode::kReplace);
  if (fd < 0) return fail(failure("open", temp));
  const char* step = !sys::writeAll(fd, data) ? "write" : !sys::flushToDisk(fd) ? "fsync" : nullptr;
  if (step != nullptr) {
    const int saved = errno;
    sys::closeFile(fd);
    errno = saved;
    return fail(failure(step, temp));
  }
  sys::closeFile(fd);
  std::string why;
  if (!sys::renameOver(temp, path, &why)) return fail("rename " + temp + ": " + why);
  return true;
}

AppendFile::~AppendFile() { close(); }

bool AppendFile::open(const std::string& path, uint64_t keepBytes, std::string* error) {
  close();
  const int fd = sys::openFile(path, sys::OpenMode::kAppend);
  uint64_t size = 0;
  if (fd < 0 || !sys::sizeOf(fd, &size)) {
    if (error) *error = failure("open", path);
    if (fd >= 0) sys::closeFile(fd);
    return false;
  }
  const bool created = size == 0;
  if (size > keepBytes) {
    if (!sys::cutTo(fd, keepBytes) || !sys::flushToDisk(fd)) {
      if (error) *error = failure("truncate", path);
      sys::closeFile(fd);
      return false;
    }
    size = keepBytes;
  }
  // A new file's name must survive a crash too.
  if (created) sys::syncFolderOf(path);
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
  if (cutPending_ && sys::cutTo(fd_, size_)) cutPending_ = false;
  const int fault = appendFault(path_);
  if (fault != 0) errno = fault;
  const bool ok = fault == 0 && !cutPending_ && sys::writeAll(fd_, data) && sys::flushToDisk(fd_);
  if (!ok) {
    if (error) *error = std::string("append: ") + std::strerror(errno);
    cutPending_ = cutPending_ || !sys::cutTo(fd_, size_);
    return false;
  }
  size_ += data.size();
  return true;
}

void AppendFile::close() {
  if (fd_ >= 0) sys::closeFile(fd_);
  fd_ = -1;
  size_ = 0;
  cutPending_ = false;
  path_.clear();
}

FileLock::~FileLock() { release(); }

bool FileLock::acquire(const std::string& path, std::string* error) {
  release();
  const int fd = sys::openFile(path, sys::OpenMode::kReadWrite);
  if (fd < 0) {
    if (error) *error = failure("open", path);
    return false;
  }
  const sys::LockResult locked = sys::lockWithoutWaiting(fd);
  if (locked != sys::LockResult::kLocked) {
    if (error) {
      *error = locked == sys::LockResult::kBusy ? path + " is locked by another process"
                                                : failure("lock", path);
    }
    sys::closeFile(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

void FileLock::release() {
  if (fd_ >= 0) sys::closeFile(fd_);
  fd_ = -1;
}

}  // namespace platform
