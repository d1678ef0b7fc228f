// Conversion of the manager interface's structures to and from JSON, shared
// by the simulated trading server (its state file and its wire protocol) and
// by the client plugin.
//
// Field names are the structures' field names. Fixed-width texts are read up
// to their terminator or the field width, whichever comes first; bytes that
// are not valid UTF-8 are carried as the code points U+0080..U+00FF of the
// same value, so any field content gives valid JSON. When reading, a text
// longer than its field is cut to the field width (no terminator then).
//
// Reading is lenient about missing fields (they keep their value, normally
// zero) and strict about present ones: a field of the wrong JSON type or out
// of its range makes the conversion fail with an error text. Reading never
// throws.
#ifndef MT4BRIDGE_SIM_CODEC_H_
#define MT4BRIDGE_SIM_CODEC_H_

#include <json/json.h>

#include <cstddef>
#include <string>

#include "server/ManagerApi.h"

namespace sim {

// Bytes of a fixed-width field as a JSON-safe UTF-8 text (see above).
std::string textFromBytes(const char* data, std::size_t maxLen);

Json::Value toJson(const mt::UserRecord& value);
Json::Value toJson(const mt::ConGroupMargin& value);
Json::Value toJson(const mt::ConGroup& value);
Json::Value toJson(const mt::ConSession& value);
Json::Value toJson(const mt::ConSessions& value);
Json::Value toJson(const mt::ConSymbol& value);
Json::Value toJson(const mt::SymbolInfo& value);
Json::Value toJson(const mt::TradeRecord& value);
Json::Value toJson(const mt::TradeTransInfo& value);
Json::Value toJson(const mt::GroupCommandInfo& value);
Json::Value toJson(const mt::ConManager& value);
// The mail's header fields; the body pointer is not written (the body text
// travels beside it, see MailSend).
Json::Value toJson(const mt::MailBox& value);

// Each fills *out from json (fields absent from json keep their value).
// On failure returns false, sets *error (when not null) and leaves *out
// partly filled.
bool fromJson(const Json::Value& json, mt::UserRecord* out, std::string* error);
bool fromJson(const Json::Value& json, mt::ConGroupMargin* out, std::string* error);
bool fromJson(const Json::Value& json, mt::ConGroup* out, std::string* error);
bool fromJson(const Json::Value& json, mt::ConSession* out, std::string* error);
bool fromJson(const Json::Value& json, mt::ConSessions* out, std::string* error);
bool fromJson(const Json::Value& json, mt::ConSymbol* out, std::string* error);
bool fromJson(const Json::Value& json, mt::SymbolInfo* out, std::string* error);
bool fromJson(const Json::Value& json, mt::TradeRecord* out, std::string* error);
bool fromJson(const Json::Value& json, mt::TradeTransInfo* out, std::string* error);
bool fromJson(const Json::Value& json, mt::GroupCommandInfo* out, std::string* error);
bool fromJson(const Json::Value& json, mt::ConManager* out, std::string* error);
// body is set to null and bodylen is read as a plain number.
bool fromJson(const Json::Value& json, mt::MailBox* out, std::string* error);

// Typed reads of one member of an object, for the protocol handlers. A
// missing member (or a non-object) gives false with *error set.
bool readInt(const Json::Value& obj, const char* name, int* out, std::string* error);
bool readInt64(const Json::Value& obj, const char* name, std::int64_t* out,
               std::string* error);
bool readDouble(const Json::Value& obj, const char* name, double* out,
                std::string* error);
bool readString(const Json::Value& obj, const char* name, std::string* out,
                std::string* error);
bool readBool(const Json::Value& obj, const char* name, bool* out, std::string* error);

}  // namespace sim

#endif  // MT4BRIDGE_SIM_CODEC_H_
