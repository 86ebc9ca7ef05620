// Parsing tapectl's command line and its help.
#include "tapectl/cli_options.h"

#include <algorithm>
#include <cstdlib>
#include <map>

#include "json_spirit/json_helpers.h"
#include "json_spirit/json_spirit.h"

namespace tapectl {

namespace {

struct Command_Info {
  const char* name;
  int min_operands;
  int max_operands;
  const char* usage;
  const char* text;
};

const Command_Info COMMANDS[] = {
    {"status", 0, 1, "tapectl status [LIBRARY]",
     "Shows the stored inventory: each library's drives (cartridge, home slot,\n"
     "failure count, faulty flag) and its slots as a compact table. Reads the\n"
     "daemon's inventory only: nothing moves. Without LIBRARY, every library.\n"},
    {"libraries", 0, 0, "tapectl libraries",
     "Lists the tape libraries the daemon's host sees now, and the host id.\n"},
    {"ops", 0, 0, "tapectl ops", "Shows what each library is doing now and what waits for it.\n"},
    {"refresh", 1, 1, "tapectl refresh LIBRARY",
     "Re-reads the library's element status and brings the inventory in line\n"
     "with it. The library is asked, but no cartridge moves.\n"},
    {"rescan", 1, 1, "tapectl rescan LIBRARY",
     "Rediscovers the library: every drive is emptied and cartridges are\n"
     "loaded into each drive to identify it. This MOVES CARTRIDGES and can take\n"
     "minutes; it asks for confirmation unless --yes is given.\n"},
    {"load", 2, 2, "tapectl load DRIVE TAG",
     "Loads the cartridge TAG into the drive with serial number DRIVE\n"
     "(unloading the drive first when it holds another cartridge).\n"},
    {"unload", 1, 1, "tapectl unload DRIVE",
     "Sends the cartridge in the drive DRIVE back to its home slot.\n"},
    {"move", 4, 4, "tapectl move LIBRARY TAG FROM TO",
     "Moves the cartridge TAG of LIBRARY from slot FROM to the empty slot TO.\n"},
};

const Command_Info* find_command(const std::string& name) {
  for (const Command_Info& c : COMMANDS)
    if (name == c.name) return &c;
  return nullptr;
}

const char OPTIONS_HELP[] =
    "Options (before or after the subcommand):\n"
    "  --url URL          the daemon (default: the installed web configuration's\n"
    "                     address, else http://127.0.0.1:8870)\n"
    "  --token-file FILE  file holding the bearer token (default: the installed\n"
    "                     web configuration's token file, when readable)\n"
    "  --json             print the daemon's JSON reply unchanged\n"
    "  --timeout SECONDS  give up waiting after this long (default 3600; 0: never)\n"
    "  --yes              do not ask before a rescan\n"
    "  -h, --help         this help (after a subcommand: that subcommand's help)\n"
    "\n"
    "Exit status: 0 success; 1 the daemon refused or failed the operation (its\n"
    "message on standard error); 2 usage error; 3 the daemon cannot be reached.\n";

bool is_number(const std::string& s) {
  return !s.empty() && s.size() < 10 && s.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

bool parse_command_line(const std::vector<std::string>& args, Options& out, std::string& error) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string a = args[i];
    std::string value;
    bool has_value = false;
    const std::string::size_type eq = a.find('=');
    if (a.compare(0, 2, "--") == 0 && eq != std::string::npos) {
      value = a.substr(eq + 1);
      a = a.substr(0, eq);
      has_value = true;
    }
    auto take = [&](std::string& dest) {
      if (!has_value) {
        if (i + 1 >= args.size()) {
          error = a + " needs a value";
          return false;
        }
        value = args[++i];
      }
      dest = value;
      return true;
    };
    if (a == "--url") {
      if (!take(out.url)) return false;
    } else if (a == "--token-file") {
      if (!take(out.token_file)) return false;
    } else if (a == "--timeout") {
      std::string t;
      if (!take(t)) return false;
      if (!is_number(t)) {
        error = "--timeout needs a number of seconds, got '" + t + "'";
        return false;
      }
      out.timeout_seconds = std::atoi(t.c_str());
    } else if (a == "--json" && !has_value) {
      out.json = true;
    } else if (a == "--yes" && !has_value) {
      out.yes = true;
    } else if ((a == "--help" || a == "-h") && !has_value) {
      out.help = true;
    } else if (a == "--") {
      for (++i; i < args.size(); ++i) {
        if (out.command.empty()) {
          out.command = args[i];
        } else {
          out.operands.push_back(args[i]);
        }
      }
    } else if (a.size() > 1 && a[0] == '-') {
      error = "unknown option " + args[i];
      return false;
    } else if (out.command.empty()) {
      out.command = a;
    } else {
      out.operands.push_back(args[i]);
    }
  }
  if (out.command == "help") {
    out.help = true;
    out.command = out.operands.empty() ? "" : out.operands[0];
    out.operands.clear();
  }
  if (out.command.empty()) {
    if (out.help) return true;
    error = "no subcommand given";
    return false;
  }
  const Command_Info* info = find_command(out.command);
  if (info == nullptr) {
    error = "unknown subcommand '" + out.command + "'";
    return false;
  }
  if (out.help) return true;
  const int n = static_cast<int>(out.operands.size());
  if (n < info->min_operands || n > info->max_operands) {
    error = "usage: " + std::string(info->usage);
    return false;
  }
  if (out.command == "move" && (!is_number(out.operands[2]) || !is_number(out.operands[3]))) {
    error = "FROM and TO are slot numbers";
    return false;
  }
  return true;
}

std::string general_help() {
  std::string out =
      "tapectl: operate the tape-library daemon through its REST API.\n"
      "\n"
      "Usage: tapectl [OPTIONS] SUBCOMMAND [OPERANDS] [OPTIONS]\n"
      "\n"
      "Subcommands:\n";
  for (const Command_Info& c : COMMANDS) {
    std::string usage = c.usage;
    usage.resize(std::max<std::size_t>(usage.size(), 36), ' ');
    std::string first = c.text;
    first = first.substr(0, first.find('\n'));
    out += "  " + usage + " " + first + "\n";
  }
  out += "\nRun 'tapectl SUBCOMMAND --help' for one subcommand.\n\n";
  out += OPTIONS_HELP;
  return out;
}

std::string command_help(const std::string& command) {
  const Command_Info* info = find_command(command);
  if (info == nullptr) return std::string();
  return std::string("Usage: ") + info->usage + " [OPTIONS]\n\n" + info->text + "\n" + OPTIONS_HELP;
}

void default_target(const std::string& web_conf, std::string& url, std::string& token_file) {
  url = "http://127.0.0.1:8870";
  token_file.clear();
  json_spirit::Value v;
  if (!json_spirit::load_json(web_conf, v) || v.type() != json_spirit::obj_type) return;
  const json_spirit::Object& o = v.get_obj();
  std::string listen = json_spirit::object_get_str_or_empty(o, "listen");
  int port = 8870;
  json_spirit::object_get(o, "port", port);
  if (listen.empty() || listen == "0.0.0.0") listen = "127.0.0.1";
  if (listen == "::") listen = "::1";
  if (listen.find(':') != std::string::npos) listen = "[" + listen + "]";
  if (port > 0 && port < 65536) url = "http://" + listen + ":" + std::to_string(port);
  token_file = json_spirit::object_get_str_or_empty(o, "token_file");
}

}  // namespace tapectl
