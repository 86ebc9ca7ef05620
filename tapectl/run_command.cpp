// Running one subcommand: the token, the call, and what each outcome
// tells the operator.
#include <cerrno>
#include <cstring>
#include <fstream>
#include <istream>
#include <ostream>
#include <string>

#include "json_spirit/json_helpers.h"
#include "json_spirit/json_spirit.h"
#include "tapectl/commands.h"
#include "tapectl/curl_client.h"

namespace tapectl {

namespace {

// The first word of the token file; false with `error` naming the file
// when it cannot be read or holds nothing.
bool read_token(const std::string& path, std::string& token, std::string& error) {
  std::ifstream f(path);
  if (!f) {
    error = "cannot read the token file " + path + ": " + std::strerror(errno);
    return false;
  }
  if (!(f >> token)) {
    error = "the token file " + path + " holds no token";
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

bool confirmed(const Command_Info& info, const Options& options, std::istream& in,
               std::ostream& err) {
  if (info.confirm == nullptr || options.yes) return true;
  err << info.confirm(options.operands) << std::flush;
  std::string answer;
  std::getline(in, answer);
  return answer == "y" || answer == "Y" || answer == "yes";
}

}  // namespace

int run_command(const Options& options, std::istream& in, std::ostream& out, std::ostream& err,
                bool colour) {
  const Command_Info* info = find_command(options.command);
  if (info == nullptr) {
    err << "tapectl: unknown subcommand '" << options.command << "'\n";
    return EXIT_USAGE;
  }
  Http_Request request;
  std::string error;
  if (!check_base_url(options.url, error)) {
    err << "tapectl: --url " << options.url << ": " << error << "\n";
    return EXIT_USAGE;
  }
  if (!options.token_file.empty() && !read_token(options.token_file, request.token, error)) {
    err << "tapectl: " << error << "\n";
    return EXIT_USAGE;
  }
  if (!confirmed(*info, options, in, err)) {
    err << "tapectl: " << info->name << " not confirmed (use --yes to skip the question)\n";
    return EXIT_FAILED;
  }
  const Command_Request what = info->request(options.operands);
  request.base_url = options.url;
  request.method = what.method;
  request.path = what.path;
  request.body = what.body;
  request.ca_file = options.ca_file;
  request.timeout_seconds = options.timeout_seconds;

  const Http_Result r = http_call(request);
  if (r.outcome == Call_Outcome::NOT_SENT) {
    err << "tapectl: cannot reach the daemon at " << options.url << ": " << r.error
        << " (nothing was sent)\n";
    return EXIT_UNREACHABLE;
  }
  if (r.outcome == Call_Outcome::NO_ANSWER) {
    err << "tapectl: " << info->name << ": " << NO_ANSWER_TEXT << " (" << r.error << ")\n";
    if (info->moves)
      err << "tapectl: check with 'tapectl ops' (what the library is doing) and 'tapectl status'"
             " (where the cartridges are) before trying again\n";
    return EXIT_NO_ANSWER;
  }
  if (r.status < 200 || r.status > 299) {
    if (options.json && !r.body.empty()) out << r.body << "\n";
    err << "tapectl: " << info->name << " failed: " << refusal(r) << "\n";
    if (r.status == 401 && options.token_file.empty() && !options.unreadable_token_file.empty())
      err << "tapectl: the configured token file " << options.unreadable_token_file
          << " is not readable by this account (run as root or a member of its group, or give "
             "--token-file)\n";
    return EXIT_FAILED;
  }
  json_spirit::Value reply;
  if (!r.body.empty()) json_spirit::read(r.body, reply);
  std::string text;
  const bool found = info->render(reply, options.operands, colour, text);
  if (options.json) {
    if (!r.body.empty()) out << r.body << "\n";
  } else {
    out << text;
  }
  if (!found) {
    err << "tapectl: " << info->name << ": no library " << options.operands[0] << info->not_found
        << "\n";
    return EXIT_FAILED;
  }
  return EXIT_OK;
}

}  // namespace tapectl
