#include "util/Mask.h"

#include <array>
#include <cstring>

namespace util {
namespace {

constexpr std::array<const char*, 4> kSecretKeys = {
    "password", "masterPass", "investorPass", "newPass"};

bool isSecretKey(const std::string& key) {
  for (const char* k : kSecretKeys) {
    if (key == k) return true;
  }
  return false;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Scans the JSON string token starting at text[pos] == '"'. Returns the
// index just past its closing quote (text.size() when unterminated) and
// stores the decoded ASCII view of its content in *decoded (non-ASCII
// escapes become '?', which never matches a secret key).
size_t scanString(const std::string& text, size_t pos, std::string* decoded) {
  size_t i = pos + 1;
  while (i < text.size()) {
    char c = text[i];
    if (c == '"') return i + 1;
    if (c == '\\' && i + 1 < text.size()) {
      char e = text[i + 1];
      if (e == 'u' && i + 5 < text.size()) {
        int v = 0;
        bool ok = true;
        for (size_t k = i + 2; k < i + 6; ++k) {
          int h = hexValue(text[k]);
          if (h < 0) ok = false;
          v = v * 16 + (h < 0 ? 0 : h);
        }
        decoded->push_back(ok && v > 0 && v < 0x80 ? static_cast<char>(v) : '?');
        i += 6;
        continue;
      }
      decoded->push_back(e);
      i += 2;
      continue;
    }
    decoded->push_back(c);
    ++i;
  }
  return text.size();
}

size_t skipSpace(const std::string& text, size_t i) {
  while (i < text.size() && std::strchr(" \t\r\n", text[i]) != nullptr &&
         text[i] != '\0') {
    ++i;
  }
  return i;
}

// Index just past a scalar value (number, true, false, null, garbage).
size_t scanScalar(const std::string& text, size_t i) {
  while (i < text.size() && std::strchr(",}] \t\r\n", text[i]) == nullptr) ++i;
  return i;
}

}  // namespace

std::string maskSecrets(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] != '"') {
      out.push_back(text[i]);
      ++i;
      continue;
    }
    std::string key;
    size_t end = scanString(text, i, &key);
    out.append(text, i, end - i);
    i = end;
    size_t colon = skipSpace(text, i);
    if (colon >= text.size() || text[colon] != ':' || !isSecretKey(key)) continue;
    size_t value = skipSpace(text, colon + 1);
    out.append(text, i, value - i);  // the colon and spaces as they were
    i = value;
    if (i >= text.size()) break;
    if (text[i] == '"') {
      std::string ignored;
      i = scanString(text, i, &ignored);
      out.append("\"").append(kSecretMask).append("\"");
    } else if (text[i] == '{' || text[i] == '[') {
      // A structured value: masked as a whole up to its matching bracket.
      int depth = 0;
      while (i < text.size()) {
        char c = text[i];
        if (c == '"') {
          std::string ignored;
          i = scanString(text, i, &ignored);
          continue;
        }
        if (c == '{' || c == '[') ++depth;
        if (c == '}' || c == ']') --depth;
        ++i;
        if (depth == 0) break;
      }
      out.append("\"").append(kSecretMask).append("\"");
    } else {
      size_t stop = scanScalar(text, i);
      if (stop == i) continue;
      i = stop;
      out.append("\"").append(kSecretMask).append("\"");
    }
  }
  return out;
}

}  // namespace util
