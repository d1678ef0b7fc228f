#include "store/UserInfoStore.h"

#include <json/json.h>

#include <utility>

#include "store/StoreFile.h"

namespace store {
namespace {

// 1 with *out filled, or -1 (see UserInfoStore::load).
int decodeUserInfo(const std::string& text, std::map<int, UserIdentity>* out) {
  out->clear();
  if (text.empty()) return 1;
  Json::Value root;
  if (!parseStoreArray(text, &root)) return -1;
  std::map<int, UserIdentity> loaded;
  try {
    for (const Json::Value& element : root) {
      if (!element.isObject()) return -1;
      UserIdentity u;
      u.login = element.get("login", 0).asInt();
      u.name = element.get("name", "").asString();
      u.email = element.get("email", "").asString();
      u.group = element.get("group", "").asString();
      u.comment = element.get("comment", "").asString();
      u.leadSource = element.get("leadSource", "").asString();
      loaded[u.login] = std::move(u);
    }
  } catch (const Json::Exception&) {
    return -1;
  }
  out->swap(loaded);
  return 1;
}

}  // namespace

UserInfoStore::UserInfoStore(std::string path) : path_(std::move(path)) {}

int UserInfoStore::load() {
  std::string text;
  std::map<int, UserIdentity> loaded;
  int result = -1;
  if (readStoreFile(path_, &text)) result = decodeUserInfo(text, &loaded);
  std::lock_guard<std::mutex> lock(mutex_);
  users_.swap(loaded);
  if (result != 1) users_.clear();
  return result;
}

bool UserInfoStore::find(int login, UserIdentity* out) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = users_.find(login);
  if (it == users_.end()) return false;
  *out = it->second;
  return true;
}

void UserInfoStore::set(const UserIdentity& identity) {
  std::lock_guard<std::mutex> lock(mutex_);
  users_[identity.login] = identity;
}

void UserInfoStore::remove(int login) {
  std::lock_guard<std::mutex> lock(mutex_);
  users_.erase(login);
}

size_t UserInfoStore::size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return users_.size();
}

int loadUserInfo(UserInfoStore& users) { return users.load(); }

}  // namespace store
