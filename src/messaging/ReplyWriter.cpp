#include "messaging/ReplyWriter.h"

#include <cstdlib>
#include <string_view>

#include "util/Json.h"

namespace messaging {

std::string writeReply(const Json::Value& data, int code) {
  Json::Value root(Json::objectValue);
  root["code"] = code;
  root["data"] = data;
  root["msg"] = code == kSuccessCode ? "success" : "fail";
  return util::writeCompactJson(root);
}

int replyCode(const std::string& text) {
  constexpr std::string_view kStart = "{\"code\":";
  if (std::string_view(text).substr(0, kStart.size()) != kStart) return 0;
  return static_cast<int>(std::strtol(text.c_str() + kStart.size(), nullptr, 10));
}

}  // namespace messaging
