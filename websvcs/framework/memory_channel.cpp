// In-memory channel for handler tests.
#include "websvcs/framework/memory_channel.h"

#include "json_spirit/json_spirit.h"

Memory_Channel::Memory_Channel(int method, const std::string& target) {
  request_.set_method(method);
  request_.set_target(target);
  request_.set_remote_addr("127.0.0.1");
}

Memory_Channel& Memory_Channel::set_method(int m) {
  request_.set_method(m);
  return *this;
}

Memory_Channel& Memory_Channel::set_target(const std::string& target) {
  request_.set_target(target);
  return *this;
}

Memory_Channel& Memory_Channel::set_header(const std::string& name, const std::string& value) {
  request_.set_header(name, value);
  return *this;
}

Memory_Channel& Memory_Channel::set_remote_addr(const std::string& addr) {
  request_.set_remote_addr(addr);
  return *this;
}

Memory_Channel& Memory_Channel::set_uri_suffix(const std::string& suffix) {
  request_.set_uri_suffix(suffix);
  return *this;
}

Memory_Channel& Memory_Channel::set_body(const std::string& text) {
  body_text_ = text;
  return *this;
}

int Memory_Channel::run(JSON_RESTful_Handler& handler) {
  const int r = run_json_restful_handler(handler, *this, body_text_);
  drain_stream();
  return r;
}

json_spirit::Value Memory_Channel::body_json() const {
  json_spirit::Value v;
  if (!body().empty()) json_spirit::read(body(), v);
  return v;
}
