// The reply side of one request.
#include "websvcs/framework/json_restful_channel.h"

#include <exception>

#include "json_spirit/json_spirit.h"
#include "websvcs/framework/yajl_gen.h"

namespace {

const char JSON_TYPE[] = "application/json";

}  // namespace

JSON_RESTful_Channel::JSON_RESTful_Channel() : sent_(false) {}

JSON_RESTful_Channel::~JSON_RESTful_Channel() {}

bool JSON_RESTful_Channel::store(const std::string& body, const char* content_type) {
  if (sent_) return false;
  sent_ = true;
  body_ = body;
  content_type_ = content_type;
  return true;
}

int JSON_RESTful_Channel::send_value(const json_spirit::Value& v) {
  if (sent_) return -1;
  std::string text;
  try {
    text = json_spirit::write(v);
  } catch (const std::exception&) {
    return -1;
  }
  return store(text, JSON_TYPE) ? 0 : -1;
}

int JSON_RESTful_Channel::send_generator(JSON_Generator& gen) {
  if (sent_) return -1;
  YAJL_Gen g;
  bool produced = false;
  if (g.get()) {
    try {
      produced = gen.generate(g.get());
    } catch (const std::exception&) {
      produced = false;
    }
  }
  // A finished document refuses any further value with
  // yajl_gen_generation_complete; anything else means the generator left it
  // open (or wrote nothing), and half a document must not go out.
  bool complete = produced && g.get() && yajl_gen_null(g.get()) == yajl_gen_generation_complete;
  if (!complete) {
    send_error(500, -1, "Failed to generate the reply");
    return -1;
  }
  return store(g.text(), JSON_TYPE) ? 0 : -1;
}

int JSON_RESTful_Channel::send_stream(std::unique_ptr<JSON_Stream> stream) {
  if (sent_ || !stream) return -1;
  std::unique_ptr<JSON_Stream_Reader> reader(new JSON_Stream_Reader(std::move(stream)));
  if (!reader->fill(STREAM_PRIME_BYTES)) {
    send_error(500, -1, "Failed to generate the reply");
    return -1;
  }
  if (!reader->complete()) {
    if (!store(std::string(), JSON_TYPE)) return -1;
    stream_ = std::move(reader);
    return 0;
  }
  std::string body(reader->waiting(), '\0');
  if (reader->read(&body[0], body.size()) != static_cast<long>(body.size())) {
    send_error(500, -1, "Failed to generate the reply");
    return -1;
  }
  return store(body, JSON_TYPE) ? 0 : -1;
}

void JSON_RESTful_Channel::drain_stream() {
  if (!stream_) return;
  std::unique_ptr<JSON_Stream_Reader> reader = std::move(stream_);
  std::string body;
  char buf[16384];
  long n = 0;
  while ((n = reader->read(buf, sizeof buf)) > 0) body.append(buf, static_cast<std::size_t>(n));
  if (n < 0) {
    sent_ = false;
    send_error(500, -1, "Failed to generate the reply");
    return;
  }
  body_ = std::move(body);
}

int JSON_RESTful_Channel::send_text(const std::string& body, const char* content_type) {
  if (sent_ || !content_type || !*content_type) return -1;
  // The type becomes a header line: a line break would let it add headers.
  for (const char* c = content_type; *c; ++c)
    if (static_cast<unsigned char>(*c) < 0x20 || *c == 0x7f) return -1;
  return store(body, content_type) ? 0 : -1;
}

int JSON_RESTful_Channel::send_error(int status, int code, const char* message) {
  if (sent_) return -1;
  if (status < 400 || status > 599) status = 500;
  response_.status(status, nullptr);
  json_spirit::Object o;
  o["status"] = status;
  o["code"] = code;
  o["message"] = message ? message : "";
  return store(json_spirit::write(o), JSON_TYPE) ? 0 : -1;
}

void JSON_RESTful_Channel::complete(int handler_result) {
  if (sent_) return;
  if (response_.status() != 0) {
    // The handler chose the status and no body.
    store(std::string(), "");
    return;
  }
  if (handler_result == 0) {
    response_.status(200, nullptr);
    store(std::string(), "");
    return;
  }
  send_error(500, -1, "The request failed");
}

int JSON_RESTful_Channel::reply_status() const {
  return response_.status() != 0 ? response_.status() : 200;
}
