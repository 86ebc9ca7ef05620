// Parsing tapectl's command line, its help, and the daemon's address.
#include "tapectl/cli_options.h"

#include <curl/curl.h>
#include <getopt.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "json_spirit/json_helpers.h"
#include "json_spirit/json_spirit.h"
#include "tapectl/commands.h"

#ifndef TAPECTL_VERSION
#define TAPECTL_VERSION "unknown"
#endif

namespace tapectl {

const char* const NO_ANSWER_TEXT =
    "the request was sent and no answer came; the operation may have happened";

namespace {

const char OPTIONS_HELP[] =
    "Options (before or after the subcommand):\n"
    "  --url URL          the daemon, http:// or https:// (default: $TAPECTL_URL,\n"
    "                     else the installed web configuration's address, else\n"
    "                     http://127.0.0.1:8870)\n"
    "  --token-file FILE  file holding the bearer token (default:\n"
    "                     $TAPECTL_TOKEN_FILE, else the installed web\n"
    "                     configuration's token file when this account may read it)\n"
    "  --cacert FILE      trust the certificates of FILE (PEM) for https instead of\n"
    "                     the system's\n"
    "  --json             print the daemon's JSON reply unchanged\n"
    "  --timeout SECONDS  give up waiting after this long, name lookup included\n"
    "                     (default 3600; 0: never; at most 2592000)\n"
    "  --yes              do not ask before a rescan\n"
    "  -h, --help         this help (after a subcommand: that subcommand's help)\n"
    "  --version          the program's version\n"
    "\n"
    "Exit status: 0 success; 1 the daemon refused or failed the operation (its\n"
    "message on standard error); 2 usage error; 3 the daemon cannot be reached\n"
    "(nothing was sent); 4 the request was sent and no answer came: the operation\n"
    "may have happened (check with 'tapectl ops' and 'tapectl status').\n";

enum Long_Only {
  OPT_URL = 256,
  OPT_TOKEN_FILE,
  OPT_CACERT,
  OPT_JSON,
  OPT_TIMEOUT,
  OPT_YES,
  OPT_VERSION
};

const struct option LONG_OPTIONS[] = {{"url", required_argument, nullptr, OPT_URL},
                                      {"token-file", required_argument, nullptr, OPT_TOKEN_FILE},
                                      {"cacert", required_argument, nullptr, OPT_CACERT},
                                      {"json", no_argument, nullptr, OPT_JSON},
                                      {"timeout", required_argument, nullptr, OPT_TIMEOUT},
                                      {"yes", no_argument, nullptr, OPT_YES},
                                      {"help", no_argument, nullptr, 'h'},
                                      {"version", no_argument, nullptr, OPT_VERSION},
                                      {nullptr, 0, nullptr, 0}};

bool is_number(const std::string& s) {
  return !s.empty() && s.size() < 10 && s.find_first_not_of("0123456789") == std::string::npos;
}

// Every option wherever it stands (getopt_long moves the operands behind
// them); "--" ends the options.
bool parse_options(const std::vector<std::string>& args, Options& out,
                   std::vector<std::string>& words, std::string& error) {
  std::vector<std::string> copy(args);
  std::vector<char*> argv;
  static char program[] = "tapectl";
  argv.push_back(program);
  for (std::string& a : copy) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  const int argc = static_cast<int>(argv.size() - 1);
  optind = 0;  // a fresh scan (GNU), also when called again
  opterr = 0;
  for (int c; (c = getopt_long(argc, argv.data(), ":h", LONG_OPTIONS, nullptr)) != -1;) {
    const std::string value = optarg ? optarg : "";
    switch (c) {
      case OPT_URL:
        out.url = value;
        break;
      case OPT_TOKEN_FILE:
        out.token_file = value;
        break;
      case OPT_CACERT:
        out.ca_file = value;
        break;
      case OPT_JSON:
        out.json = true;
        break;
      case OPT_YES:
        out.yes = true;
        break;
      case 'h':
        out.help = true;
        break;
      case OPT_VERSION:
        out.version = true;
        break;
      case OPT_TIMEOUT:
        if (!is_number(value) || std::atol(value.c_str()) > MAX_TIMEOUT_SECONDS) {
          error = "--timeout needs whole seconds from 0 to " + std::to_string(MAX_TIMEOUT_SECONDS) +
                  ", got '" + value + "'";
          return false;
        }
        out.timeout_seconds = std::atol(value.c_str());
        break;
      case ':':
        error = std::string(argv[optind - 1]) + " needs a value";
        return false;
      default:
        error = "unknown option " + std::string(argv[optind - 1]);
        return false;
    }
  }
  for (int i = optind; i < argc; ++i) words.push_back(argv[i]);
  return true;
}

}  // namespace

bool parse_command_line(const std::vector<std::string>& args, Options& out, std::string& error) {
  std::vector<std::string> words;
  if (!parse_options(args, out, words, error)) return false;
  if (!words.empty()) {
    out.command = words[0];
    out.operands.assign(words.begin() + 1, words.end());
  }
  if (out.command == "help") {
    out.help = true;
    out.command = out.operands.empty() ? "" : out.operands[0];
    out.operands.clear();
  }
  if (out.version || (out.help && out.command.empty())) return true;
  if (out.command.empty()) {
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
  for (const Command_Info& c : commands()) {
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

std::string version_text() {
  return std::string("tapectl ") + TAPECTL_VERSION + " (libcurl " +
         curl_version_info(CURLVERSION_NOW)->version + ")\n";
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
  const bool tls = !json_spirit::object_get_str_or_empty(o, "tls_certificate").empty();
  if (port > 0 && port < 65536)
    url = (tls ? "https://" : "http://") + listen + ":" + std::to_string(port);
  token_file = json_spirit::object_get_str_or_empty(o, "token_file");
}

void resolve_target(const std::string& web_conf, Options& options) {
  const char* env_url = std::getenv("TAPECTL_URL");
  const char* env_token = std::getenv("TAPECTL_TOKEN_FILE");
  if (options.url.empty() && env_url && *env_url) options.url = env_url;
  if (options.token_file.empty() && env_token && *env_token) options.token_file = env_token;
  if (!options.url.empty() && !options.token_file.empty()) return;
  std::string url, token_file;
  default_target(web_conf, url, token_file);
  if (options.url.empty()) options.url = url;
  // The configured token goes only to the configured daemon, and only
  // when this account may read it.
  if (!options.token_file.empty() || token_file.empty() || options.url != url) return;
  if (::access(token_file.c_str(), R_OK) == 0) {
    options.token_file = token_file;
  } else {
    options.unreadable_token_file = token_file;
  }
}

}  // namespace tapectl
