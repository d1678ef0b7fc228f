#include "util/TextConvert.h"

#include <climits>
#include <cwchar>

#include "util/Console.h"

namespace util {
namespace {

// Decodes one UTF-8 text strictly; false on any malformed sequence.
bool decodeUtf8(const std::string& in, std::wstring* out) {
  const auto* p = reinterpret_cast<const unsigned char*>(in.data());
  const size_t n = in.size();
  size_t i = 0;
  while (i < n) {
    unsigned char c = p[i];
    char32_t cp;
    size_t len;
    if (c < 0x80) {
      cp = c;
      len = 1;
    } else if (c >= 0xC2 && c <= 0xDF) {
      cp = c & 0x1F;
      len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      cp = c & 0x0F;
      len = 3;
    } else if (c >= 0xF0 && c <= 0xF4) {
      cp = c & 0x07;
      len = 4;
    } else {
      return false;
    }
    if (i + len > n) return false;
    for (size_t k = 1; k < len; ++k) {
      unsigned char cc = p[i + k];
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    if ((len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) ||
        cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      return false;
    }
    if (cp == 0x00A0) cp = 0x0020;
    if (cp == 0x0456) cp = 0x0069;
    out->push_back(static_cast<wchar_t>(cp));
    i += len;
  }
  return true;
}

}  // namespace

std::wstring UTF8ToUnicode(const std::string& utf8) {
  std::wstring out;
  if (utf8.empty()) return out;
  out.reserve(utf8.size());
  if (!decodeUtf8(utf8, &out)) {
    consoleWPrint(L"UTF8ToUnicode Exception\n");
    return std::wstring();
  }
  return out;
}

std::string WstringToString(const std::wstring& wide) {
  std::string out;
  if (wide.empty()) return out;
  out.reserve(wide.size() * 4);
  std::mbstate_t state{};
  char bytes[MB_LEN_MAX];
  for (wchar_t w : wide) {
    if (w == L'\0') break;  // the text ends at its terminator
    size_t k = std::wcrtomb(bytes, w, &state);
    if (k == static_cast<size_t>(-1)) {
      out.push_back('?');
      state = std::mbstate_t{};
    } else {
      out.append(bytes, k);
    }
  }
  return out;
}

std::wstring stringToLPCWSTR(const std::string& text) {
  std::wstring out;
  if (text.empty()) return out;
  std::mbstate_t state{};
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    wchar_t w;
    size_t k = std::mbrtowc(&w, p, left, &state);
    if (k == static_cast<size_t>(-1) || k == static_cast<size_t>(-2)) {
      out.push_back(L'?');
      state = std::mbstate_t{};
      ++p;
      --left;
      continue;
    }
    if (k == 0) break;  // an embedded terminator ends the text
    out.push_back(w);
    p += k;
    left -= k;
  }
  return out;
}

std::string toServerText(const std::string& utf8) {
  return WstringToString(UTF8ToUnicode(utf8));
}

}  // namespace util
