// The operator's side of the console: the "pause" after a failed start, the
// exit prompt and the key press that ends the service.
#ifndef MT4BRIDGE_APP_CONSOLE_INPUT_H_
#define MT4BRIDGE_APP_CONSOLE_INPUT_H_

#include <cstdio>

namespace app {

// Prints "Press any key to continue . . . " and waits for one key; returns
// at once at end of input.
void pauseConsole();

// Repeats the prompt "is exit(0 or 1): " until the operator's answer reads
// as exactly 1 (the number is taken from the token's leading digits: "1",
// "01" and "1x" are 1; "yes" is 0). Returns true then; false when input
// ends first. Reads from in (standard input in the service).
bool askExit(std::FILE* in);

// The number an answer token reads as: its leading decimal digits as an
// unsigned 64-bit value (wrapping past the top), 0 without digits.
unsigned long long answerValue(const char* token);

// Prints "Press any key to stop..." and waits for one key (or end of
// input), then prints "\n".
void waitKeyToStop();

}  // namespace app

#endif  // MT4BRIDGE_APP_CONSOLE_INPUT_H_
