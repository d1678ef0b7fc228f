#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "util/Mask.h"
#include "util/TextConvert.h"

namespace {

// Runs the conversions under another locale (the user default may be "C");
// set() is false where the C runtime lacks it (Windows' msvcrt has no UTF-8
// locale, Linux no ".1251").
class ScopedLocale {
 public:
  explicit ScopedLocale(const char* name)
      : old_(std::setlocale(LC_ALL, nullptr)), set_(std::setlocale(LC_ALL, name) != nullptr) {}
  ~ScopedLocale() { std::setlocale(LC_ALL, old_.c_str()); }
  bool set() const { return set_; }

 private:
  std::string old_;
  bool set_;
};

class Utf8Locale : public ScopedLocale {
 public:
  Utf8Locale() : ScopedLocale("C.UTF-8") {}
};

TEST(UTF8ToUnicode, ReplacesNoBreakSpaceAndUkrainianI) {
  EXPECT_EQ(util::UTF8ToUnicode("a\xC2\xA0" "b"), L"a b");
  EXPECT_EQ(util::UTF8ToUnicode("\xD1\x96"), L"i");
  EXPECT_EQ(util::UTF8ToUnicode("\xD0\x9F\xD1\x80\xD0\xB8"), L"\x41F\x440\x438");
  EXPECT_EQ(util::UTF8ToUnicode(""), L"");
}

TEST(UTF8ToUnicode, MalformedInputGivesEmptyText) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(util::UTF8ToUnicode("\xFF"), L"");
  EXPECT_EQ(util::UTF8ToUnicode("ok\xC3"), L"");            // cut sequence
  EXPECT_EQ(util::UTF8ToUnicode("\xC0\xAF"), L"");          // overlong
  EXPECT_EQ(util::UTF8ToUnicode("\xED\xA0\x80"), L"");      // surrogate
  EXPECT_EQ(util::UTF8ToUnicode("\xF4\x90\x80\x80"), L"");  // beyond U+10FFFF
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, std::string(
      "UTF8ToUnicode Exception\nUTF8ToUnicode Exception\nUTF8ToUnicode Exception\n"
      "UTF8ToUnicode Exception\nUTF8ToUnicode Exception\n"));
}

TEST(WstringToString, ConvertsToTheLocaleAndMarksTheUnrepresentable) {
  {
    ScopedLocale cyrillic(".1251");  // a Windows code page
    if (cyrillic.set()) {
      EXPECT_EQ(util::WstringToString(L"\x41F" "a"), "\xCF" "a");
    }
  }
  {
    Utf8Locale utf8;
    if (utf8.set()) {  // not in Windows' msvcrt
      EXPECT_EQ(util::WstringToString(L"\x41F" "a"), "\xD0\x9F" "a");
      EXPECT_EQ(util::toServerText("x\xC2\xA0y"), "x y");
    }
  }
  std::string old = std::setlocale(LC_ALL, nullptr);
  std::setlocale(LC_ALL, "C");
  EXPECT_EQ(util::WstringToString(L"a\x41F" "b"), "a?b");
  std::setlocale(LC_ALL, old.c_str());
  EXPECT_EQ(util::WstringToString(L""), "");
}

TEST(StringToLPCWSTR, WidensLocaleText) {
  Utf8Locale utf8;
  EXPECT_EQ(util::stringToLPCWSTR("127.0.0.1:443"), L"127.0.0.1:443");
  EXPECT_EQ(util::stringToLPCWSTR(""), L"");
  if (utf8.set()) {  // not in Windows' msvcrt
    EXPECT_EQ(util::stringToLPCWSTR("a\xFF" "b"), L"a?b");
  }
}

TEST(MaskSecrets, HidesEveryPasswordValueAtAnyDepth) {
  EXPECT_EQ(util::maskSecrets(R"({"login":1,"masterPass":"s3cret","investorPass":"inv"})"),
            R"({"login":1,"masterPass":"***","investorPass":"***"})");
  EXPECT_EQ(util::maskSecrets(R"({"data":{"newPass":"a\"b","password" : 1234},"code":200})"),
            R"({"data":{"newPass":"***","password" : "***"},"code":200})");
  EXPECT_EQ(util::maskSecrets(R"({"pass\u0077ord":"x"})"), R"({"pass\u0077ord":"***"})");
  EXPECT_EQ(util::maskSecrets(R"({"masterPass":{"nested":"x"},"k":"v"})"),
            R"({"masterPass":"***","k":"v"})");
}

TEST(MaskSecrets, LeavesOtherTextsAlone) {
  const std::string plain = R"({"comment":"password","name":"masterPass","n":1})";
  EXPECT_EQ(util::maskSecrets(plain), plain);
  EXPECT_EQ(util::maskSecrets("NOT A TEXTMESSAGE!"), "NOT A TEXTMESSAGE!");
  // Cut or malformed texts are masked as far as they go, never over-read.
  EXPECT_EQ(util::maskSecrets(R"({"password":"unterminated)"), R"({"password":"***")");
  EXPECT_EQ(util::maskSecrets(R"({"password":)"), R"({"password":)");
  EXPECT_EQ(util::maskSecrets("\"password\"\\"), "\"password\"\\");
}

}  // namespace
