#include "util/Json.h"

#include <memory>
#include <mutex>
#include <sstream>
#include <vector>

namespace util {

namespace {

// Readers and writers are lent to one caller at a time and kept for the
// next: building one costs more than a small parse, and neither may be used
// by two threads at once. (Not thread_local: MinGW's runtime frees a
// thread's thread_local storage before running its destructors, and the
// process crashes when such a thread ends; no thread_local with a
// destructor is used anywhere for that reason.)
template <typename T>
class Lender {
 public:
  using Make = T* (*)();
  explicit Lender(Make make) : make_(make) {}

  std::unique_ptr<T> take() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!idle_.empty()) {
        std::unique_ptr<T> lent = std::move(idle_.back());
        idle_.pop_back();
        return lent;
      }
    }
    return std::unique_ptr<T>(make_());
  }

  void giveBack(std::unique_ptr<T> lent) {
    std::lock_guard<std::mutex> lock(mutex_);
    idle_.push_back(std::move(lent));
  }

 private:
  Make make_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<T>> idle_;
};

// One loan, given back when it ends.
template <typename T>
class Loan {
 public:
  explicit Loan(Lender<T>& lender) : lender_(lender), lent_(lender.take()) {}
  ~Loan() { lender_.giveBack(std::move(lent_)); }
  Loan(const Loan&) = delete;
  Loan& operator=(const Loan&) = delete;
  T& operator*() const { return *lent_; }

 private:
  Lender<T>& lender_;
  std::unique_ptr<T> lent_;
};

// Never destroyed: a thread may still parse while the process ends.
Lender<Json::CharReader>& readers() {
  static auto* lender = new Lender<Json::CharReader>([] {
    Json::CharReaderBuilder builder;
    builder["collectComments"] = true;
    builder["allowComments"] = true;
    builder["stackLimit"] = 256;
    return builder.newCharReader();
  });
  return *lender;
}

Lender<Json::StreamWriter>& writers() {
  static auto* lender = new Lender<Json::StreamWriter>([] {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["commentStyle"] = "None";
    builder["enableYAMLCompatibility"] = false;
    builder["dropNullPlaceholders"] = false;
    return builder.newStreamWriter();
  });
  return *lender;
}

}  // namespace

bool parseJson(const std::string& text, Json::Value* root, std::string* error) {
  std::string errs;
  Json::Value parsed;
  bool ok = false;
  try {
    Loan<Json::CharReader> reader(readers());
    ok = (*reader).parse(text.data(), text.data() + text.size(), &parsed, &errs);
  } catch (const std::exception& e) {
    // The reader throws instead of failing on some hostile input (nesting
    // beyond the stack limit); it starts afresh on the next parse.
    errs = e.what();
    ok = false;
  }
  if (!ok) {
    if (error) *error = errs;
    return false;
  }
  *root = std::move(parsed);
  return true;
}

std::string writeCompactJson(const Json::Value& value) {
  std::ostringstream out;
  Loan<Json::StreamWriter> writer(writers());
  (*writer).write(value, &out);
  out << '\n';
  return out.str();
}

}  // namespace util
