#include "store/StoreFile.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "util/Json.h"

namespace store {

bool readStoreFile(const std::string& path, std::string* text, uint64_t offset) {
  text->clear();
  std::error_code ec;
  std::filesystem::file_status status = std::filesystem::status(path, ec);
  // Only a file that is surely absent reads as empty: one that exists but
  // cannot be read must not start the service with an empty history.
  if (status.type() == std::filesystem::file_type::not_found) return true;
  if (ec || !std::filesystem::is_regular_file(status)) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  if (offset > 0 && !in.seekg(static_cast<std::streamoff>(offset))) return false;
  text->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool parseStoreArray(const std::string& text, Json::Value* root) {
  try {
    if (!util::parseJson(text, root)) return false;
  } catch (const Json::Exception&) {
    // The reader throws when the nesting exceeds its limit.
    return false;
  }
  return root->isArray();
}

}  // namespace store
