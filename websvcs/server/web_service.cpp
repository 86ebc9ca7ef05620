// The web service object.
#include "websvcs/server/web_service.h"

#include <new>

#include "ace/Get_Opt.h"
#include "ace/Log_Msg.h"
#include "ace/OS_NS_stdlib.h"
#include "ace/OS_NS_string.h"
#include "websvcs/server/token.h"
#include "websvcs/server/web_config.h"

const char* const Web_Service::DEFAULT_CONFIG = "/etc/opt/quillon/kestrel3/$COMPONENT/web.conf";

namespace {

// The default path with environment references expanded.
std::string default_config_path() {
  ACE_TCHAR* p = ACE_OS::strenvdup(ACE_TEXT(Web_Service::DEFAULT_CONFIG));
  if (!p) return Web_Service::DEFAULT_CONFIG;
  std::string s(ACE_TEXT_ALWAYS_CHAR(p));
  ACE_OS::free(p);
  return s;
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
  std::string error;
  if (!load_web_config(config_path, config, error))
    ACE_ERROR_RETURN(
        (LM_ERROR, ACE_TEXT("Failed to start the web service: %C\n"), error.c_str()), -1);
  std::string token;
  if (!config.token_file.empty() && !read_token_file(config.token_file, token, error))
    ACE_ERROR_RETURN(
        (LM_ERROR, ACE_TEXT("Failed to start the web service: %C\n"), error.c_str()), -1);

  std::unique_ptr<Route_Table> routes(new (std::nothrow) Route_Table);
  if (!routes)
    ACE_ERROR_RETURN((LM_ERROR, ACE_TEXT("Failed to start the web service: out of memory\n")),
                     -1);
  if (!routes->load(config.routes, own_module_dir(), error))
    ACE_ERROR_RETURN(
        (LM_ERROR, ACE_TEXT("Failed to start the web service: %C\n"), error.c_str()), -1);

  std::unique_ptr<Http_Server> server(new (std::nothrow) Http_Server(config, *routes, token));
  if (!server || !server->start(error))
    ACE_ERROR_RETURN((LM_ERROR, ACE_TEXT("Failed to start the web service: %C\n"),
                      server ? error.c_str() : "out of memory"),
                     -1);
  routes_ = std::move(routes);
  server_ = std::move(server);
  ACE_DEBUG((LM_INFO, ACE_TEXT("Web service listening on %C with %u routes%C\n"),
             server_->url().c_str(), static_cast<unsigned int>(routes_->size()),
             token.empty() ? "" : ", bearer token required"));
  return 0;
}

int Web_Service::fini() {
  // The server goes first: no request may reach a handler being destroyed.
  if (server_) server_->stop();
  server_.reset();
  routes_.reset();
  return 0;
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
