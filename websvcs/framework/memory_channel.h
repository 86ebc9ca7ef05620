// A channel that lives in memory, for tests of handlers: set up the
// request, run a handler through the same path the server uses, read back
// status and body.
//
//   Memory_Channel ch(METHOD_GET, "/d2/r/tapectl/list?serial_number=S");
//   ch.run(handler);
//   EXPECT_EQ(200, ch.reply_status());
//   json_spirit::Value v = ch.body_json();
#ifndef WEBSVCS_FRAMEWORK_MEMORY_CHANNEL_H
#define WEBSVCS_FRAMEWORK_MEMORY_CHANNEL_H

#include <string>

#include "json_spirit/json_spirit_value.h"
#include "websvcs/framework/json_restful_channel.h"
#include "websvcs/framework/json_restful_handler.h"

class Memory_Channel : public JSON_RESTful_Channel {
 public:
  // A request from 127.0.0.1 with the method and target given.
  explicit Memory_Channel(int method = METHOD_GET, const std::string& target = "/");

  Memory_Channel& set_method(int m);
  Memory_Channel& set_target(const std::string& target);  // path?query
  Memory_Channel& set_header(const std::string& name, const std::string& value);
  Memory_Channel& set_remote_addr(const std::string& addr);
  Memory_Channel& set_uri_suffix(const std::string& suffix);
  // Raw body text, parsed by run() as the server would.
  Memory_Channel& set_body(const std::string& text);

  // run_json_restful_handler on this channel with the body set; returns the
  // handler's result. A streamed reply is read whole into body(). A channel
  // serves one run.
  int run(JSON_RESTful_Handler& handler);

  // The reply body parsed as JSON; null when empty or not JSON.
  json_spirit::Value body_json() const;

 private:
  std::string body_text_;
};

#endif
