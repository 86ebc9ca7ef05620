// A handler base that parses the request and dispatches by HTTP method.
//
// handle_request runs these steps in order; a hook that returns non-zero,
// sends a reply or sets a status stops the dispatch, and what it returned
// is the request's result (a hook that stops replies itself, normally
// through send_error):
//   1. the method must be one the handler accepts (constructor mask): 405
//   2. handle_uri_suffix: the part of the path below the route must match
//      the method's uri suffix pattern (none by default): 404
//   3. handle_query_string: parses and percent-decodes the query: 400
//   4. handle_headers: copies the request headers
//   5. the method's auth modes: AUTH_LOOPBACK refuses other clients: 403
//   6. the method's filters (FILTER_* below): 400
//   7. check_request, check_session (accept everything by default)
//   8. handle_head / handle_get / handle_post / handle_put / handle_delete;
//      each answers 405 unless overridden. Other methods get 405.
// The bearer token of the server, when one is configured, is checked by the
// server before any handler runs.
#ifndef WEBSVCS_FRAMEWORK_JSON_RESTFUL_HANDLER_IMPL2_H
#define WEBSVCS_FRAMEWORK_JSON_RESTFUL_HANDLER_IMPL2_H

#include <map>
#include <string>

#include "json_spirit/json_spirit_value.h"
#include "websvcs/framework/json_restful_handler.h"

class JSON_RESTful_Handler_Impl2 : public JSON_RESTful_Handler {
 public:
  // Auth modes (bits).
  enum { AUTH_SERVER = 0, AUTH_LOOPBACK = 1 };
  // Filters (bits).
  enum {
    FILTER_NONE = 0,
    FILTER_BODY_OBJECT = 1,  // the body must be a JSON object
    FILTER_NO_BODY = 2       // the request must carry no body
  };

  // What the dispatch learnt about the request.
  struct Parsed_Request {
    Parsed_Request() : loopback(false) {}
    std::map<std::string, std::string> headers;  // names in lower case
    json_spirit::Value body;                     // null when there was none
    std::string remote_addr;
    bool loopback;
    std::string select_sql;  // left empty by this framework
    // Query parameters, percent-decoded, '+' read as a space. A name given
    // twice keeps its first value.
    std::map<std::string, std::string> query_string;
    json_spirit::Value sess;            // null unless check_session sets it
    json_spirit::Object extended_attrs;  // free for the hooks' own use
    // Values captured by "{name}" segments of the uri suffix pattern.
    std::map<std::string, std::string> uri_path_variables;
  };

  // `methods`: bit (1UL << code) set for every method code the handler
  // accepts (~0UL for all). `flags`: reserved, pass 0.
  JSON_RESTful_Handler_Impl2(unsigned long methods, unsigned int flags);
  ~JSON_RESTful_Handler_Impl2() override;

  int handle_request(JSON_RESTful_Channel* channel, json_spirit::Value& body) override;

  virtual int handle_uri_suffix(JSON_RESTful_Channel* channel, Parsed_Request& req);
  virtual int handle_query_string(JSON_RESTful_Channel* channel, Parsed_Request& req);
  virtual int handle_headers(JSON_RESTful_Channel* channel, Parsed_Request& req);

  // AUTH_* bits per method; AUTH_SERVER by default.
  virtual unsigned int head_auth_modes() const;
  virtual unsigned int get_auth_modes() const;
  virtual unsigned int post_auth_modes() const;
  virtual unsigned int put_auth_modes() const;
  virtual unsigned int delete_auth_modes() const;

  // FILTER_* bits per method; FILTER_NONE by default.
  virtual unsigned int head_filters() const;
  virtual unsigned int get_filters() const;
  virtual unsigned int post_filters() const;
  virtual unsigned int put_filters() const;
  virtual unsigned int delete_filters() const;

  // Pattern the uri suffix must match: segments separated by "/", a
  // "{name}" segment matches any one non-empty segment and captures it.
  // Null (the default) means no suffix is allowed.
  virtual const char* head_uri_suffix_pattern() const;
  virtual const char* get_uri_suffix_pattern() const;
  virtual const char* post_uri_suffix_pattern() const;
  virtual const char* put_uri_suffix_pattern() const;
  virtual const char* delete_uri_suffix_pattern() const;

  virtual int check_request(JSON_RESTful_Channel* channel, Parsed_Request& req);
  virtual int check_session(JSON_RESTful_Channel* channel, Parsed_Request& req);

  virtual int handle_head(JSON_RESTful_Channel* channel, Parsed_Request& req);
  virtual int handle_get(JSON_RESTful_Channel* channel, Parsed_Request& req);
  virtual int handle_post(JSON_RESTful_Channel* channel, Parsed_Request& req);
  virtual int handle_put(JSON_RESTful_Channel* channel, Parsed_Request& req);
  virtual int handle_delete(JSON_RESTful_Channel* channel, Parsed_Request& req);

 protected:
  unsigned long methods_;
  unsigned int flags_;
};

#endif
