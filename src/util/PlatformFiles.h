// The file primitives under the platform layer's durable files
// (PlatformFiles.cpp: replaceFileDurably, AppendFile, FileLock). Each
// system defines them in its own Platform*.cpp; nothing outside the
// platform layer includes this header.
//
// Descriptors are the C runtime's (open/_open). A failing call returns
// false or -1 with errno set, unless it says otherwise.
#ifndef MT4BRIDGE_UTIL_PLATFORM_FILES_H_
#define MT4BRIDGE_UTIL_PLATFORM_FILES_H_

#include <cstdint>
#include <string>

namespace platform::sys {

enum class OpenMode {
  kReplace,    // write only, created or emptied
  kAppend,     // write only at the end, created when missing
  kReadWrite,  // created when missing, content kept
};
int openFile(const std::string& path, OpenMode mode);
void closeFile(int fd);
void removeFile(const std::string& path);

// Writes all of data, retrying short writes.
bool writeAll(int fd, const std::string& data);
// Flushes what was written to fd to the disk.
bool flushToDisk(int fd);
// Cuts the file to size bytes.
bool cutTo(int fd, uint64_t size);
bool sizeOf(int fd, uint64_t* size);

// Renames from over to, replacing it atomically, and makes the rename
// durable. On failure *why tells why.
bool renameOver(const std::string& from, const std::string& to, std::string* why);
// Makes a file's new name durable (flushes its folder); nothing to do where
// the file system journals names.
void syncFolderOf(const std::string& path);

enum class LockResult { kLocked, kBusy, kFailed };
// Takes an exclusive advisory lock on fd without waiting.
LockResult lockWithoutWaiting(int fd);

}  // namespace platform::sys

#endif  // MT4BRIDGE_UTIL_PLATFORM_FILES_H_
