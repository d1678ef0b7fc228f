// Hides secrets in texts that are printed or logged.
#ifndef MT4BRIDGE_UTIL_MASK_H_
#define MT4BRIDGE_UTIL_MASK_H_

#include <string>

namespace util {

// The mask printed in place of a secret.
constexpr const char* kSecretMask = "***";

// Returns text with the value of every "password", "masterPass",
// "investorPass" and "newPass" member replaced by "***", at any depth.
// Works on any text: malformed JSON is masked as far as it can be scanned
// and otherwise passed through. Keys written with escapes are recognised.
std::string maskSecrets(const std::string& text);

// The mask for a configured secret (never the secret's length).
inline std::string maskedPassword(const std::string&) { return kSecretMask; }

}  // namespace util

#endif  // MT4BRIDGE_UTIL_MASK_H_
