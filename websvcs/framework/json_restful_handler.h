// Base class of the REST handlers that a web server routes requests to.
//
// A plug-in library exports, for each handler class X, a factory
//   extern "C" JSON_RESTful_Handler* _make_X(void (**gobbler)(void*));
// that stores the matching destroyer through `gobbler` when it is not null
// and returns a new handler (null with errno ENOMEM on allocation failure).
// The server calls init() once before the first request, fini() once after
// the last, and destroys the handler through the stored destroyer.
#ifndef WEBSVCS_FRAMEWORK_JSON_RESTFUL_HANDLER_H
#define WEBSVCS_FRAMEWORK_JSON_RESTFUL_HANDLER_H

#include <string>

#include "json_spirit/json_spirit_value.h"

class JSON_RESTful_Channel;

class JSON_RESTful_Handler {
 public:
  // How the server may run the handler's requests.
  //   THREAD: each request in a thread of its own, several at once; the
  //           handler must be thread-safe.
  //   INHERITED, REACTIVE, PROACTIVE: the handler is not assumed to be
  //           thread-safe; the server runs one of its requests at a time.
  enum CONCURRENCY { INHERITED = 0, REACTIVE = 1, THREAD = 2, PROACTIVE = 3 };

  virtual ~JSON_RESTful_Handler();
  // Called once after creation with the route's arguments; 0 on success,
  // -1 to refuse (the route is then not served).
  virtual int init(int argc, char** argv);
  // Called once before destruction; returns 0.
  virtual int fini();
  // The default is INHERITED.
  virtual CONCURRENCY concurrency() const;

  // What the server may rely on about this handler's requests (bits):
  //   READ_ONLY: it answers without waiting for robot work or a library's
  //     queue (from memory, the database, or a device listing), so the
  //     server runs its requests on workers kept for such requests, and
  //     they answer while robot work fills the others.
  //   TAKES_BODY: some request it serves reads a body. A request to a
  //     handler without it that carries a body is refused before the body
  //     is read.
  enum TRAIT { READ_ONLY = 1, TAKES_BODY = 2 };
  // The default is TAKES_BODY: a handler that says nothing may read a body
  // and may wait.
  virtual unsigned int traits() const;
  // Handles one request. `body` is the parsed JSON body (null when the
  // request had none); the handler may move from it. Replies through
  // `channel`. Returns 0, or the result of the send call it made; a
  // non-zero result with nothing sent gives a 500 reply.
  virtual int handle_request(JSON_RESTful_Channel* channel, json_spirit::Value& body) = 0;
};

// Type of the exported factories and of the destroyers they hand out.
typedef void (*JSON_RESTful_Handler_Gobbler)(void*);
typedef JSON_RESTful_Handler* (*JSON_RESTful_Handler_Factory)(JSON_RESTful_Handler_Gobbler*);

// Runs one request through `handler`: parses `body_text` as JSON (empty
// text gives null), answers 400 "Malformed JSON body: <reason>" without
// calling the handler when it does not parse, otherwise calls
// handle_request, and then completes the channel's reply
// (JSON_RESTful_Channel::complete). An exception escaping the handler
// becomes a 500 reply, and its text is stored in `*failure` when `failure`
// is not null (for the caller to log). Returns the handler's result (-1
// when it was not called or threw). Does not serialise: the caller honours
// concurrency(). Logs nothing.
int run_json_restful_handler(JSON_RESTful_Handler& handler, JSON_RESTful_Channel& channel,
                             const std::string& body_text, std::string* failure = nullptr);

#endif
