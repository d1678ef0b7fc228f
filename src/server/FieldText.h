// Fixed-width text fields of the manager interface's structures.
#ifndef MT4BRIDGE_SERVER_FIELD_TEXT_H_
#define MT4BRIDGE_SERVER_FIELD_TEXT_H_

#include <cstring>
#include <string>

namespace mt {

// Copies text into a field of N bytes, cut to fit. A text shorter than the
// field is zero-terminated (the rest zero-filled); a text of N bytes or more
// fills the field with its first N bytes and no terminator.
template <size_t N>
void setField(char (&field)[N], const std::string& text) {
  std::memset(field, 0, N);
  std::memcpy(field, text.data(), text.size() < N ? text.size() : N);
}

// Like setField, but always leaves room for a terminator (N - 1 bytes).
template <size_t N>
void setFieldTerminated(char (&field)[N], const std::string& text) {
  std::memset(field, 0, N);
  std::memcpy(field, text.data(), text.size() < N - 1 ? text.size() : N - 1);
}

// The text a field of N bytes holds after setFieldTerminated(field, text):
// its first N - 1 bytes. Compare with this what the server returns of a text
// it was given.
template <size_t N>
std::string terminatedFieldText(const char (&)[N], const std::string& text) {
  return text.substr(0, N - 1);
}

// The text of a field up to its terminator, never reading past the field.
template <size_t N>
std::string fieldText(const char (&field)[N]) {
  size_t len = 0;
  while (len < N && field[len] != '\0') ++len;
  return std::string(field, len);
}

}  // namespace mt

#endif  // MT4BRIDGE_SERVER_FIELD_TEXT_H_
