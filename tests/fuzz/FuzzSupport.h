// What the fuzz harnesses share: a failed property stops the run (libFuzzer
// keeps the input), a scratch folder made once per process, and the
// service's console lines kept off the fuzzer's output.
#ifndef MT4BRIDGE_TESTS_FUZZ_FUZZ_SUPPORT_H_
#define MT4BRIDGE_TESTS_FUZZ_FUZZ_SUPPORT_H_

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

namespace fuzz {

// Reports a broken property on stderr and aborts (a crash for libFuzzer).
[[noreturn]] inline void fail(const char* property, const std::string& detail = std::string()) {
  std::fprintf(stderr, "\nFUZZ PROPERTY FAILED: %s\n%s\n", property, detail.c_str());
  std::fflush(stderr);
  std::abort();
}

// A folder of this process's own, made on first use and removed when the
// process ends normally: under MT4BRIDGE_FUZZ_SCRATCH when set (fuzz.sh
// removes that one after a crash too), else in memory under /dev/shm when
// there is one (so that the stores' flushes cost nothing), else in the
// temporary folder.
inline const std::string& scratchDir() {
  // Never destroyed: the exit handler below still needs it.
  static const std::string* const dir = [] {
    const char* given = std::getenv("MT4BRIDGE_FUZZ_SCRATCH");
    std::filesystem::path base = given != nullptr ? given : "/dev/shm";
    std::error_code ec;
    if (!std::filesystem::is_directory(base, ec)) base = std::filesystem::temp_directory_path();
    std::string tmpl = (base / "mt4bridge-fuzz-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) fail("scratch folder", tmpl);
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(scratchDir(), ignored);
    });
    return new std::string(tmpl);
  }();
  return *dir;
}

// The service prints progress lines on standard output; they would drown
// the fuzzer's own output (on stderr) and slow it down. Kept when
// MT4BRIDGE_FUZZ_CONSOLE is set (to read them while reproducing an input).
inline void quietConsole() {
  if (std::getenv("MT4BRIDGE_FUZZ_CONSOLE") != nullptr) return;
  std::fflush(stdout);
  const int null = ::open("/dev/null", O_WRONLY);
  if (null >= 0) {
    ::dup2(null, STDOUT_FILENO);
    ::close(null);
  }
}

// Reads the leading control bytes of an input; past the end reads 0.
class ByteReader {
 public:
  ByteReader(const unsigned char* data, size_t size) : data_(data), size_(size) {}
  unsigned char next() { return pos_ < size_ ? data_[pos_++] : 0; }
  // What is left, as text.
  std::string_view rest() const {
    return std::string_view(reinterpret_cast<const char*>(data_) + pos_, size_ - pos_);
  }

 private:
  const unsigned char* data_;
  size_t size_;
  size_t pos_ = 0;
};

}  // namespace fuzz

#endif  // MT4BRIDGE_TESTS_FUZZ_FUZZ_SUPPORT_H_
