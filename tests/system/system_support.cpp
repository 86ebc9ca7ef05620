#include "tests/system/system_support.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <regex>
#include <sstream>
#include <thread>

#include "json_spirit/json_helpers.h"

namespace system_test {

const char SERIAL[] = "EMU-LIB-0001";
const char CHANGER_SG[] = "/dev/sg10";
const char DRIVE_1[] = "EMU-DRV-0001";
const char DRIVE_2[] = "EMU-DRV-0002";

int free_loopback_port() { return static_cast<int>(Test_Listener().port()); }

Demo_Daemon::Demo_Daemon(const std::string& dir, int port, const std::string& token_file)
    : dir_(dir), port_(port > 0 ? port : free_loopback_port()), token_file_(token_file) {
  if (!token_file_.empty()) token_ = read_file(token_file_);
  token_.erase(token_.find_last_not_of(" \r\n\t") + 1);  // npos + 1: all of a blank one
}

Demo_Daemon::~Demo_Daemon() = default;

bool Demo_Daemon::start(std::string& error, int deadline_seconds) {
  // The port was free when it was picked but another process may have
  // taken it since: a daemon that exits during start-up gets another try
  // on another port.
  for (int attempt = 1;; ++attempt) {
    bool exited = false;
    if (start_once(error, deadline_seconds, exited)) return true;
    if (!exited || attempt == 3) return false;
    port_ = free_loopback_port();
  }
}

bool Demo_Daemon::start_once(std::string& error, int deadline_seconds, bool& exited) {
  const std::size_t log_start = log_text().size();  // earlier attempts' lines
  // bash appends the script's output to the log, then runs the script.
  std::vector<std::string> args = {"/bin/bash", "-c", R"(exec >>"$0" 2>&1 && exec /bin/bash "$@")",
                                   dir_ + ".log", std::string(D2T_SOURCE_DIR) + "/scripts/demo"};
  args.insert(args.end(), {"--no-build", "--build-dir", D2T_BINARY_DIR, "--dir", dir_, "--port",
                           std::to_string(port_)});
  if (!token_file_.empty()) args.insert(args.end(), {"--token-file", token_file_});
  args.insert(args.end(), extra_args_.begin(), extra_args_.end());
  daemon_ = std::make_unique<test_support::Child_Process>(args, std::vector<std::string>());
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(deadline_seconds);
  for (;;) {
    // The daemon ended, or its web service could not listen (the daemon
    // itself stays up). `exited` stays false on every other way out.
    exited = daemon_->exited() ||
             log_text().find("Failed to start the web service", log_start) != std::string::npos;
    if (exited) {
      error = "the daemon or its web service did not start:\n" + log_text();
      daemon_.reset();
      return false;
    }
    // A readiness probe must not hang on a port some other program holds
    // without answering: a short guard.
    Test_Socket probe(static_cast<unsigned>(port_), 2);
    if (probe.ok() &&
        probe.send_all("GET /d2/r/tapectl/info HTTP/1.1\r\nHost: localhost\r\n" + auth_header() +
                       "Connection: close\r\n\r\n") &&
        parse_reply(probe.read_all()).status == 200) {
      return true;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      error = "the daemon did not answer in time:\n" + log_text();
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

int Demo_Daemon::stop(int deadline_seconds) {
  if (!daemon_) return -2;
  daemon_->signal(SIGINT);
  const int status = daemon_->exit_code(std::chrono::seconds(deadline_seconds));
  daemon_.reset();
  return status;
}

std::string Demo_Daemon::log_text() const { return read_file(dir_ + ".log"); }

std::string Demo_Daemon::auth_header() const {
  return token_.empty() ? std::string() : "Authorization: Bearer " + token_ + "\r\n";
}

Http_Reply Demo_Daemon::request(const std::string& method, const std::string& target,
                                const std::string& body) const {
  return http_request(static_cast<unsigned>(port_), method, target, body, auth_header());
}

Cli_Run Demo_Daemon::tapectl(const std::string& args, const std::string& input) const {
  return run_tapectl("--url " + url() +
                         (token_file_.empty() ? "" : " --token-file " + shell_quote(token_file_)) +
                         " " + args,
                     input);
}

Cli_Run run_tapectl(const std::string& args, const std::string& input) {
  Cli_Run r;
  const test_support::Temp_Dir dir("system_tapectl");
  const std::string in = dir.write("stdin", input), err = dir / "stderr";
  r.out = run_command(std::string(D2T_BINARY_DIR) + "/bin/tapectl " + args + " <" +
                          shell_quote(in) + " 2>" + shell_quote(err),
                      r.status);
  r.err = read_file(err);
  return r;
}

std::string describe(const Library_View& v) {
  std::ostringstream out;
  for (const auto& s : v.slots) out << s.first << "=" << s.second << " ";
  out << "| drives ";
  for (const auto& d : v.drives) out << d.first << "<-" << d.second << " ";
  return out.str();
}

std::string preload_env(const std::string& library_file) {
  return "LD_PRELOAD=" + shell_quote(std::string(D2T_BINARY_DIR) + "/lib/libd2t_preload.so") +
         " D2T_EMULATOR=" + shell_quote(library_file) + " ";
}

Library_View mtx_view(const std::string& library_file, const std::string& changer_sg) {
  Library_View v;
  int status = 0;
  const std::string out = run_command(
      preload_env(library_file) + "mtx -f " + shell_quote(changer_sg) + " status 2>&1", status);
  if (status != 0) {
    v.error = "mtx failed: " + out;
    return v;
  }
  static const std::regex drive(R"(^\s*Data Transfer Element (\d+):Full \(Storage Element (\d+))");
  static const std::regex slot(R"(^\s*Storage Element (\d+)[^:]*:Full)");
  static const std::regex tag(R"(VolumeTag\s*=\s*(\S+))");
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    std::smatch m, t;
    const std::string label = std::regex_search(line, t, tag) ? t.str(1) : "";
    if (std::regex_search(line, m, drive)) {
      v.drives[std::stoi(m.str(1))] = std::stoi(m.str(2));
      // The inventory keeps the tag of a cartridge in a drive at its home.
      if (!label.empty()) v.slots[std::stoi(m.str(2))] = label;
    } else if (std::regex_search(line, m, slot) && !label.empty()) {
      v.slots[std::stoi(m.str(1))] = label;
    }
  }
  v.ok = true;
  return v;
}

Library_View sqlite_view(const std::string& db_file, const std::string& serial) {
  Library_View v;
  // Serial numbers of the tests hold no quotes; a plain SQL literal will do.
  const std::string where = " where c.serial_number='" + serial + "'";
  const std::string queries[3] = {
      "select s.slot_number, s.media_tag from slot s join changer c on c.id=s.changer_id" + where +
          " and s.media_tag is not null and s.media_tag<>''",
      "select d.drive_number, d.slot_number from drive d join changer c on c.id=d.changer_id" +
          where + " and d.slot_number is not null",
      "select d.drive_number, d.serial_number, d.dev_name, d.sg_name from drive d join changer c "
      "on c.id=d.changer_id" +
          where + " order by d.drive_number"};
  for (int q = 0; q < 3; ++q) {
    int status = 0;
    const std::string out = run_command("sqlite3 -readonly -separator '|' " + shell_quote(db_file) +
                                            " " + shell_quote(queries[q]) + " 2>&1",
                                        status);
    if (status != 0) {
      v.error = "sqlite3 failed: " + out;
      return v;
    }
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
      const std::size_t bar = line.find('|');
      if (bar == std::string::npos) continue;
      const int key = std::atoi(line.c_str());
      if (q == 2) {
        std::replace(line.begin(), line.end(), '|', ':');
        v.drive_names += line + " ";
      } else if (q == 0) {
        v.slots[key] = line.substr(bar + 1);
      } else {
        v.drives[key] = std::atoi(line.c_str() + bar + 1);
      }
    }
  }
  v.ok = true;
  return v;
}

Library_View reply_view(const json_spirit::Object& library) {
  Library_View v;
  for (const json_spirit::Value& s : library.at("slots").get_array()) {
    const std::string tag = json_spirit::object_get_str_or_empty(s.get_obj(), "media_tag");
    if (!tag.empty()) v.slots[s.get_obj().at("slot_number").get_int()] = tag;
  }
  for (const json_spirit::Value& d : library.at("drives").get_array()) {
    const json_spirit::Object& o = d.get_obj();
    const std::string serial = json_spirit::object_get_str_or_empty(o, "serial_number");
    int number = -1, slot = 0;
    json_spirit::object_get(o, "drive_number", number);
    v.drive_names += std::to_string(number) + ":" + serial + ":" +
                     json_spirit::object_get_str_or_empty(o, "dev_name") + ":" +
                     json_spirit::object_get_str_or_empty(o, "sg_name") + " ";
    if (const std::string* host = json_spirit::object_get_str(o, "host_id"))
      v.drive_hosts[serial] = *host;
    if (!json_spirit::object_get(o, "slot_number", slot) || slot <= 0) continue;
    v.drives[number] = slot;
    const std::string tag = json_spirit::object_get_str_or_empty(o, "media_tag");
    if (!tag.empty()) v.slots[slot] = tag;
  }
  v.ok = true;
  return v;
}

Library_View library_reply(const Demo_Daemon& d, const std::string& route,
                           const std::string& serial) {
  const Http_Reply r = d.get("/d2/r/tapectl/" + route + "?serial_number=" + serial);
  json_spirit::Value v = parse_body(r);
  if (v.type() == json_spirit::array_type && v.get_array().size() == 1) v = v.get_array()[0];
  if (r.status == 200 && v.type() == json_spirit::obj_type) return reply_view(v.get_obj());
  Library_View bad;
  bad.error = route + " answered " + std::to_string(r.status) + " " + r.body;
  return bad;
}

void set_changer_key(const std::string& library_file, const std::string& key,
                     const std::string& value_json) {
  json_spirit::Value lib, value;
  ASSERT_TRUE(json_spirit::load_json(library_file, lib, 1)) << library_file;
  ASSERT_TRUE(json_spirit::read(value_json, value)) << value_json;
  lib.get_obj()["changers"].get_array()[0].get_obj()[key] = value;
  ASSERT_TRUE(write_file(library_file, json_spirit::write(lib))) << library_file;
}

std::string shared_library_json(unsigned attached, int move_ms, int drive_ms) {
  std::string drives;
  for (int n = 1; n <= 4; ++n) {
    const std::string i = std::to_string(n);
    if (!drives.empty()) drives += ",\n";
    drives += "{\"serial_number\": \"EMU-DRV-000" + i +
              "\", \"vendor\": \"EMULATED\", \"model\": \"LTO-9\", \"target_name\": \"3:0:" + i +
              "\", \"lun\": 0, \"sg_name\": \"/dev/sg1" + i + "\", \"dev_name\": \"/dev/st" +
              std::to_string(n - 1) +
              "\", \"attached\": " + ((attached >> (n - 1)) & 1 ? "true" : "false") + "}";
  }
  std::string cartridges;
  for (int s = 1; s <= 8; ++s) {
    if (!cartridges.empty()) cartridges += ", ";
    cartridges +=
        "{\"slot\": " + std::to_string(s) + ", \"barcode\": \"A0000" + std::to_string(s) + "L9\"}";
  }
  return "{\"state_file\": \"../library.state\",\n\"timing\": {\"move_ms\": " +
         std::to_string(move_ms) + ", \"load_ms\": " + std::to_string(drive_ms) +
         ", \"unload_ms\": " + std::to_string(drive_ms) +
         "},\n\"changers\": [{\"serial_number\": \"EMU-LIB-0001\", \"vendor\": \"EMULATED\", "
         "\"model\": \"TAPE LIBRARY\", \"target_name\": \"3:0:0\", \"lun\": 0, "
         "\"sg_name\": \"/dev/sg10\", \"storage_slots\": 12, \"porter_slots\": 0, "
         "\"dvcid\": \"t10\",\n\"drives\": [" +
         drives + "],\n\"cartridges\": [" + cartridges + "]}]}\n";
}

std::string drive_body(const std::string& drive, const std::string& tag) {
  return R"({"serial_number": ")" + drive + "\"" +
         (tag.empty() ? "" : R"(, "media_tag": ")" + tag + "\"") + "}";
}

std::string transfer_body(const std::string& changer, const std::string& tag, int from, int to) {
  return R"({"serial_number": ")" + changer + R"(", "media_tag": ")" + tag + R"(", "from": )" +
         std::to_string(from) + R"(, "to": )" + std::to_string(to) + "}";
}

json_spirit::Value parse_body(const Http_Reply& r) {
  json_spirit::Value v;
  return json_spirit::read(r.body, v) ? v : json_spirit::Value();
}

std::string message_of(const Http_Reply& r) {
  const json_spirit::Value v = parse_body(r);
  return v.type() == json_spirit::obj_type
             ? json_spirit::object_get_str_or_empty(v.get_obj(), "message")
             : std::string();
}

std::string run_command(const std::string& command, int& status) {
  test_support::Child_Process shell({"/bin/sh", "-c", command}, {});
  status = shell.exit_code(std::chrono::minutes(5));
  return shell.output();
}

std::string shell_quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

}  // namespace system_test
