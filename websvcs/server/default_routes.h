// The routes the web service serves without being told: the tape
// controller's REST handlers, its metrics and the web console.
//
// They live in the code, not in web.conf, so that a release that adds a
// route serves it even where the administrator's edited web.conf (a kept
// configuration file) predates it. The file's "routes" still add routes
// and replace a default one by giving its path; "default_routes": false
// serves the file's routes alone.
#ifndef WEBSVCS_SERVER_DEFAULT_ROUTES_H
#define WEBSVCS_SERVER_DEFAULT_ROUTES_H

#include <vector>

#include "websvcs/server/web_config.h"

// The built-in routes, in the order they are loaded.
std::vector<Web_Route_Config> default_routes();

// `configured` laid over `defaults`: every default route, replaced by the
// configured route with the same path where there is one, then the
// configured routes with other paths in their order.
std::vector<Web_Route_Config> merge_routes(const std::vector<Web_Route_Config>& defaults,
                                           const std::vector<Web_Route_Config>& configured);

#endif
