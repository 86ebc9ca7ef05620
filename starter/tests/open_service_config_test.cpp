#include "starter/open_service_config.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "starter/host_options.h"
#include "testing/child_process.h"
#include "testing/temp_dir.h"

using namespace test_support;

namespace {

typedef std::vector<std::string> Words;

std::string text(const char* s) { return s ? s : "(none)"; }

// `text` split at its spaces.
Words words(const std::string& text) {
  std::istringstream in(text);
  Words out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

std::vector<char*> argv_of(Words& args) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  return argv;
}

// Runs open_service_config over `args` (argument 0 included) and returns the
// words the configurator would receive.
Words translate(Words args, bool skip_first = true) {
  std::vector<char*> argv = argv_of(args);
  Words words;
  open_service_config(static_cast<int>(args.size()), argv.data(), skip_first,
                      [&](int argc, char** out) {
                        words.insert(words.end(), out, out + argc);
                        return true;
                      });
  return words;
}

TEST(Open_Service_Config, DirectoriesYieldTheirConfFilesInByteOrder) {
  Temp_Dir dir, two;
  for (const char* name : {"b.conf", "a.conf", "Z.conf", "c.txt", "d.conf.bak", "e.CONF"}) {
    dir.write(name, "");
  }
  dir.write(".conf", "");
  ASSERT_EQ(0, ::mkdir((dir.path() + "/sub.conf").c_str(), 0755));
  const std::string target = dir.write("target.txt", "");
  ASSERT_EQ(0, ::symlink(target.c_str(), (dir.path() + "/f.conf").c_str()));
  ASSERT_EQ(0, ::symlink("/no/such/file", (dir.path() + "/g.conf").c_str()));
  two.write("x.conf", "");
  const std::string d = dir.path(), t = two.path();
  // Two directories keep their order; plain paths pass unchanged.
  EXPECT_EQ((Words{"starter", "-f", d + "/.conf", "-f", d + "/Z.conf", "-f", d + "/a.conf", "-f",
                   d + "/b.conf", "-f", d + "/f.conf", "-f", t + "/x.conf", "-f",
                   "/etc/whatever.txt", "-f", "/no/such/dir", "-f", t + "//x.conf"}),
            translate({"starter", "-f", d, "-f", t, "-f", "/etc/whatever.txt", "-f", "/no/such/dir",
                       "-f", t + "/"}));
}

TEST(Open_Service_Config, TranslatesConfiguratorOptionsAndDropsHostOnes) {
  Words args = words(
      "/bin/starter --threads 4 -b --thread-pool 7 -d -n word -y --reactor tp -k host:1 -p "
      "/run/x.pid -s 10 --unknown -S");
  args.push_back("static X \"a b\"");
  EXPECT_EQ((Words{"/bin/starter", "-b", "-d", "-n", "-y", "-k", "host:1", "-p", "/run/x.pid", "-s",
                   "10", "-S", "static X \"a b\""}),
            translate(args));
  EXPECT_EQ((Words{"starter"}), translate({"starter"}));
  EXPECT_EQ((Words{"dummy", "-d"}), translate({"-d"}, false)) << "without skipping";
}

TEST(Host_Options, ReadsLongOptionsAndSkipsTheRest) {
  Words args = words(
      "starter -f dir --threads 8x --reactor tp -d --background --user 1000 --group a "
      "--primary-group g --group b word");
  std::vector<char*> argv = argv_of(args);
  const Host_Options o = parse_host_options(static_cast<int>(args.size()), argv.data());
  std::string seen = std::to_string(o.threads) + (o.background ? " background" : "");
  for (const char* v : {o.reactor, o.identity.user, o.identity.primary_group})
    seen += " " + text(v);
  for (const char* g : o.identity.groups) seen += " group " + text(g);
  EXPECT_EQ("8 background tp 1000 g group a group b", seen);

  Words none = {"starter", "--threads", "many"};
  argv = argv_of(none);
  EXPECT_EQ(0u, parse_host_options(static_cast<int>(none.size()), argv.data()).threads);
}

}  // namespace
