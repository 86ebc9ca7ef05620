// GET / , /ui/ and /ui/<file>: the operator's web console, static files
// read from a folder when the handler starts.
//
// Route arguments: optional folder of the files (default
// console::default_console_dir(), i.e. <prefix>/share/console beside the
// plug-in's lib folder). A route with an empty uri suffix gets
// "index.html"; a prefix route's suffix names the file.
//
// Replies:
//   200  the file, with its content type; no caching without revalidation,
//        no sniffing, no framing, and a content security policy that
//        allows only this origin's scripts, styles and connections
//   404  "No such console file" for an unknown name
//   405  methods other than GET and HEAD
//   503  "The console files are not installed: <why>" when start-up could
//        not read them (logged once then; the REST routes keep working)
#ifndef WEBSVCS_CONSOLE_CONSOLE_HANDLER_H
#define WEBSVCS_CONSOLE_CONSOLE_HANDLER_H

#include <string>

#include "websvcs/console/console_files.h"
#include "websvcs/framework/json_restful_handler.h"

class Console_Handler : public JSON_RESTful_Handler {
 public:
  // Reads the files; always 0 (missing files are answered with 503).
  int init(int argc, char** argv) override;
  // Read-only after init: requests run concurrently.
  CONCURRENCY concurrency() const override { return THREAD; }
  // Serves files from memory and reads no body.
  unsigned int traits() const override { return READ_ONLY; }
  int handle_request(JSON_RESTful_Channel* channel, json_spirit::Value& body) override;

 private:
  console::Console_Files files_;
  std::string load_error_;
};

extern "C" JSON_RESTful_Handler* _make_Console_Handler(void (**gobbler)(void*));

#endif
