#include "messaging/ReplyWriter.h"

#include "util/Json.h"

namespace messaging {

std::string writeReply(const Json::Value& data, int code) {
  Json::Value root(Json::objectValue);
  root["code"] = code;
  root["data"] = data;
  root["msg"] = code == kSuccessCode ? "success" : "fail";
  return util::writeCompactJson(root);
}

}  // namespace messaging
