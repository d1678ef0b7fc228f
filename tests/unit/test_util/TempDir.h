// Test helpers: a temporary directory removed at the end of the test, and a
// scoped change of the working directory.
#ifndef MT4BRIDGE_TESTS_TEMP_DIR_H_
#define MT4BRIDGE_TESTS_TEMP_DIR_H_

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

namespace test_util {

class TempDir {
 public:
  TempDir() {
    std::random_device random;
    std::filesystem::path made;
    do {
      made = std::filesystem::temp_directory_path() / ("mt4bridge-" + std::to_string(random()));
    } while (!std::filesystem::create_directory(made));
    path_ = made.string();
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  void write(const std::string& name, const std::string& text) const {
    std::ofstream out(file(name), std::ios::binary | std::ios::trunc);
    out << text;
  }
  std::string read(const std::string& name) const {
    std::ifstream in(file(name), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  bool exists(const std::string& name) const { return std::filesystem::exists(file(name)); }

 private:
  std::string path_;
};

class ScopedCwd {
 public:
  explicit ScopedCwd(const std::string& dir) : old_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir);
  }
  ~ScopedCwd() {
    std::error_code ec;
    std::filesystem::current_path(old_, ec);
  }
  ScopedCwd(const ScopedCwd&) = delete;
  ScopedCwd& operator=(const ScopedCwd&) = delete;

 private:
  std::filesystem::path old_;
};

}  // namespace test_util

#endif  // MT4BRIDGE_TESTS_TEMP_DIR_H_
