// The request path through run_json_restful_handler and the method dispatch
// of JSON_RESTful_Handler_Impl2, driven through the in-memory channel.
#include <gtest/gtest.h>

#include "json_spirit/json_spirit.h"
#include "websvcs/framework/framework.h"
#include "websvcs/framework/memory_channel.h"

namespace {

// Records what reached it; answers GET with the parsed query and POST with
// the body it got.
class Echo_Handler : public JSON_RESTful_Handler_Impl2 {
 public:
  Echo_Handler(unsigned long methods = ~0UL) : JSON_RESTful_Handler_Impl2(methods, 0) {}
  CONCURRENCY concurrency() const override { return THREAD; }

  int handle_get(JSON_RESTful_Channel* ch, Parsed_Request& req) override {
    ++calls;
    json_spirit::Object o;
    for (const auto& kv : req.query_string) o[kv.first] = kv.second;
    for (const auto& kv : req.uri_path_variables) o["var:" + kv.first] = kv.second;
    return ch->send_value(o);
  }
  int handle_post(JSON_RESTful_Channel* ch, Parsed_Request& req) override {
    ++calls;
    last_body = req.body;
    if (req.body.type() != json_spirit::obj_type)
      return ch->send_error(400, -1, "Request body is expected as JSON object.");
    return ch->send_value(req.body);
  }
  const char* get_uri_suffix_pattern() const override { return suffix_pattern; }
  unsigned int post_auth_modes() const override { return post_auth; }
  unsigned int put_filters() const override { return FILTER_BODY_OBJECT; }
  unsigned int delete_filters() const override { return FILTER_NO_BODY; }

  int calls = 0;
  json_spirit::Value last_body;
  const char* suffix_pattern = nullptr;
  unsigned int post_auth = AUTH_SERVER;
};

// A bare handler in the style of the drive handlers: checks path and
// method itself and sends nothing on success.
class Bare_Handler : public JSON_RESTful_Handler {
 public:
  int handle_request(JSON_RESTful_Channel* ch, json_spirit::Value& body) override {
    if (std::string(ch->request().path(1)).compare(0, 5, "/load") != 0) {
      ch->response()->status(404, nullptr);
      return 0;
    }
    if (ch->request().method() != 9) {
      ch->response()->status(405, nullptr);
      return 0;
    }
    seen = body;
    return 0;
  }
  json_spirit::Value seen;
};

class Throwing_Handler : public JSON_RESTful_Handler {
 public:
  int handle_request(JSON_RESTful_Channel*, json_spirit::Value&) override {
    throw std::runtime_error("handler bug");
  }
};

json_spirit::Object reply(const Memory_Channel& ch) {
  json_spirit::Value v = ch.body_json();
  return v.type() == json_spirit::obj_type ? v.get_obj() : json_spirit::Object();
}

TEST(Dispatch, GetReceivesDecodedQuery) {
  Echo_Handler h;
  Memory_Channel ch(METHOD_GET, "/list?serial_number=AB%2012&x=a+b&serial_number=ZZ");
  EXPECT_EQ(0, ch.run(h));
  EXPECT_EQ(200, ch.reply_status());
  json_spirit::Object o = reply(ch);
  EXPECT_EQ("AB 12", o["serial_number"].get_str());
  EXPECT_EQ("a b", o["x"].get_str());
}

TEST(Dispatch, MalformedQueryIs400AndHandlerNotCalled) {
  for (const char* target : {"/list?serial_number=%zz", "/list?serial_number=%4",
                             "/list?a=%00", "/list?=x"}) {
    Echo_Handler h;
    Memory_Channel ch(METHOD_GET, target);
    ch.run(h);
    EXPECT_EQ(400, ch.reply_status()) << target;
    EXPECT_EQ(0, h.calls) << target;
  }
}

TEST(Dispatch, UnimplementedOrExcludedMethodIs405) {
  Echo_Handler h;
  for (int m : {METHOD_HEAD, METHOD_DELETE, METHOD_PATCH, METHOD_OPTIONS, METHOD_UNKNOWN}) {
    Memory_Channel ch(m, "/x");
    ch.run(h);
    EXPECT_EQ(405, ch.reply_status()) << m;
  }
  Echo_Handler get_only(1UL << METHOD_GET);
  Memory_Channel post(METHOD_POST, "/x");
  post.set_body("{}");
  post.run(get_only);
  EXPECT_EQ(405, post.reply_status());
  EXPECT_EQ(0, get_only.calls);
}

TEST(Dispatch, BodyIsParsedOrRefused) {
  {
    Echo_Handler h;
    Memory_Channel ch(METHOD_POST, "/t");
    ch.set_body(" {\"serial_number\": \"S\", \"from\": 3} ");
    EXPECT_EQ(0, ch.run(h));
    EXPECT_EQ(3, reply(ch)["from"].get_int());
  }
  for (const char* bad : {"{", "{\"a\":}", "[1,2", "nul", "{\"a\":1}{", "1e999999"}) {
    Echo_Handler h;
    Memory_Channel ch(METHOD_POST, "/t");
    ch.set_body(bad);
    EXPECT_EQ(-1, ch.run(h)) << bad;
    EXPECT_EQ(400, ch.reply_status()) << bad;
    EXPECT_EQ(0, h.calls) << bad;
    EXPECT_EQ(0u, reply(ch)["message"].get_str().find("Malformed JSON body")) << bad;
  }
  {
    // What parses goes to the handler, which decides.
    Echo_Handler h;
    Memory_Channel ch(METHOD_POST, "/t");
    ch.set_body("[1, 2]");
    ch.run(h);
    EXPECT_EQ(1, h.calls);
    EXPECT_EQ(400, ch.reply_status());
    EXPECT_EQ("Request body is expected as JSON object.", reply(ch)["message"].get_str());
  }
  {
    Echo_Handler h;
    Memory_Channel ch(METHOD_POST, "/t");
    ch.set_body("{\"from\": 99999999999999999999999}");
    ch.run(h);
    EXPECT_EQ(1, h.calls);
    EXPECT_EQ(json_spirit::obj_type, h.last_body.type());
  }
  {
    Echo_Handler h;
    Memory_Channel ch(METHOD_POST, "/t");
    ch.set_body("  \r\n");
    ch.run(h);
    EXPECT_TRUE(h.last_body.is_null());
  }
}

TEST(Dispatch, UriSuffixMustMatchThePattern) {
  Echo_Handler h;
  {
    Memory_Channel ch(METHOD_GET, "/base/extra");
    ch.set_uri_suffix("extra");
    ch.run(h);
    EXPECT_EQ(404, ch.reply_status());  // no pattern: no suffix allowed
  }
  h.suffix_pattern = "{serial}/slots";
  {
    Memory_Channel ch(METHOD_GET, "/base/S1/slots");
    ch.set_uri_suffix("S1/slots");
    ch.run(h);
    EXPECT_EQ(200, ch.reply_status());
    EXPECT_EQ("S1", reply(ch)["var:serial"].get_str());
  }
  for (const char* bad : {"", "S1", "S1/drives", "/slots", "S1/slots/x"}) {
    Memory_Channel ch(METHOD_GET, "/base");
    ch.set_uri_suffix(bad);
    ch.run(h);
    EXPECT_EQ(404, ch.reply_status()) << bad;
  }
}

TEST(Dispatch, AuthModesAndFilters) {
  Echo_Handler h;
  h.post_auth = JSON_RESTful_Handler_Impl2::AUTH_LOOPBACK;
  Memory_Channel remote(METHOD_POST, "/t");
  remote.set_remote_addr("192.0.2.7").set_body("{}");
  remote.run(h);
  EXPECT_EQ(403, remote.reply_status());
  Memory_Channel local(METHOD_POST, "/t");
  local.set_remote_addr("::1").set_body("{}");
  local.run(h);
  EXPECT_EQ(200, local.reply_status());

  Memory_Channel put(METHOD_PUT, "/t");
  put.set_body("[]");
  put.run(h);
  EXPECT_EQ(400, put.reply_status());
  Memory_Channel put_ok(METHOD_PUT, "/t");
  put_ok.set_body("{}");
  put_ok.run(h);
  EXPECT_EQ(405, put_ok.reply_status());  // passes the filter, not implemented
  Memory_Channel del(METHOD_DELETE, "/t");
  del.set_body("{}");
  del.run(h);
  EXPECT_EQ(400, del.reply_status());
  Memory_Channel del_ok(METHOD_DELETE, "/t");
  del_ok.run(h);
  EXPECT_EQ(405, del_ok.reply_status());  // passes the filter, not implemented
}

TEST(Dispatch, BareHandlerStatusWithoutBody) {
  Bare_Handler h;
  Memory_Channel ok(9, "/load");
  ok.set_body("{\"serial_number\":\"D1\"}");
  EXPECT_EQ(0, ok.run(h));
  EXPECT_EQ(200, ok.reply_status());
  EXPECT_EQ("", ok.body());
  EXPECT_EQ("D1", h.seen.get_obj().at("serial_number").get_str());

  Memory_Channel get(METHOD_GET, "/load");
  get.run(h);
  EXPECT_EQ(405, get.reply_status());
  EXPECT_EQ("", get.body());
  Memory_Channel other(9, "/unload");
  other.run(h);
  EXPECT_EQ(404, other.reply_status());
}

TEST(Dispatch, ExceptionBecomes500) {
  Throwing_Handler h;
  Memory_Channel ch(METHOD_GET, "/x");
  std::string why;
  EXPECT_EQ(-1, run_json_restful_handler(h, ch, "", &why));
  EXPECT_EQ(500, ch.reply_status());
  EXPECT_EQ("handler bug", why);
}

TEST(Dispatch, NullChannelIsRefused) {
  Echo_Handler h;
  json_spirit::Value body;
  EXPECT_EQ(-1, h.handle_request(nullptr, body));
}

}  // namespace
