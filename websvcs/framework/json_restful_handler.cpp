// Handler base class and the common path of one request through a handler.
#include "websvcs/framework/json_restful_handler.h"

#include <exception>

#include "json_spirit/json_spirit.h"
#include "websvcs/framework/json_restful_channel.h"

JSON_RESTful_Handler::~JSON_RESTful_Handler() {}

int JSON_RESTful_Handler::init(int, char**) { return 0; }

int JSON_RESTful_Handler::fini() { return 0; }

JSON_RESTful_Handler::CONCURRENCY JSON_RESTful_Handler::concurrency() const { return INHERITED; }

unsigned int JSON_RESTful_Handler::traits() const { return TAKES_BODY; }

namespace {

bool blank(const std::string& s) { return s.find_first_not_of(" \t\r\n") == std::string::npos; }

}  // namespace

int run_json_restful_handler(JSON_RESTful_Handler& handler, JSON_RESTful_Channel& channel,
                             const std::string& body_text, std::string* failure) {
  json_spirit::Value body;
  if (!blank(body_text)) {
    std::string why;
    if (!json_spirit::read(body_text, body, &why)) {
      std::string msg = "Malformed JSON body";
      if (!why.empty()) msg += ": " + why;
      channel.send_error(400, -1, msg.c_str());
      channel.complete(-1);
      return -1;
    }
  }
  int r = -1;
  try {
    r = handler.handle_request(&channel, body);
  } catch (const std::exception& e) {
    if (failure) *failure = e.what();
    r = -1;
    channel.send_error(500, -1, "The request failed");
  } catch (...) {
    if (failure) *failure = "unknown exception";
    r = -1;
    channel.send_error(500, -1, "The request failed");
  }
  channel.complete(r);
  return r;
}
