#include "app/ConsoleInput.h"

#include <cctype>
#include <string>

#include "util/Console.h"
#include "util/Platform.h"

namespace app {
namespace {

constexpr size_t kMaxAnswer = 255;

// Reads one blank-delimited token of at most kMaxAnswer characters; false
// at end of input.
bool readToken(std::FILE* in, std::string* token) {
  token->clear();
  int c;
  do {
    c = std::fgetc(in);
  } while (c != EOF && std::isspace(c));
  if (c == EOF) return false;
  while (c != EOF && !std::isspace(c)) {
    token->push_back(static_cast<char>(c));
    if (token->size() == kMaxAnswer) break;
    c = std::fgetc(in);
  }
  return true;
}

}  // namespace

void pauseConsole() {
  util::consolePrint("Press any key to continue . . . ");
  platform::readKeyNoEcho();
  util::consolePrint("\n");
}

unsigned long long answerValue(const char* token) {
  unsigned long long value = 0;
  for (const char* p = token; std::isdigit(static_cast<unsigned char>(*p)); ++p) {
    value = value * 10 + static_cast<unsigned long long>(*p - '0');
  }
  return value;
}

bool askExit(std::FILE* in) {
  std::string token;
  for (;;) {
    util::consoleWPrint(L"is exit(0 or 1): ");
    if (!readToken(in, &token)) return false;
    if (answerValue(token.c_str()) == 1) return true;
  }
}

void waitKeyToStop() {
  util::consolePrint("Press any key to stop...");
  platform::readKeyNoEcho();
  util::consolePrint("\n");
}

}  // namespace app
