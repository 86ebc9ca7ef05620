// Everything a REST handler plug-in needs from the framework.
#ifndef WEBSVCS_FRAMEWORK_FRAMEWORK_H
#define WEBSVCS_FRAMEWORK_FRAMEWORK_H

#include "websvcs/framework/cgi_response.h"
#include "websvcs/framework/json_generator.h"
#include "websvcs/framework/json_restful_channel.h"
#include "websvcs/framework/json_restful_handler.h"
#include "websvcs/framework/json_restful_handler_impl2.h"
#include "websvcs/framework/json_restful_request.h"
#include "websvcs/framework/yajl_gen.h"

#endif
