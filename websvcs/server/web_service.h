// The web service object that `starter` loads through the service
// configurator, e.g.
//   dynamic Web_Service Service_Object * /abs/libwebsvcs_http.so:_make_Web_Service() "-c
//   /abs/web.conf"
// init reads the configuration (default
// "/etc/opt/quillon/kestrel3/$COMPONENT/web.conf"), loads the handler
// plug-ins of its routes and starts the HTTP server; fini stops the server,
// waits for requests in progress, destroys the handlers and closes the
// plug-ins.
//
// Reload (see runtime/hosted_service.h): a service whose web.conf and token
// file hold the same bytes as when it started is kept as it is. A new
// service that listens on the same address and configured port as one
// already running in the process takes over that server's listening socket
// (both accept on it until the old one's fini), so a reload never closes
// the port; on another port it binds its own before the old one goes.
//
// Stop: fini waits for the requests in progress at most STOP_LIMIT once
// the host said it is stopping, and without limit otherwise (an old
// service retired by a reload lets its requests finish). Requests still
// running after the limit are left to the process's exit, with the server
// and the handlers they use.
#ifndef WEBSVCS_SERVER_WEB_SERVICE_H
#define WEBSVCS_SERVER_WEB_SERVICE_H

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "ace/Service_Object.h"
#include "runtime/hosted_service.h"
#include "websvcs/server/http_server.h"
#include "websvcs/server/route_table.h"
#include "websvcs/server/web_config.h"

class Web_Service : public ACE_Service_Object, public Hosted_Service {
 public:
  static const char* const DEFAULT_CONFIG;
  // Below the systemd unit's TimeoutStopSec (600 s), so that a stop that
  // waits for a long robot operation still ends on its own.
  static const std::chrono::seconds STOP_LIMIT;

  Web_Service();
  ~Web_Service() override;

  // Options: -c FILE, the configuration file. Returns 0 when the server
  // listens, -1 (logged) otherwise, with nothing left running.
  int init(int argc, ACE_TCHAR* argv[]) override;
  // Idempotent; returns 0.
  int fini() override;
  int info(ACE_TCHAR** info_string, size_t length) const override;

  // KEEP when web.conf and the token file read as they did at init.
  Reload prepare_reload() override;
  void finish_reload(bool) override {}
  // Later finis wait at most STOP_LIMIT.
  void stopping() override { stopping_ = true; }

  // The server's address once init succeeded ("" before).
  std::string url() const;
  unsigned int port() const;

 private:
  std::string config_path_;
  std::string config_bytes_;  // web.conf as read by init
  Web_Config config_;
  std::string token_;
  std::atomic<bool> stopping_{false};
  std::unique_ptr<Route_Table> routes_;
  std::unique_ptr<Http_Server> server_;
};

extern "C" ACE_Service_Object* _make_Web_Service(ACE_Service_Object_Exterminator* gobbler);

#endif
