#include "host/host_manager.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <set>
#include <thread>
#include <vector>

#include "ace/Log_Msg.h"
#include "testing/temp_dir.h"

namespace {

class Host_Manager_Test : public ::testing::Test {
 protected:
  void SetUp() override { ACE_LOG_MSG->priority_mask(0, ACE_Log_Msg::PROCESS); }
  // The stored id, as its file holds it.
  std::string stored() const { return test_support::read_file(state_ + "/host_uuid"); }
  test_support::Temp_Dir tmp_{"host_manager_test"};
  const std::string dir_ = tmp_.path();
  const std::string state_ = dir_ + "/state/sub";
};

// The id is the HMAC-SHA256 of the machine id (case does not matter) under
// the program's key, as a version 4 UUID: the expected text was computed
// with another implementation, and shows nothing of the machine id.
TEST_F(Host_Manager_Test, DerivesTheIdFromAValidMachineIdWithoutShowingIt) {
  std::string mid = tmp_.write("machine-id", "0123456789ABCDEF0123456789abcdef\n");
  const std::string id = Host_Manager(mid, state_).uuid();
  EXPECT_EQ("dc1fcd8f-676e-47b2-9c18-c1c4f158c239", id);
  struct stat st;
  EXPECT_NE(0, stat(state_.c_str(), &st));  // nothing stored

  // The inventory's host id: D2T_HOST_ID when it is usable, else the same id.
  ASSERT_EQ(0, setenv("D2T_HOST_ID", "host-a", 1));
  EXPECT_EQ("host-a", Host_Manager(mid, state_).host_id());
  for (const std::string& bad :
       {std::string("two words"), std::string(), std::string("x\x01"), std::string(65, 'h')}) {
    ASSERT_EQ(0, setenv("D2T_HOST_ID", bad.c_str(), 1));
    EXPECT_EQ(id, Host_Manager(mid, state_).host_id()) << bad;
  }
  unsetenv("D2T_HOST_ID");
}

TEST_F(Host_Manager_Test, InvalidMachineIdFallsBackToAStoredUuid) {
  for (const char* content :
       {"00000000000000000000000000000000", "uninitialized", "0123456789abcdef",
        "0123456789abcdef0123456789abcdeg", "0123456789abcdef0123456789abcdef0", ""}) {
    std::system(("rm -rf " + dir_ + "/state").c_str());
    std::string mid = tmp_.write("machine-id", content);
    Host_Manager m(mid, state_);
    std::string id = m.uuid();
    ASSERT_TRUE(is_uuid_text(id)) << content << " -> " << id;
    EXPECT_EQ('4', id[14]) << id;  // a random (version 4) UUID
    EXPECT_EQ(id + "\n", stored());
    struct stat st;
    ASSERT_EQ(0, stat((state_ + "/host_uuid").c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 0777);
  }
}

// A stored id is read back the same by every instance (upper case as lower
// case); a corrupt one is replaced.
TEST_F(Host_Manager_Test, StoredUuidIsStableAndACorruptOneIsReplaced) {
  std::string missing = dir_ + "/no-machine-id";
  std::string first = Host_Manager(missing, state_).uuid();
  EXPECT_EQ(first, Host_Manager(missing, state_).uuid());
  tmp_.write("state/sub/host_uuid", "AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE\n");
  EXPECT_EQ("aaaaaaaa-bbbb-4ccc-8ddd-eeeeeeeeeeee", Host_Manager(missing, state_).uuid());
  tmp_.write("state/sub/host_uuid", "aaaaaaaa-bbbb-4ccc-8ddd-eeeeeeeeeeeg\n");
  std::string id = Host_Manager(missing, state_).uuid();
  EXPECT_TRUE(is_uuid_text(id));
  EXPECT_EQ(id + "\n", stored());
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
  EXPECT_EQ(ids[0] + "\n", stored());
}

TEST_F(Host_Manager_Test, UnusableStateDirDegradesToAProcessLifetimeId) {
  std::string file = tmp_.write("plain-file", "x");
  Host_Manager m(dir_ + "/no-machine-id", file + "/state");  // under a file: ENOTDIR
  std::string id = m.uuid();
  EXPECT_TRUE(is_uuid_text(id));
  EXPECT_EQ(id, m.uuid());
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
