#include "host/host_manager.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <set>
#include <thread>
#include <vector>

#include "ace/Log_Msg.h"

namespace {

class Host_Manager_Test : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/host_manager_test.XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    dir_ = tmpl;
    state_ = dir_ + "/state/sub";
    ACE_LOG_MSG->priority_mask(0, ACE_Log_Msg::PROCESS);
  }
  void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }
  std::string write(const std::string& name, const std::string& text) {
    std::string p = dir_ + "/" + name;
    std::ofstream(p.c_str()) << text;
    return p;
  }
  static std::string read(const std::string& path) {
    std::ifstream in(path.c_str());
    std::string s;
    std::getline(in, s);
    return s;
  }
  std::string dir_;
  std::string state_;
};

TEST_F(Host_Manager_Test, UsesAValidMachineId) {
  std::string mid = write("machine-id", "0123456789ABCDEF0123456789abcdef\n");
  Host_Manager m(mid, state_);
  EXPECT_EQ("01234567-89ab-cdef-0123-456789abcdef", m.uuid());
  struct stat st;
  EXPECT_NE(0, stat(state_.c_str(), &st));  // nothing stored
}

TEST_F(Host_Manager_Test, InvalidMachineIdFallsBackToAStoredUuid) {
  for (const char* content : {"00000000000000000000000000000000", "uninitialized",
                              "0123456789abcdef", "0123456789abcdef0123456789abcdeg", ""}) {
    std::system(("rm -rf " + dir_ + "/state").c_str());
    std::string mid = write("machine-id", content);
    Host_Manager m(mid, state_);
    std::string id = m.uuid();
    ASSERT_TRUE(is_uuid_text(id)) << content << " -> " << id;
    EXPECT_EQ('4', id[14]) << id;  // a random (version 4) UUID
    EXPECT_EQ(id, read(state_ + "/host_uuid"));
    struct stat st;
    ASSERT_EQ(0, stat((state_ + "/host_uuid").c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 0777);
  }
}

TEST_F(Host_Manager_Test, StoredUuidIsStableAcrossInstances) {
  std::string missing = dir_ + "/no-machine-id";
  std::string first = Host_Manager(missing, state_).uuid();
  std::string second = Host_Manager(missing, state_).uuid();
  EXPECT_EQ(first, second);
  // An upper-case stored value is read back as lower case.
  write("state/sub/host_uuid", "AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE\n");
  EXPECT_EQ("aaaaaaaa-bbbb-4ccc-8ddd-eeeeeeeeeeee", Host_Manager(missing, state_).uuid());
}

TEST_F(Host_Manager_Test, CorruptStoredValueIsReplaced) {
  std::string missing = dir_ + "/no-machine-id";
  ASSERT_EQ(0, std::system(("mkdir -p " + state_).c_str()));
  write("state/sub/host_uuid", "garbage\n");
  std::string id = Host_Manager(missing, state_).uuid();
  EXPECT_TRUE(is_uuid_text(id));
  EXPECT_EQ(id, read(state_ + "/host_uuid"));
  EXPECT_EQ(id, Host_Manager(missing, state_).uuid());
}

TEST_F(Host_Manager_Test, ConcurrentFirstCallsAgree) {
  std::string missing = dir_ + "/no-machine-id";
  std::vector<std::string> ids(8);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < ids.size(); ++i)
    threads.emplace_back([&, i] { ids[i] = Host_Manager(missing, state_).uuid(); });
  for (auto& t : threads) t.join();
  EXPECT_EQ(1u, std::set<std::string>(ids.begin(), ids.end()).size());
  EXPECT_EQ(ids[0], read(state_ + "/host_uuid"));
}

TEST_F(Host_Manager_Test, UnusableStateDirDegradesToAProcessLifetimeId) {
  std::string file = write("plain-file", "x");
  Host_Manager m(dir_ + "/no-machine-id", file + "/state");  // under a file: ENOTDIR
  std::string id = m.uuid();
  EXPECT_TRUE(is_uuid_text(id));
  EXPECT_EQ(id, m.uuid());
}

TEST(Host_Identity, TextHelpers) {
  EXPECT_TRUE(is_uuid_text("01234567-89ab-cdef-0123-456789abcdef"));
  EXPECT_FALSE(is_uuid_text("0123456789abcdef0123456789abcdef"));
  EXPECT_FALSE(is_uuid_text("01234567-89ab-cdef-0123-456789abcdeg"));
  EXPECT_FALSE(is_uuid_text("01234567-89ab-cdef-0123-456789abcde"));
  EXPECT_EQ("", machine_id_to_uuid("00000000000000000000000000000000"));
  EXPECT_EQ("", machine_id_to_uuid("0123456789abcdef0123456789abcdef0"));
}

TEST(Host_Identity, StateDirFromEnvironment) {
  ASSERT_EQ(0, setenv("D2T_STATE_DIR", "/tmp/elsewhere", 1));
  EXPECT_EQ("/tmp/elsewhere", default_state_dir());
  ASSERT_EQ(0, setenv("D2T_STATE_DIR", "", 1));
  ASSERT_EQ(0, setenv("COMPONENT", "tapectl", 1));
  EXPECT_EQ("/var/opt/quillon/kestrel3/tapectl", default_state_dir());
  unsetenv("D2T_STATE_DIR");
}

}  // namespace
