// The daily log file: ../log/mt4/log-YYYY-MM-DD.log (relative to the working
// directory). Each entry is the local time stamp "YYYY-MM-DD hh:mm:ss "
// followed by the message as formatted; nothing is appended. The file is
// opened, appended, flushed and closed for every entry; entries from several
// threads are serialised and never interleave.
//
// With a retention of N days (setLogRetentionDays), the first entry of each
// day removes the daily files of the log directory dated more than N days
// before that day; other files are left alone.
#ifndef MT4BRIDGE_UTIL_LOG_H_
#define MT4BRIDGE_UTIL_LOG_H_

#include <cstdarg>
#include <ctime>
#include <functional>
#include <string>

namespace util {

// Appends one entry. Returns the number of characters of the message (the
// stamp not counted). A file that cannot be opened loses the entry quietly.
int writeLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
int writeLogV(const char* format, va_list args);

// Prints the formatted text on the console, then writes it to the log.
void printAndLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The log file path for a local date, e.g. ../log/mt4/log-2026-12-08.log.
std::string logFilePath(const std::tm& local);

// Daily files dated more than days before the day of an entry are removed
// when that day's first entry is written (and at the next entry after this
// call); 0 (the default) keeps every file. Negative counts as 0.
void setLogRetentionDays(int days);

// Test hooks: the clock read once per entry, and the log directory (its
// parent must exist; the directory itself is created when missing).
using LogClock = std::function<std::time_t()>;
void setLogClock(LogClock clock);  // empty = the system clock
void setLogDirectory(const std::string& directory);  // default ../log/mt4

}  // namespace util

#endif  // MT4BRIDGE_UTIL_LOG_H_
