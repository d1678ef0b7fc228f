// The operator's console: printf-style writers to standard output. Writers
// are serialised, so lines printed by several threads never interleave
// inside one call.
#ifndef MT4BRIDGE_UTIL_CONSOLE_H_
#define MT4BRIDGE_UTIL_CONSOLE_H_

#include <cstdarg>
#include <string>

namespace util {

// Writes the formatted text to standard output and flushes it. Returns the
// number of characters written.
int consolePrint(const char* format, ...) __attribute__((format(printf, 1, 2)));
int consoleVPrint(const char* format, va_list args);

// Wide variant: the text is formatted wide and written converted to the
// process locale's multibyte text (standard output stays byte-oriented).
// Returns the number of wide characters formatted.
int consoleWPrint(const wchar_t* format, ...);

// Writes text as it is (no formatting).
void consoleWrite(const std::string& text);

// Formats into a string, printf-style.
std::string formatText(const char* format, va_list args);
std::string formatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace util

#endif  // MT4BRIDGE_UTIL_CONSOLE_H_
