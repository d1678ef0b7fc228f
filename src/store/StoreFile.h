// Reading the store files: the whole file as text, then its JSON array.
#ifndef MT4BRIDGE_STORE_STORE_FILE_H_
#define MT4BRIDGE_STORE_STORE_FILE_H_

#include <json/json.h>

#include <cstdint>
#include <string>

namespace store {

// Reads the file at path from byte offset to its end into *text. A
// missing file reads as the empty text. Returns false when the file exists
// but cannot be read.
bool readStoreFile(const std::string& path, std::string* text, uint64_t offset = 0);

// Parses text as a JSON array into *root. False when the text is not JSON
// (or nests too deeply) or its root is not an array. Never throws.
bool parseStoreArray(const std::string& text, Json::Value* root);

}  // namespace store

#endif  // MT4BRIDGE_STORE_STORE_FILE_H_
