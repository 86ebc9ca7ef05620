#include "starter/open_service_config.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "starter/host_options.h"
#include "starter/tests/child_process.h"

namespace {

// Runs open_service_config over `args` (argument 0 included) and returns the
// words the configurator would receive.
std::vector<std::string> translate(std::vector<std::string> args, bool skip_first = true) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  std::vector<std::string> words;
  open_service_config(static_cast<int>(args.size()), argv.data(), skip_first,
                      [&](int argc, char** out) {
                        for (int i = 0; i < argc; ++i) words.emplace_back(out[i]);
                        return true;
                      });
  return words;
}

typedef std::vector<std::string> Words;

TEST(Open_Service_Config, DirectoryYieldsItsConfFilesInByteOrder) {
  Temp_Dir dir;
  dir.write("b.conf", "");
  dir.write("a.conf", "");
  dir.write("Z.conf", "");
  dir.write("c.txt", "");
  dir.write("d.conf.bak", "");
  dir.write("e.CONF", "");
  dir.write(".conf", "");
  ASSERT_EQ(0, ::mkdir((dir.path() + "/sub.conf").c_str(), 0755));
  const std::string target = dir.write("target.txt", "");
  ASSERT_EQ(0, ::symlink(target.c_str(), (dir.path() + "/f.conf").c_str()));
  ASSERT_EQ(0, ::symlink("/no/such/file", (dir.path() + "/g.conf").c_str()));

  const std::string d = dir.path();
  EXPECT_EQ((Words{"starter", "-f", d + "/.conf", "-f", d + "/Z.conf", "-f", d + "/a.conf", "-f",
                   d + "/b.conf", "-f", d + "/f.conf"}),
            translate({"starter", "-f", d}));
}

TEST(Open_Service_Config, TwoDirectoriesKeepTheirOrderAndPlainPathsPassUnchanged) {
  Temp_Dir one, two;
  one.write("x.conf", "");
  two.write("a.conf", "");
  const std::string trailing = one.path() + "/";
  EXPECT_EQ((Words{"starter", "-f", one.path() + "/x.conf", "-f", two.path() + "/a.conf", "-f",
                   "/etc/whatever.txt", "-f", "/no/such/dir", "-f", trailing + "/x.conf"}),
            translate({"starter", "-f", one.path(), "-f", two.path(), "-f", "/etc/whatever.txt",
                       "-f", "/no/such/dir", "-f", trailing}));
}

TEST(Open_Service_Config, TranslatesConfiguratorOptionsAndDropsHostOnes) {
  EXPECT_EQ((Words{"/bin/starter", "-b", "-d", "-n", "-y", "-k", "host:1", "-p", "/run/x.pid",
                   "-s", "10", "-S", "static X \"a b\""}),
            translate({"/bin/starter", "--threads", "4", "-b", "--thread-pool", "7", "-d", "-n",
                       "word", "-y", "--reactor", "tp", "-k", "host:1", "-p", "/run/x.pid", "-s",
                       "10", "--unknown", "-S", "static X \"a b\""}));
  EXPECT_EQ((Words{"starter"}), translate({"starter"}));
}

TEST(Open_Service_Config, DirectiveWithBlanksStaysOneWord) {
  const Words words = translate({"starter", "-S", "dynamic A Service_Object * lib:_make_A() \"\""});
  ASSERT_EQ(3u, words.size());
  EXPECT_EQ("dynamic A Service_Object * lib:_make_A() \"\"", words[2]);
}

TEST(Open_Service_Config, WithoutSkippingTheFirstWordIsDummy) {
  EXPECT_EQ((Words{"dummy", "-d"}), translate({"-d"}, false));
}

TEST(Host_Options, ReadsLongOptionsAndSkipsTheRest) {
  std::vector<std::string> args = {"starter", "-f", "dir",    "--threads", "8x",
                                   "--reactor", "tp", "-d",   "--background", "--user",
                                   "1000",      "--group", "a", "--primary-group", "g",
                                   "--group",   "b", "word"};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  const Host_Options o = parse_host_options(static_cast<int>(argv.size()), argv.data());
  EXPECT_EQ(8u, o.threads);
  EXPECT_STREQ("tp", o.reactor);
  EXPECT_TRUE(o.background);
  EXPECT_STREQ("1000", o.identity.user);
  EXPECT_STREQ("g", o.identity.primary_group);
  ASSERT_EQ(2u, o.identity.groups.size());
  EXPECT_STREQ("a", o.identity.groups[0]);
  EXPECT_STREQ("b", o.identity.groups[1]);
}

TEST(Host_Options, DefaultsWithoutOptionsAndNonNumericThreads) {
  std::vector<std::string> args = {"starter", "--threads", "many"};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  const Host_Options o = parse_host_options(static_cast<int>(argv.size()), argv.data());
  EXPECT_EQ(0u, o.threads);
  EXPECT_EQ(nullptr, o.reactor);
  EXPECT_FALSE(o.background);
  EXPECT_EQ(nullptr, o.identity.user);
  EXPECT_TRUE(o.identity.groups.empty());
}

}  // namespace
