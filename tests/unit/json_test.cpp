#include <gtest/gtest.h>

#include <string>

#include "util/Json.h"

namespace {

TEST(ParseJson, HostileInputFailsWithoutThrowing) {
  Json::Value v;
  std::string error;
  EXPECT_FALSE(util::parseJson(std::string(100000, '['), &v, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(util::parseJson(std::string(5000, '{'), &v));
  EXPECT_FALSE(util::parseJson("{\"a\":", &v));
  EXPECT_FALSE(util::parseJson("", &v));
  EXPECT_TRUE(util::parseJson("/* c */ {\"a\":[1,2]} // c", &v));
  EXPECT_EQ(v["a"][1].asInt(), 2);
}

TEST(WriteCompactJson, SortedKeysOneLineFinalLineFeed) {
  Json::Value v;
  ASSERT_TRUE(util::parseJson(R"({"msg":"x","code":200,"data":{"b":1,"a":[true,null]}})", &v));
  EXPECT_EQ(util::writeCompactJson(v),
            "{\"code\":200,\"data\":{\"a\":[true,null],\"b\":1},\"msg\":\"x\"}\n");
}

}  // namespace
