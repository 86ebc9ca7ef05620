// The subcommands: which request each makes and how its reply is shown.
#include "tapectl/commands.h"

#include <cctype>
#include <fstream>
#include <istream>
#include <ostream>
#include <string>

#include "json_spirit/json_helpers.h"
#include "json_spirit/json_spirit.h"
#include "tapectl/http_client.h"
#include "tapectl/tables.h"

namespace tapectl {

namespace {

const char API[] = "/d2/r/tapectl";

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

// The first word of the token file; false with `error` when unreadable.
bool read_token(const std::string& path, std::string& token, std::string& error) {
  std::ifstream f(path);
  if (!f || !(f >> token)) {
    error = "cannot read the token file " + path;
    return false;
  }
  return true;
}

// The daemon's message for a refusal: the body's "message", else the body,
// else the status.
std::string refusal(const Http_Result& r) {
  json_spirit::Value v;
  std::string message;
  bool faulty = false;
  if (json_spirit::read(r.body, v) && v.type() == json_spirit::obj_type) {
    message = json_spirit::object_get_str_or_empty(v.get_obj(), "message");
    json_spirit::object_get(v.get_obj(), "faulty", faulty);
  } else if (r.body.size() < 500) {
    message = r.body;
  }
  std::string out = "the daemon answered " + std::to_string(r.status);
  if (!message.empty()) out += ": " + message;
  if (faulty) out += " (the drive is now faulty)";
  return out;
}

std::string body_of(const json_spirit::Object& o) { return json_spirit::write(o); }

}  // namespace

int run_command(const Options& options, std::istream& in, std::ostream& out, std::ostream& err,
                bool colour) {
  Url url;
  std::string error;
  if (!parse_url(options.url, url, error)) {
    err << "tapectl: --url " << options.url << ": " << error << "\n";
    return EXIT_USAGE;
  }
  std::string token;
  if (!options.token_file.empty() && !read_token(options.token_file, token, error)) {
    err << "tapectl: " << error << "\n";
    return EXIT_USAGE;
  }

  const std::string& cmd = options.command;
  const std::vector<std::string>& arg = options.operands;
  std::string method = "GET", path, body;
  if (cmd == "status") {
    path = std::string(API) + "/inventory";
    if (!arg.empty()) path += "?serial_number=" + percent_encode(arg[0]);
  } else if (cmd == "libraries") {
    path = std::string(API) + "/info";
  } else if (cmd == "ops") {
    path = std::string(API) + "/operations";
  } else if (cmd == "refresh") {
    path = std::string(API) + "/changer/refresh?serial_number=" + percent_encode(arg[0]);
  } else if (cmd == "rescan") {
    if (!options.yes) {
      err << "Rescanning " << arg[0]
          << " MOVES CARTRIDGES: every drive is emptied and cartridges are loaded into\n"
             "each drive to identify it; this can take minutes. Continue? [y/N] "
          << std::flush;
      std::string answer;
      std::getline(in, answer);
      if (answer != "y" && answer != "Y" && answer != "yes") {
        err << "tapectl: rescan not confirmed (use --yes to skip the question)\n";
        return EXIT_FAILED;
      }
    }
    path = std::string(API) + "/list?serial_number=" + percent_encode(arg[0]);
  } else if (cmd == "load" || cmd == "unload") {
    method = "POST";
    path = std::string(API) + "/drive/" + cmd;
    json_spirit::Object o;
    o["serial_number"] = arg[0];
    if (cmd == "load") o["media_tag"] = arg[1];
    body = body_of(o);
  } else if (cmd == "move") {
    method = "POST";
    path = std::string(API) + "/media/transfer";
    json_spirit::Object o;
    o["serial_number"] = arg[0];
    o["media_tag"] = arg[1];
    o["from"] = std::stoi(arg[2]);
    o["to"] = std::stoi(arg[3]);
    body = body_of(o);
  } else {
    err << "tapectl: unknown subcommand '" << cmd << "'\n";
    return EXIT_USAGE;
  }

  const Http_Result r = http_call(url, method, path, body, token, options.timeout_seconds);
  if (!r.reached) {
    err << "tapectl: cannot reach the daemon at " << options.url << ": " << r.error << "\n";
    return EXIT_UNREACHABLE;
  }
  if (r.status < 200 || r.status > 299) {
    if (options.json && !r.body.empty()) out << r.body << "\n";
    err << "tapectl: " << cmd << " failed: " << refusal(r) << "\n";
    return EXIT_FAILED;
  }
  json_spirit::Value reply;
  const bool parsed = !r.body.empty() && json_spirit::read(r.body, reply);
  // The list reply names a library only when it was found and scanned.
  bool found = true;
  if (cmd == "rescan" || (cmd == "status" && !arg.empty())) {
    found = parsed && reply.type() == json_spirit::array_type && !reply.get_array().empty();
  }
  if (options.json) {
    if (!r.body.empty()) out << r.body << "\n";
  } else if (cmd == "status" || cmd == "rescan") {
    if (found) out << render_inventory(reply, colour);
  } else if (cmd == "libraries") {
    out << render_libraries(reply, colour);
  } else if (cmd == "ops") {
    out << render_operations(reply, colour);
  } else if (cmd == "refresh") {
    out << render_refresh(reply, colour);
  } else if (cmd == "load") {
    out << "Loaded " << arg[1] << " into drive " << arg[0] << ".\n";
  } else if (cmd == "unload") {
    out << "Unloaded drive " << arg[0] << ".\n";
  } else if (cmd == "move") {
    out << "Moved " << arg[1] << " from slot " << arg[2] << " to slot " << arg[3] << " of "
        << arg[0] << ".\n";
  }
  if (!found) {
    err << "tapectl: " << cmd << ": no library " << arg[0]
        << (cmd == "rescan" ? " was found and scanned\n" : " in the inventory\n");
    return EXIT_FAILED;
  }
  return EXIT_OK;
}

}  // namespace tapectl
