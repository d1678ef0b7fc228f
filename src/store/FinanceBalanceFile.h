// The balance-history file's content: a JSON array with one object per
// record, in key order, each holding all six keys ("amount", "comment",
// "isHandle", "login", "order", "serial"), and "cmd" and "requested" each
// when it is not 0 (a record that knows its request), all in ascending
// order of key, the whole array on one line followed by one line feed. No
// records: the empty text. A reader of the six keys alone reads every
// record as before.
//
// Its journal (the changes since the file was written): one record object
// per line, each followed by a line feed, in the order of the changes.
#ifndef MT4BRIDGE_STORE_FINANCE_BALANCE_FILE_H_
#define MT4BRIDGE_STORE_FINANCE_BALANCE_FILE_H_

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "store/FinanceBalance.h"

namespace store {

using FinanceBalanceMap = std::map<HistoryKey, FinanceBalance>;

// Writes the records as the file holds them. Byte for byte what the JSON
// library's compact writer gives (texts escaped as \uXXXX beyond ASCII),
// except for a text that is not valid UTF-8: its bytes are written as they
// are (the library would replace them), so that it reads back unchanged and
// the record keeps its key across a restart; and an infinite amount, which
// is written as the largest finite number of its sign so that the file
// still loads (not a number is written as null, read back as 0).
std::string encodeFinanceBalanceHistory(const std::vector<FinanceBalance>& records);

// One record's object, as the file and the journal hold it, appended to
// *out (no line feed).
void appendFinanceBalanceRecord(std::string* out, const FinanceBalance& record);

// Reads the file's text into *out (replacing its contents). The empty text
// gives no records. Returns 1, or -1 (with *out empty) when the text is not
// a JSON array, an element is not an object, or a value cannot be converted
// by the JSON library (an object or array where a text or number belongs, a
// text where a number belongs, a number out of the 32-bit range). A missing
// key reads as empty or 0 ("cmd" and "requested" included); of two elements
// with the same key the later wins.
// Well-formed files are read by a fast reader (FastHistoryReader.h), any
// other text by the JSON library, with the same result.
int decodeFinanceBalanceHistory(const std::string& text, FinanceBalanceMap* out);

// Applies the journal's records, in order, each under its key replacing
// any, to *records. The last line may be cut or unreadable (a crash while
// it was written): it is skipped, and *keptBytes is the length of the text
// before it (the whole text otherwise). Returns 1, or -1 when a line
// before the last does not read as a record (then *records holds the
// lines before it).
int replayFinanceBalanceJournal(std::string_view text, FinanceBalanceMap* records,
                                size_t* keptBytes);

}  // namespace store

#endif  // MT4BRIDGE_STORE_FINANCE_BALANCE_FILE_H_
