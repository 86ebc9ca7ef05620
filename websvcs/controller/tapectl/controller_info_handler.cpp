// The controller-info handler.
#include "websvcs/controller/tapectl/controller_info_handler.h"

#include <ace/Log_Msg.h>

#include <cerrno>
#include <new>
#include <vector>

#include "d2t/tools/diagnosis.h"
#include "d2t/tools/provider.h"
#include "d2t/tools/tools.h"
#include "d2t/util/log_text.h"
#include "host/host_manager.h"
#include "json_spirit/json_helpers.h"

int JSON_RESTful_Controller_Info_Handler::handle_get(JSON_RESTful_Channel* channel,
                                                     Parsed_Request&) {
  std::vector<d2t::Changer_var> changers;
  std::vector<d2t::Drive_var> drives;
  if (!d2t::tools::lsscsi(changers, drives)) {
    ACE_ERROR(
        (LM_ERROR, ACE_TEXT("Failed to list devices: %C\n"), d2t::tools::listing_error().c_str()));
    return channel->send_error(500, -1, "Failed to list devices");
  }
  for (const std::string& why : d2t::tools::listing_left_out())
    ACE_ERROR((LM_WARNING, ACE_TEXT("Device left out of the listing: %C\n"), why.c_str()));
  std::string emulated;
  if (d2t::tools::on_emulator(&emulated)) {
    ACE_DEBUG((LM_INFO,
               ACE_TEXT("info: devices listed from the emulated tape library %C, not from "
                        "real hardware\n"),
               d2t::log_text(emulated.empty() ? "(set by the program)" : emulated).c_str()));
  }

  json_spirit::Object info;
  info["host_uuid"] = Host_Manager::instance()->uuid();
  json_spirit::Array& list = json_spirit::to_new_array(info["changers"]);
  for (const d2t::Changer_var& c : changers) {
    if (c.get() == nullptr) continue;
    c->to_json(json_spirit::append_new_object(list));
  }
  return channel->send_value(info);
}

namespace {
void _gobble_JSON_RESTful_Controller_Info_Handler(void* p) {
  delete static_cast<JSON_RESTful_Handler*>(p);
}
}  // namespace

extern "C" JSON_RESTful_Handler* _make_JSON_RESTful_Controller_Info_Handler(
    void (**gobbler)(void*)) {
  if (gobbler != nullptr) *gobbler = _gobble_JSON_RESTful_Controller_Info_Handler;
  JSON_RESTful_Handler* h = new (std::nothrow) JSON_RESTful_Controller_Info_Handler();
  if (h == nullptr) errno = ENOMEM;
  return h;
}
