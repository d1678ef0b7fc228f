// The account identity store: name, e-mail, group, comment and lead source
// per account, for the identity match of account creation. Loaded from its
// file ("userInfo" in the working directory) at start; changed only in
// memory afterwards (the file is never written).
//
// Thread-safe: one lock serialises lookups and changes.
#ifndef MT4BRIDGE_STORE_USER_INFO_STORE_H_
#define MT4BRIDGE_STORE_USER_INFO_STORE_H_

#include <map>
#include <mutex>
#include <string>

namespace store {

constexpr const char* kUserInfoFile = "userInfo";

struct UserIdentity {
  int login = 0;
  std::string name;
  std::string email;
  std::string group;
  std::string comment;
  std::string leadSource;
};

class UserInfoStore {
 public:
  explicit UserInfoStore(std::string path = kUserInfoFile);
  UserInfoStore(const UserInfoStore&) = delete;
  UserInfoStore& operator=(const UserInfoStore&) = delete;

  // Replaces the contents with the file's. A missing or empty file gives an
  // empty store and 1. -1, with the store left empty, when the file exists
  // but cannot be read, is not a JSON array, holds an element that is not
  // an object, or a value the JSON library cannot convert to its field (an
  // object or array where a text or number belongs, a text where the login
  // belongs, a login out of the 32-bit range). A missing key reads as empty
  // or 0; of two elements with the same login the later wins.
  int load();

  // Copies the entry of login into *out; false when absent.
  bool find(int login, UserIdentity* out) const;

  // Sets the entry of identity.login, replacing any.
  void set(const UserIdentity& identity);

  // Removes the entry of login (memory only).
  void remove(int login);

  size_t size() const;

 private:
  const std::string path_;
  mutable std::mutex mutex_;
  std::map<int, UserIdentity> users_;
};

// The start-up entry point: users.load().
int loadUserInfo(UserInfoStore& users);

}  // namespace store

#endif  // MT4BRIDGE_STORE_USER_INFO_STORE_H_
