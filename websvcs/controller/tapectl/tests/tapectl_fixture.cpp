#include "websvcs/controller/tapectl/tests/tapectl_fixture.h"

#include <memory>
#include <vector>

#include "d2t/controller/tape_controller.h"
#include "d2t/tools/provider.h"
#include "database/manager.h"
#include "json_spirit/json_helpers.h"
#include "json_spirit/json_spirit.h"

namespace tapectl_test {

json_spirit::Object Reply::obj() const {
  return json.type() == json_spirit::obj_type ? json.get_obj() : json_spirit::Object();
}

std::string Reply::message() const {
  const json_spirit::Object o = obj();
  const std::string* m = json_spirit::object_get_str(o, "message");
  return m ? *m : std::string();
}

Reply run(JSON_RESTful_Handler& handler, int method, const std::string& target,
          const std::string& body) {
  Memory_Channel ch(method, target);
  if (!body.empty()) ch.set_body(body);
  Reply r;
  r.result = ch.run(handler);
  r.status = ch.reply_status();
  r.body = ch.body();
  r.json = ch.body_json();
  return r;
}

std::string move_body(const std::string& tag, int from, int to, const std::string& serial) {
  return R"({"serial_number": ")" + serial + R"(", "media_tag": ")" + tag + R"(", "from": )" +
         std::to_string(from) + R"(, "to": )" + std::to_string(to) + "}";
}

std::string sample_library(const std::string& faults) {
  return R"({
  "state_file": "library.state",
  "changers": [{
    "serial_number": "LIB-1", "target_name": "1:0:0", "lun": 0, "sg_name": "/dev/sg10",
    "storage_slots": 8, "porter_slots": 1,
    "drives": [
      {"serial_number": "LIB-1-D0", "target_name": "2:0:0", "sg_name": "/dev/sg20", "dev_name": "/dev/st0"},
      {"serial_number": "LIB-1-D1", "target_name": "2:0:1", "sg_name": "/dev/sg21", "dev_name": "/dev/st1"}
    ],
    "cartridges": [
      {"slot": 1, "barcode": "T0001L9", "capacity": 18000000000000},
      {"slot": 2, "barcode": "T0002L9", "capacity": 18000000000000},
      {"slot": 3, "barcode": "T0003L9", "capacity": 18000000000000},
      {"slot": 4, "barcode": "T0004L9", "capacity": 12000000000000},
      {"slot": 6, "barcode": "CLN001L1", "cleaning": true},
      {"slot": 7, "barcode": ""}
    ],
    "faults": )" +
         faults + R"(
  }]
})";
}

void Tapectl_Test::SetUp() {
  Tape_Controller::close_instance();
  ASSERT_NO_FATAL_FAILURE(Library_Test::SetUp());
  d2t::tools::set_clock(std::make_shared<d2t::tools::Manual_Clock>());
}

void Tapectl_Test::TearDown() {
  Tape_Controller::close_instance();
  d2t::tools::set_clock(nullptr);
  Library_Test::TearDown();
}

bool Tapectl_Test::open_controller() {
  Tape_Controller* c = Tape_Controller::instance();
  if (c == nullptr) return false;
  c->config_path(dir_.file("media_controller.conf"));  // absent: defaults
  c->clock(std::make_shared<Manual_Controller_Clock>());
  return c->open();
}

void Tapectl_Test::open_sample() {
  ASSERT_NO_FATAL_FAILURE(use_library(sample_library()));
  ASSERT_TRUE(open_controller());
  std::vector<d2t::Changer_var> changers;
  ASSERT_TRUE(Tape_Controller::instance()->rescan("LIB-1", changers));
  bool found = false;
  for (const d2t::Changer_var& c : changers) found = found || match_changer(c, "LIB-1");
  ASSERT_TRUE(found) << "the sample library was not scanned";
}

}  // namespace tapectl_test
