// A fast reader of the balance-history texts in the form this service
// writes them (FinanceBalanceFile.h): a JSON array of record objects, or one
// record object (a journal line).
//
// It only accepts what it reads exactly as the JSON library's reader and
// conversions would: well-formed JSON without comments, nested no deeper
// than 64 levels, texts under "serial" and "comment", numbers under
// "amount" and "requested", whole numbers in the 32-bit range under
// "login", "isHandle", "order" and "cmd" (any key may be missing; of a key
// given twice the later counts; other keys are skipped). On anything else
// it answers false, and the caller reads the text with the JSON library,
// whose rules decide.
#ifndef MT4BRIDGE_STORE_FAST_HISTORY_READER_H_
#define MT4BRIDGE_STORE_FAST_HISTORY_READER_H_

#include <memory>
#include <string_view>
#include <vector>

#include "store/FinanceBalance.h"

namespace store {

class FastHistoryReader {
 public:
  FastHistoryReader();
  ~FastHistoryReader();
  FastHistoryReader(const FastHistoryReader&) = delete;
  FastHistoryReader& operator=(const FastHistoryReader&) = delete;

  // A JSON array of record objects: appends its records, in order, to
  // *out. False when the text is not one it accepts (*out then holds an
  // unspecified part of them).
  bool readArray(std::string_view text, std::vector<FinanceBalance>* out);

  // One record object into *out (every field set). False when the text
  // is not one it accepts.
  bool readRecord(std::string_view text, FinanceBalance* out);

 private:
  class Parser;  // the JSON library's parser, with buffers kept between calls
  std::unique_ptr<Parser> parser_;
};

}  // namespace store

#endif  // MT4BRIDGE_STORE_FAST_HISTORY_READER_H_
