#include "store/FinanceBalanceFile.h"

#include <json/json.h>

#include <cmath>
#include <limits>

#include "store/FastHistoryReader.h"
#include "store/StoreFile.h"
#include "util/Json.h"

namespace store {
namespace {

void appendEscape(std::string* out, unsigned unit) {
  static const char kHex[] = "0123456789abcdef";
  out->append("\\u");
  out->push_back(kHex[(unit >> 12) & 0xf]);
  out->push_back(kHex[(unit >> 8) & 0xf]);
  out->push_back(kHex[(unit >> 4) & 0xf]);
  out->push_back(kHex[unit & 0xf]);
}

bool isContinuation(unsigned char c) { return (c & 0xc0) == 0x80; }

// Decodes one well-formed UTF-8 sequence (no overlong forms, no surrogates,
// at most U+10FFFF) starting at s[i]; returns its length, or 0 when the
// bytes there are not one.
size_t decodeUtf8(const std::string& s, size_t i, unsigned* codepoint) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  size_t length = 0;
  unsigned cp = 0;
  unsigned minimum = 0;
  if (c >= 0xc2 && c <= 0xdf) {
    length = 2; cp = c & 0x1f; minimum = 0x80;
  } else if (c >= 0xe0 && c <= 0xef) {
    length = 3; cp = c & 0x0f; minimum = 0x800;
  } else if (c >= 0xf0 && c <= 0xf4) {
    length = 4; cp = c & 0x07; minimum = 0x10000;
  } else {
    return 0;
  }
  if (s.size() - i < length) return 0;
  for (size_t k = 1; k < length; ++k) {
    unsigned char next = static_cast<unsigned char>(s[i + k]);
    if (!isContinuation(next)) return 0;
    cp = (cp << 6) | (next & 0x3f);
  }
  if (cp < minimum || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff)) return 0;
  *codepoint = cp;
  return length;
}

void appendQuoted(std::string* out, const std::string& text) {
  out->push_back('"');
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    switch (c) {
      case '"': out->append("\\\""); ++i; continue;
      case '\\': out->append("\\\\"); ++i; continue;
      case '\b': out->append("\\b"); ++i; continue;
      case '\f': out->append("\\f"); ++i; continue;
      case '\n': out->append("\\n"); ++i; continue;
      case '\r': out->append("\\r"); ++i; continue;
      case '\t': out->append("\\t"); ++i; continue;
      default: break;
    }
    if (c < 0x20) {
      appendEscape(out, c);
      ++i;
    } else if (c < 0x80) {
      out->push_back(static_cast<char>(c));
      ++i;
    } else {
      unsigned cp = 0;
      size_t length = decodeUtf8(text, i, &cp);
      if (length == 0) {
        out->push_back(static_cast<char>(c));  // not UTF-8: kept as it is
        ++i;
      } else if (cp < 0x10000) {
        appendEscape(out, cp);
        i += length;
      } else {
        cp -= 0x10000;
        appendEscape(out, 0xd800 + ((cp >> 10) & 0x3ff));
        appendEscape(out, 0xdc00 + (cp & 0x3ff));
        i += length;
      }
    }
  }
  out->push_back('"');
}

// The amount as the JSON library writes it, except that an infinite amount
// (a request's out-of-range number reads as one) is written as the largest
// finite number of its sign: the library's "1e+9999" would not read back,
// and the next start would refuse the whole file.
std::string amountText(double amount) {
  if (std::isinf(amount)) {
    amount = amount > 0 ? std::numeric_limits<double>::max()
                        : std::numeric_limits<double>::lowest();
  }
  return Json::valueToString(amount);
}

// One element read by the JSON library's conversions; false when it is not
// an object or a value does not convert.
bool recordFromJson(const Json::Value& element, FinanceBalance* r) {
  if (!element.isObject()) return false;
  try {
    r->serial = element.get("serial", "").asString();
    r->comment = element.get("comment", "").asString();
    r->amount = element.get("amount", 0).asDouble();
    r->login = element.get("login", 0).asInt();
    r->isHandle = element.get("isHandle", 0).asInt();
    r->order = element.get("order", 0).asInt();
    r->cmd = element.get("cmd", 0).asInt();
    r->requested = element.get("requested", 0).asDouble();
  } catch (const Json::Exception&) {
    return false;
  }
  return true;
}

bool recordFromJsonText(std::string_view text, FinanceBalance* r) {
  Json::Value element;
  return util::parseJson(std::string(text), &element) && recordFromJson(element, r);
}

}  // namespace

void appendFinanceBalanceRecord(std::string* out, const FinanceBalance& r) {
  out->append("{\"amount\":");
  out->append(amountText(r.amount));
  if (r.cmd != 0) {
    out->append(",\"cmd\":");
    out->append(std::to_string(r.cmd));
  }
  out->append(",\"comment\":");
  appendQuoted(out, r.comment);
  out->append(",\"isHandle\":");
  out->append(std::to_string(r.isHandle));
  out->append(",\"login\":");
  out->append(std::to_string(r.login));
  out->append(",\"order\":");
  out->append(std::to_string(r.order));
  if (r.requested != 0) {
    out->append(",\"requested\":");
    out->append(amountText(r.requested));
  }
  out->append(",\"serial\":");
  appendQuoted(out, r.serial);
  out->push_back('}');
}

std::string encodeFinanceBalanceHistory(const std::vector<FinanceBalance>& records) {
  std::string out;
  if (records.empty()) return out;
  out.reserve(records.size() * 96);
  out.push_back('[');
  for (size_t i = 0; i < records.size(); ++i) {
    if (i > 0) out.push_back(',');
    appendFinanceBalanceRecord(&out, records[i]);
  }
  out.append("]\n");
  return out;
}

int decodeFinanceBalanceHistory(const std::string& text, FinanceBalanceMap* out) {
  out->clear();
  if (text.empty()) return 1;
  std::vector<FinanceBalance> records;
  FastHistoryReader fast;
  if (!fast.readArray(text, &records)) {
    records.clear();
    Json::Value root;
    if (!parseStoreArray(text, &root)) return -1;
    records.reserve(root.size());
    for (const Json::Value& element : root) {
      FinanceBalance r;
      if (!recordFromJson(element, &r)) return -1;
      records.push_back(std::move(r));
    }
  }
  // The file is in key order: each record goes in at the end.
  FinanceBalanceMap loaded;
  for (FinanceBalance& r : records) {
    HistoryKey key = keyOf(r);
    loaded.insert_or_assign(loaded.end(), std::move(key), std::move(r));
  }
  out->swap(loaded);
  return 1;
}

int replayFinanceBalanceJournal(std::string_view text, FinanceBalanceMap* records,
                                size_t* keptBytes) {
  FastHistoryReader fast;
  size_t begin = 0;
  *keptBytes = 0;
  while (begin < text.size()) {
    const size_t newline = text.find('\n', begin);
    const size_t end = newline == std::string_view::npos ? text.size() : newline;
    const std::string_view line = text.substr(begin, end - begin);
    FinanceBalance r;
    const bool read = newline != std::string_view::npos &&
                      (fast.readRecord(line, &r) || recordFromJsonText(line, &r));
    if (!read) {
      // Only the last line can have been cut by a crash while it was written.
      const size_t next = newline == std::string_view::npos ? text.size() : newline + 1;
      return next >= text.size() ? 1 : -1;
    }
    (*records)[keyOf(r)] = std::move(r);
    begin = end + 1;
    *keptBytes = begin;
  }
  return 1;
}

}  // namespace store
