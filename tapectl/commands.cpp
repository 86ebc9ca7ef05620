// The subcommand table: each subcommand's help, request and rendering.
#include "tapectl/commands.h"

#include <cctype>

#include "json_spirit/json_helpers.h"
#include "json_spirit/json_spirit.h"
#include "tapectl/tables.h"

namespace tapectl {

namespace {

const std::string API = "/d2/r/tapectl";

std::string percent_encode(const std::string& s) {
  static const char HEX[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += HEX[c >> 4];
      out += HEX[c & 15];
    }
  }
  return out;
}

Command_Request get(const std::string& path) {
  Command_Request r;
  r.path = API + path;
  return r;
}

Command_Request post(const std::string& path, const json_spirit::Object& body) {
  Command_Request r;
  r.method = "POST";
  r.path = API + path;
  r.body = json_spirit::write(body);
  return r;
}

// A reply naming at least one library: the list and the inventory of one
// library answer an empty array when the library is not there.
bool names_a_library(const json_spirit::Value& reply) {
  return reply.type() == json_spirit::array_type && !reply.get_array().empty();
}

Command_Request status_request(const Operands& arg) {
  return get("/inventory" + (arg.empty() ? "" : "?serial_number=" + percent_encode(arg[0])));
}
bool render_status(const json_spirit::Value& reply, const Operands& arg, bool colour,
                   std::string& out) {
  if (!arg.empty() && !names_a_library(reply)) return false;
  out += render_inventory(reply, colour);
  return true;
}

Command_Request libraries_request(const Operands&) { return get("/info"); }
bool render_libraries_reply(const json_spirit::Value& reply, const Operands&, bool colour,
                            std::string& out) {
  out += render_libraries(reply, colour);
  return true;
}

Command_Request ops_request(const Operands&) { return get("/operations"); }
bool render_ops(const json_spirit::Value& reply, const Operands&, bool colour, std::string& out) {
  out += render_operations(reply, colour);
  return true;
}

Command_Request refresh_request(const Operands& arg) {
  return get("/changer/refresh?serial_number=" + percent_encode(arg[0]));
}
bool render_refresh_reply(const json_spirit::Value& reply, const Operands&, bool colour,
                          std::string& out) {
  out += render_refresh(reply, colour);
  return true;
}

std::string rescan_question(const Operands& arg) {
  return "Rescanning " + arg[0] +
         " MOVES CARTRIDGES: every drive is emptied and cartridges are loaded into\n"
         "each drive to identify it; this can take minutes. Continue? [y/N] ";
}
Command_Request rescan_request(const Operands& arg) {
  return get("/list?serial_number=" + percent_encode(arg[0]));
}
bool render_rescan(const json_spirit::Value& reply, const Operands&, bool colour,
                   std::string& out) {
  if (!names_a_library(reply)) return false;
  out += render_inventory(reply, colour);
  return true;
}

Command_Request load_request(const Operands& arg) {
  json_spirit::Object o;
  o["serial_number"] = arg[0];
  o["media_tag"] = arg[1];
  return post("/drive/load", o);
}
bool render_load(const json_spirit::Value&, const Operands& arg, bool, std::string& out) {
  out += "Loaded " + arg[1] + " into drive " + arg[0] + ".\n";
  return true;
}

Command_Request unload_request(const Operands& arg) {
  json_spirit::Object o;
  o["serial_number"] = arg[0];
  return post("/drive/unload", o);
}
bool render_unload(const json_spirit::Value&, const Operands& arg, bool, std::string& out) {
  out += "Unloaded drive " + arg[0] + ".\n";
  return true;
}

Command_Request move_request(const Operands& arg) {
  json_spirit::Object o;
  o["serial_number"] = arg[0];
  o["media_tag"] = arg[1];
  o["from"] = std::stoi(arg[2]);
  o["to"] = std::stoi(arg[3]);
  return post("/media/transfer", o);
}
bool render_move(const json_spirit::Value&, const Operands& arg, bool, std::string& out) {
  out +=
      "Moved " + arg[1] + " from slot " + arg[2] + " to slot " + arg[3] + " of " + arg[0] + ".\n";
  return true;
}

const std::vector<Command_Info> COMMANDS = {
    {"status", 0, 1, "tapectl status [LIBRARY]",
     "Shows the stored inventory: each library's drives (cartridge, home slot,\n"
     "failure count, faulty flag) and its slots as a compact table. Reads the\n"
     "daemon's inventory only: nothing moves. Without LIBRARY, every library.\n",
     nullptr, false, &status_request, &render_status, " in the inventory"},
    {"libraries", 0, 0, "tapectl libraries",
     "Lists the tape libraries the daemon's host sees now, and the host id.\n", nullptr, false,
     &libraries_request, &render_libraries_reply, nullptr},
    {"ops", 0, 0, "tapectl ops", "Shows what each library is doing now and what waits for it.\n",
     nullptr, false, &ops_request, &render_ops, nullptr},
    {"refresh", 1, 1, "tapectl refresh LIBRARY",
     "Re-reads the library's element status and brings the inventory in line\n"
     "with it. The library is asked, but no cartridge moves.\n",
     nullptr, false, &refresh_request, &render_refresh_reply, nullptr},
    {"rescan", 1, 1, "tapectl rescan LIBRARY",
     "Rediscovers the library: every drive is emptied and cartridges are\n"
     "loaded into each drive to identify it. This MOVES CARTRIDGES and can take\n"
     "minutes; it asks for confirmation unless --yes is given.\n",
     &rescan_question, true, &rescan_request, &render_rescan, " was found and scanned"},
    {"load", 2, 2, "tapectl load DRIVE TAG",
     "Loads the cartridge TAG into the drive with serial number DRIVE\n"
     "(unloading the drive first when it holds another cartridge).\n",
     nullptr, true, &load_request, &render_load, nullptr},
    {"unload", 1, 1, "tapectl unload DRIVE",
     "Sends the cartridge in the drive DRIVE back to its home slot.\n", nullptr, true,
     &unload_request, &render_unload, nullptr},
    {"move", 4, 4, "tapectl move LIBRARY TAG FROM TO",
     "Moves the cartridge TAG of LIBRARY from slot FROM to the empty slot TO.\n", nullptr, true,
     &move_request, &render_move, nullptr},
};

}  // namespace

const std::vector<Command_Info>& commands() { return COMMANDS; }

const Command_Info* find_command(const std::string& name) {
  for (const Command_Info& c : COMMANDS)
    if (name == c.name) return &c;
  return nullptr;
}

}  // namespace tapectl
