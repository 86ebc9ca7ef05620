// The web service object that `starter` loads through the service
// configurator, e.g.
//   dynamic Web_Service Service_Object * /abs/libwebsvcs_http.so:_make_Web_Service() "-c /abs/web.conf"
// init reads the configuration (default
// "/etc/opt/quillon/kestrel3/$COMPONENT/web.conf"), loads the handler
// plug-ins of its routes and starts the HTTP server; fini stops the server,
// waits for requests in progress, destroys the handlers and closes the
// plug-ins.
#ifndef WEBSVCS_SERVER_WEB_SERVICE_H
#define WEBSVCS_SERVER_WEB_SERVICE_H

#include <memory>
#include <string>

#include "ace/Service_Object.h"
#include "websvcs/server/http_server.h"
#include "websvcs/server/route_table.h"

class Web_Service : public ACE_Service_Object {
 public:
  static const char* const DEFAULT_CONFIG;

  Web_Service();
  ~Web_Service() override;

  // Options: -c FILE, the configuration file. Returns 0 when the server
  // listens, -1 (logged) otherwise, with nothing left running.
  int init(int argc, ACE_TCHAR* argv[]) override;
  // Idempotent; returns 0.
  int fini() override;
  int info(ACE_TCHAR** info_string, size_t length) const override;

  // The server's address once init succeeded ("" before).
  std::string url() const;
  unsigned int port() const;

 private:
  std::unique_ptr<Route_Table> routes_;
  std::unique_ptr<Http_Server> server_;
};

extern "C" ACE_Service_Object* _make_Web_Service(ACE_Service_Object_Exterminator* gobbler);

#endif
