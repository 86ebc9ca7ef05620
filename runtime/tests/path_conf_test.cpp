// Path_Conf: joining, expansion, creation and substitution.
#include <string>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "runtime/environ.h"
#include "runtime/path_conf.h"
#include "runtime/tests/log_capture.h"
#include "runtime/tests/temp_dir.h"

TEST(Path_Conf, JoinsPrefixSubAndBasename) {
  EXPECT_EQ(Path_Conf("/a/b", false, "c.conf", 0750).str(), "/a/b/c.conf");
  EXPECT_EQ(Path_Conf("/a/b", "x", false, "c.conf", 0750).str(), "/a/b/x/c.conf");
  EXPECT_EQ(Path_Conf("/a/b", "", false, "c.conf", 0750).str(), "/a/b/c.conf");
  EXPECT_EQ(Path_Conf("/a/b", static_cast<const char*>(nullptr), false).str(), "/a/b");
  EXPECT_EQ(Path_Conf("/a/b", false, "", 0750).str(), "/a/b");

  Path_Conf p("/a", false, nullptr, 0750);
  p.append("").append(static_cast<const char*>(nullptr));
  EXPECT_EQ(p.str(), "/a");
  p.append("b").append(std::string("c"));
  EXPECT_EQ(p.str(), "/a/b/c");
}

TEST(Path_Conf, EmptyPrefixGivesEmptyPath) {
  Log_Capture capture;
  EXPECT_EQ(Path_Conf("", false, "c.conf", 0750).str(), "");
  EXPECT_EQ(Path_Conf(nullptr, false, "c.conf", 0750).str(), "");
  EXPECT_EQ(Path_Conf("", "x", false, "c.conf", 0750).str(), "");
  ASSERT_EQ(capture.records_.size(), 3u);
  for (const auto& r : capture.records_) {
    EXPECT_EQ(r.priority, LM_EMERGENCY);
    EXPECT_NE(r.text.find("prefix is NULL or \"\":"), std::string::npos) << r.text;
  }
}

TEST(Path_Conf, ExpandsEnvironmentReferences) {
  ASSERT_TRUE(set_env("PATH_CONF_TEST_COMPONENT", "tapemgr"));
  const std::string p =
      Path_Conf("/etc/opt/quillon/kestrel3/$PATH_CONF_TEST_COMPONENT/media_controller.conf",
                false, nullptr, 0750)
          .str();
  EXPECT_EQ(p, "/etc/opt/quillon/kestrel3/tapemgr/media_controller.conf");
  EXPECT_TRUE(set_env("PATH_CONF_TEST_COMPONENT", nullptr));
  // An unset variable's reference is left as written.
  EXPECT_EQ(Path_Conf("/e/$PATH_CONF_TEST_COMPONENT", false).str(),
            "/e/$PATH_CONF_TEST_COMPONENT");
}

TEST(Path_Conf, FixReplacesEveryOccurrence) {
  Path_Conf p("/x/@/y/@@", false);
  p.fix("@", "ab");
  EXPECT_EQ(p.str(), "/x/ab/y/abab");
  p.fix("zz", "q");
  EXPECT_EQ(p.str(), "/x/ab/y/abab");
  p.fix("abab", "a");
  EXPECT_EQ(p.str(), "/x/ab/y/a");
}

TEST(Path_Conf, CreatesTheWholeExpandedPrefix) {
  Temp_Dir tmp;
  const std::string prefix = tmp / "conf/dir";
  EXPECT_EQ(Path_Conf(prefix.c_str(), true, "f.conf", 0750).str(), prefix + "/f.conf");
  struct stat st;
  ASSERT_EQ(::stat(prefix.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_NE(::stat((prefix + "/f.conf").c_str(), &st), 0) << "the basename is not created";
  EXPECT_EQ(Path_Conf(prefix.c_str(), true).str(), prefix) << "existing directory is fine";

  const std::string under_file = tmp / "conf/dir/f.conf";
  {
    FILE* f = fopen(under_file.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fclose(f);
  }
  Log_Capture capture;
  EXPECT_EQ(Path_Conf(under_file.c_str(), "sub", true).str(), under_file + "/sub")
      << "a creation failure is logged and the path still built";
  ASSERT_EQ(capture.records_.size(), 1u);
  EXPECT_EQ(capture.records_[0].priority, LM_ERROR);
  EXPECT_EQ(capture.records_[0].text.rfind("Failed to mkdir " + under_file + "/sub, errno=20, ", 0),
            0u)
      << capture.records_[0].text;
}
