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

struct Request {
  int method;
  std::string target;
  const char* body = nullptr;
  const char* suffix = nullptr;
  const char* remote = nullptr;
};

struct Outcome {
  int rc, status;
  std::string body;
  json_spirit::Object reply;  // empty unless the body is a JSON object
};

Outcome run(JSON_RESTful_Handler& h, const Request& r) {
  Memory_Channel ch(r.method, r.target);
  if (r.body) ch.set_body(r.body);
  if (r.suffix) ch.set_uri_suffix(r.suffix);
  if (r.remote) ch.set_remote_addr(r.remote);
  Outcome o{ch.run(h), ch.reply_status(), ch.body(), {}};
  EXPECT_TRUE(ch.sent());
  json_spirit::Value v = ch.body_json();
  if (v.type() == json_spirit::obj_type) o.reply = v.get_obj();
  return o;
}

// The decoded query reaches the handler: the HTTP server's test.
TEST(Dispatch, GetReceivesSuffixVariables) {
  Echo_Handler h;
  h.suffix_pattern = "{serial}/slots";
  Outcome o = run(h, {METHOD_GET, "/base/S1/slots?x=1", nullptr, "S1/slots"});
  EXPECT_EQ(0, o.rc);
  EXPECT_EQ(200, o.status);
  EXPECT_EQ("S1", o.reply["var:serial"].get_str());
  EXPECT_EQ("1", o.reply["x"].get_str());
}

TEST(Dispatch, RefusedRequestsNeverReachTheHandler) {
  struct Row {
    Request rq;
    int status;
    const char* suffix_pattern;
    unsigned long methods;
  };
  const unsigned long ALL = ~0UL;
  std::vector<Row> rows = {
      // A malformed query string (which ones: the query-string test).
      {{METHOD_GET, "/list?serial_number=%zz"}, 400, nullptr, ALL},
      // Methods the handler excludes or (below) does not implement.
      {{METHOD_POST, "/x", "{}"}, 405, nullptr, 1UL << METHOD_GET},
      // A URI suffix must match the pattern; none is allowed without one.
      {{METHOD_GET, "/base/extra", nullptr, "extra"}, 404, nullptr, ALL},
      {{METHOD_GET, "/base", nullptr, ""}, 404, "{serial}/slots", ALL},
      {{METHOD_GET, "/base", nullptr, "S1"}, 404, "{serial}/slots", ALL},
      {{METHOD_GET, "/base", nullptr, "S1/drives"}, 404, "{serial}/slots", ALL},
      {{METHOD_GET, "/base", nullptr, "/slots"}, 404, "{serial}/slots", ALL},
      {{METHOD_GET, "/base", nullptr, "S1/slots/x"}, 404, "{serial}/slots", ALL},
      // Filters: PUT needs an object body, DELETE no body; passing the
      // filter reaches an unimplemented method.
      {{METHOD_PUT, "/t", "[]"}, 400, nullptr, ALL},
      {{METHOD_PUT, "/t", "{}"}, 405, nullptr, ALL},
      {{METHOD_DELETE, "/t", "{}"}, 400, nullptr, ALL},
      {{METHOD_DELETE, "/t"}, 405, nullptr, ALL},
  };
  for (int m : {METHOD_HEAD, METHOD_DELETE, METHOD_PATCH, METHOD_OPTIONS, METHOD_UNKNOWN})
    rows.push_back({{m, "/x"}, 405, nullptr, ALL});
  for (const Row& row : rows) {
    SCOPED_TRACE(row.rq.target + " method " + std::to_string(row.rq.method) + " suffix " +
                 (row.rq.suffix ? row.rq.suffix : "-"));
    Echo_Handler h(row.methods);
    h.suffix_pattern = row.suffix_pattern;
    EXPECT_EQ(row.status, run(h, row.rq).status);
    EXPECT_EQ(0, h.calls);
  }
}

TEST(Dispatch, LoopbackOnlyPostRefusesRemoteClients) {
  Echo_Handler h;
  h.post_auth = JSON_RESTful_Handler_Impl2::AUTH_LOOPBACK;
  EXPECT_EQ(403, run(h, {METHOD_POST, "/t", "{}", nullptr, "192.0.2.7"}).status);
  EXPECT_EQ(0, h.calls);
  EXPECT_EQ(200, run(h, {METHOD_POST, "/t", "{}", nullptr, "::1"}).status);
}

TEST(Dispatch, BodyIsParsedOrRefused) {
  Echo_Handler ok;
  EXPECT_EQ(0, run(ok, {METHOD_POST, "/t", " {\"serial_number\": \"S\", \"from\": 3} "}).rc);
  EXPECT_EQ(json_spirit::Value(3), ok.last_body.get_obj().at("from"));

  for (const char* bad : {"{", "{\"a\":}", "[1,2", "nul", "{\"a\":1}{", "1e999999"}) {
    SCOPED_TRACE(bad);
    Echo_Handler h;
    Outcome o = run(h, {METHOD_POST, "/t", bad});
    EXPECT_EQ(-1, o.rc);
    EXPECT_EQ(400, o.status);
    EXPECT_EQ(0, h.calls);
    EXPECT_EQ(0u, o.reply["message"].get_str().find("Malformed JSON body"));
  }
  // What parses goes to the handler, which decides.
  Echo_Handler arr;
  Outcome o = run(arr, {METHOD_POST, "/t", "[1, 2]"});
  EXPECT_EQ(1, arr.calls);
  EXPECT_EQ(400, o.status);
  EXPECT_EQ("Request body is expected as JSON object.", o.reply["message"].get_str());
  Echo_Handler big;
  run(big, {METHOD_POST, "/t", "{\"from\": 99999999999999999999999}"});
  EXPECT_EQ(1, big.calls);
  EXPECT_EQ(json_spirit::obj_type, big.last_body.type());
  Echo_Handler blank;
  run(blank, {METHOD_POST, "/t", "  \r\n"});
  EXPECT_TRUE(blank.last_body.is_null());
}

TEST(Dispatch, ExceptionBecomes500) {
  struct Throwing_Handler : JSON_RESTful_Handler {
    int handle_request(JSON_RESTful_Channel*, json_spirit::Value&) override {
      throw std::runtime_error("handler bug");
    }
  } thrower;
  Memory_Channel ch(METHOD_GET, "/x");
  std::string why;
  EXPECT_EQ(-1, run_json_restful_handler(thrower, ch, "", &why));
  EXPECT_EQ(500, ch.reply_status());
  EXPECT_EQ("handler bug", why);
}

}  // namespace
