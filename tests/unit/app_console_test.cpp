#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "app/ConsoleInput.h"

namespace {

bool askWith(const std::string& input, std::string* printed) {
  std::FILE* in = std::tmpfile();
  std::fwrite(input.data(), 1, input.size(), in);
  std::rewind(in);
  testing::internal::CaptureStdout();
  bool result = app::askExit(in);
  *printed = testing::internal::GetCapturedStdout();
  std::fclose(in);
  return result;
}

size_t prompts(const std::string& printed) {
  size_t n = 0;
  for (size_t p = printed.find("is exit(0 or 1): "); p != std::string::npos;
       p = printed.find("is exit(0 or 1): ", p + 1)) {
    ++n;
  }
  return n;
}

TEST(ExitPrompt, OnlyOneEndsIt) {
  std::string printed;
  EXPECT_TRUE(askWith("0\n2\nyes\n1\n", &printed));
  EXPECT_EQ(prompts(printed), 4u);
  EXPECT_TRUE(askWith("01\n", &printed));
  EXPECT_EQ(prompts(printed), 1u);
  EXPECT_TRUE(askWith("1x\n", &printed));
  EXPECT_TRUE(askWith("   \n\t 1", &printed));
}

TEST(ExitPrompt, EndOfInputStopsAsking) {
  std::string printed;
  EXPECT_FALSE(askWith("0\n-1\n11\n", &printed));
  EXPECT_EQ(prompts(printed), 4u);
  EXPECT_FALSE(askWith("", &printed));
}

TEST(ExitPrompt, AnswerValueReadsLeadingDigits) {
  EXPECT_EQ(app::answerValue("1"), 1u);
  EXPECT_EQ(app::answerValue("0001abc"), 1u);
  EXPECT_EQ(app::answerValue("yes"), 0u);
  EXPECT_EQ(app::answerValue(""), 0u);
  // Past 64 bits the value wraps; it is never mistaken for 1 by accident
  // of a long token of zeros.
  EXPECT_EQ(app::answerValue(std::string(300, '0').c_str()), 0u);
}

}  // namespace
