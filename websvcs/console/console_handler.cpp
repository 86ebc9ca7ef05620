// The console handler.
#include "websvcs/console/console_handler.h"

#include <ace/Log_Msg.h>

#include <cerrno>
#include <new>

#include "websvcs/framework/json_restful_channel.h"

namespace {
// Scripts, styles, images and requests of this origin only; the page is
// never framed by another site.
const char* const SECURITY_POLICY =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
    "connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";
}  // namespace

int Console_Handler::init(int argc, char** argv) {
  const std::string dir =
      argc > 0 && argv[0] && *argv[0] ? argv[0] : console::default_console_dir();
  if (!files_.load(dir, load_error_)) {
    ACE_ERROR((LM_ERROR, ACE_TEXT("Console disabled: %C\n"), load_error_.c_str()));
  }
  return 0;
}

int Console_Handler::handle_request(JSON_RESTful_Channel* channel, json_spirit::Value&) {
  const int method = channel->request().method();
  if (method != METHOD_GET && method != METHOD_HEAD) {
    channel->response()->header("Allow", "GET, HEAD");
    return channel->send_error(405, -1, "Method not allowed");
  }
  // Why the files are missing (with their folder) was logged at init; the
  // reply names no path.
  if (!load_error_.empty())
    return channel->send_error(503, -1, "The console files are not installed");
  const std::string& suffix = channel->request().uri_suffix();
  const console::Static_File* f = files_.find(suffix.empty() ? "index.html" : suffix);
  if (f == nullptr) return channel->send_error(404, -1, "No such console file");
  CGI_Response* r = channel->response();
  r->header("Cache-Control", "no-cache");
  r->header("X-Content-Type-Options", "nosniff");
  r->header("X-Frame-Options", "DENY");
  r->header("Referrer-Policy", "no-referrer");
  r->header("Content-Security-Policy", SECURITY_POLICY);
  return channel->send_text(f->body, f->content_type.c_str());
}

namespace {
void _gobble_Console_Handler(void* p) { delete static_cast<JSON_RESTful_Handler*>(p); }
}  // namespace

extern "C" JSON_RESTful_Handler* _make_Console_Handler(void (**gobbler)(void*)) {
  if (gobbler != nullptr) *gobbler = _gobble_Console_Handler;
  JSON_RESTful_Handler* h = new (std::nothrow) Console_Handler();
  if (h == nullptr) errno = ENOMEM;
  return h;
}
