// The web service object.
#include "websvcs/server/web_service.h"

#include <algorithm>
#include <fstream>
#include <mutex>
#include <new>
#include <sstream>
#include <vector>

#include "ace/Get_Opt.h"
#include "ace/Log_Msg.h"
#include "ace/OS_NS_stdlib.h"
#include "ace/OS_NS_string.h"
#include "websvcs/server/default_routes.h"
#include "websvcs/server/token.h"

const char* const Web_Service::DEFAULT_CONFIG = "/etc/opt/quillon/kestrel3/$COMPONENT/web.conf";
const std::chrono::seconds Web_Service::STOP_LIMIT(540);

namespace {

// The default path with environment references expanded.
std::string default_config_path() {
  ACE_TCHAR* p = ACE_OS::strenvdup(ACE_TEXT(Web_Service::DEFAULT_CONFIG));
  if (!p) return Web_Service::DEFAULT_CONFIG;
  std::string s(ACE_TEXT_ALWAYS_CHAR(p));
  ACE_OS::free(p);
  return s;
}

// The file's bytes; false when it cannot be read.
bool read_bytes(const std::string& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  bytes = s.str();
  return !in.bad();
}

// The process's running servers, so that a new service can take over the
// listening socket of the one it replaces.
struct Running {
  std::string listen;
  unsigned int port;  // as configured (0: any)
  const Http_Server* server;
};
std::mutex g_running_mutex;
std::vector<Running> g_running;

// A descriptor of the listening socket of a running server configured for
// the same address and port, -1 when there is none.
int take_over_listener(const Web_Config& config) {
  std::lock_guard<std::mutex> lock(g_running_mutex);
  for (const Running& r : g_running) {
    if (r.listen == config.listen && r.port == config.port) return r.server->share_listener();
  }
  return -1;
}

void forget_running(const Http_Server* server) {
  std::lock_guard<std::mutex> lock(g_running_mutex);
  g_running.erase(std::remove_if(g_running.begin(), g_running.end(),
                                 [server](const Running& r) { return r.server == server; }),
                  g_running.end());
}

}  // namespace

Web_Service::Web_Service() {}

Web_Service::~Web_Service() { fini(); }

int Web_Service::init(int argc, ACE_TCHAR* argv[]) {
  fini();
  std::string config_path;
  // The directive's words start at argv[0]; none is a program name.
  ACE_Get_Opt opt(argc, argv, ACE_TEXT("c:"), 0, 1);
  for (int c; (c = opt()) != -1;) {
    if (c == 'c') {
      config_path = ACE_TEXT_ALWAYS_CHAR(opt.opt_arg());
    } else {
      ACE_ERROR_RETURN((LM_ERROR, ACE_TEXT("Failed to start the web service: unknown option, "
                                           "usage: -c <web.conf>\n")),
                       -1);
    }
  }
  if (config_path.empty()) config_path = default_config_path();

  Web_Config config;
  std::string error, bytes;
  read_bytes(config_path, bytes);
  if (!load_web_config(config_path, config, error))
    ACE_ERROR_RETURN((LM_ERROR, ACE_TEXT("Failed to start the web service: %C\n"), error.c_str()),
                     -1);
  std::string token;
  if (!config.token_file.empty() && !read_token_file(config.token_file, token, error))
    ACE_ERROR_RETURN((LM_ERROR, ACE_TEXT("Failed to start the web service: %C\n"), error.c_str()),
                     -1);

  std::unique_ptr<Route_Table> routes(new (std::nothrow) Route_Table);
  if (!routes)
    ACE_ERROR_RETURN((LM_ERROR, ACE_TEXT("Failed to start the web service: out of memory\n")), -1);
  if (config.default_routes) config.routes = merge_routes(default_routes(), config.routes);
  if (!routes->load(config.routes, own_module_dir(), error))
    ACE_ERROR_RETURN((LM_ERROR, ACE_TEXT("Failed to start the web service: %C\n"), error.c_str()),
                     -1);

  std::unique_ptr<Http_Server> server(new (std::nothrow) Http_Server(config, *routes, token));
  const int listener = server ? take_over_listener(config) : -1;
  if (!server || !server->start(error, listener))
    ACE_ERROR_RETURN((LM_ERROR, ACE_TEXT("Failed to start the web service: %C\n"),
                      server ? error.c_str() : "out of memory"),
                     -1);
  routes_ = std::move(routes);
  server_ = std::move(server);
  config_path_ = config_path;
  config_bytes_ = bytes;
  config_ = config;
  token_ = token;
  {
    std::lock_guard<std::mutex> lock(g_running_mutex);
    g_running.push_back({config.listen, config.port, server_.get()});
  }
  ACE_DEBUG((LM_INFO, ACE_TEXT("Web service listening on %C with %u routes%C%C\n"),
             server_->url().c_str(), static_cast<unsigned int>(routes_->size()),
             token.empty() ? "" : ", bearer token required",
             listener >= 0 ? ", socket taken over from the service it replaces" : ""));
  return 0;
}

int Web_Service::fini() {
  if (!server_) return 0;
  forget_running(server_.get());
  // The server goes first: no request may reach a handler being destroyed.
  if (!server_->stop(stopping_ ? std::chrono::steady_clock::duration(STOP_LIMIT)
                               : std::chrono::steady_clock::duration::max())) {
    ACE_ERROR((LM_ERROR,
               ACE_TEXT("Web service on %C: requests still running after %d s are left to "
                        "finish with the process\n"),
               server_->url().c_str(), static_cast<int>(STOP_LIMIT.count())));
    // Their handlers still use the server and the routes.
    server_.release();
    routes_.release();
    return 0;
  }
  server_.reset();
  routes_.reset();
  return 0;
}

Hosted_Service::Reload Web_Service::prepare_reload() {
  std::string bytes, token, error;
  if (!server_ || !read_bytes(config_path_, bytes) || bytes != config_bytes_) return REPLACE;
  if (!config_.token_file.empty() &&
      (!read_token_file(config_.token_file, token, error) || token != token_))
    return REPLACE;
  return KEEP;
}

int Web_Service::info(ACE_TCHAR** info_string, size_t length) const {
  std::string s = "Web_Service " + url() + "\n";
  if (!info_string) return -1;
  if (!*info_string) {
    *info_string = ACE_OS::strdup(ACE_TEXT_CHAR_TO_TCHAR(s.c_str()));
  } else {
    ACE_OS::strsncpy(*info_string, ACE_TEXT_CHAR_TO_TCHAR(s.c_str()), length);
  }
  return static_cast<int>(ACE_OS::strlen(*info_string));
}

std::string Web_Service::url() const { return server_ ? server_->url() : std::string(); }

unsigned int Web_Service::port() const { return server_ ? server_->port() : 0; }
