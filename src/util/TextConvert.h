// Text conversions between the UTF-8 of the JSON messages, wide text and the
// single-byte text of the process locale that the trading server stores.
// The process locale is set once at start-up (platform::setUserDefaultLocale);
// these functions never change it.
#ifndef MT4BRIDGE_UTIL_TEXT_CONVERT_H_
#define MT4BRIDGE_UTIL_TEXT_CONVERT_H_

#include <string>

namespace util {

// Decodes UTF-8. U+00A0 becomes a space and U+0456 a Latin i. Malformed
// input (bad sequences, overlong forms, surrogates, beyond U+10FFFF) prints
// "UTF8ToUnicode Exception\n" on the console and gives the empty text.
std::wstring UTF8ToUnicode(const std::string& utf8);

// Converts wide text to the multibyte text of the process locale. A
// character the locale cannot represent becomes '?'.
std::string WstringToString(const std::wstring& wide);

// Widens a locale text (the configuration's server address for the wide
// console). Undecodable bytes become '?'.
std::wstring stringToLPCWSTR(const std::string& text);

// UTF8ToUnicode followed by WstringToString: a request's UTF-8 text as the
// server's single-byte text.
std::string toServerText(const std::string& utf8);

}  // namespace util

#endif  // MT4BRIDGE_UTIL_TEXT_CONVERT_H_
