#include "host/host_manager.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <thread>
#include <vector>

#include "ace/Log_Msg.h"
#include "host/sha256.h"
#include "testing/temp_dir.h"

namespace {

class Host_Manager_Test : public ::testing::Test {
 protected:
  void SetUp() override { ACE_LOG_MSG->priority_mask(0, ACE_Log_Msg::PROCESS); }
  std::string write(const std::string& name, const std::string& text) {
    return tmp_.write(name, text);
  }
  static std::string read(const std::string& path) {
    std::ifstream in(path.c_str());
    std::string s;
    std::getline(in, s);
    return s;
  }
  test_support::Temp_Dir tmp_{"host_manager_test"};
  const std::string dir_ = tmp_.path();
  const std::string state_ = dir_ + "/state/sub";
};

TEST_F(Host_Manager_Test, DerivesTheIdFromAValidMachineIdWithoutShowingIt) {
  std::string mid = write("machine-id", "0123456789ABCDEF0123456789abcdef\n");
  Host_Manager m(mid, state_);
  const std::string id = m.uuid();
  EXPECT_TRUE(is_uuid_text(id));
  EXPECT_EQ(app_specific_uuid("0123456789abcdef0123456789abcdef"), id);  // case does not matter
  EXPECT_EQ('4', id[14]);
  for (const char* part : {"01234567", "89ab", "cdef", "456789abcdef"})
    EXPECT_EQ(std::string::npos, id.find(part)) << part;
  EXPECT_NE(id, app_specific_uuid("0123456789abcdef0123456789abcdee"));
  struct stat st;
  EXPECT_NE(0, stat(state_.c_str(), &st));  // nothing stored

  // The inventory's host id: D2T_HOST_ID when it is usable, else the same id.
  ASSERT_EQ(0, setenv("D2T_HOST_ID", "host-a", 1));
  EXPECT_EQ("host-a", Host_Manager(mid, state_).host_id());
  for (const char* bad : {"two words", "", "x\x01"}) {
    ASSERT_EQ(0, setenv("D2T_HOST_ID", bad, 1));
    EXPECT_EQ(id, Host_Manager(mid, state_).host_id()) << bad;
  }
  ASSERT_EQ(0, setenv("D2T_HOST_ID", std::string(65, 'h').c_str(), 1));
  EXPECT_EQ(id, Host_Manager(mid, state_).host_id());
  unsetenv("D2T_HOST_ID");
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

// A stored id is read back the same by every instance (upper case as lower
// case); a corrupt one is replaced.
TEST_F(Host_Manager_Test, StoredUuidIsStableAndACorruptOneIsReplaced) {
  std::string missing = dir_ + "/no-machine-id";
  std::string first = Host_Manager(missing, state_).uuid();
  EXPECT_EQ(first, Host_Manager(missing, state_).uuid());
  write("state/sub/host_uuid", "AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE\n");
  EXPECT_EQ("aaaaaaaa-bbbb-4ccc-8ddd-eeeeeeeeeeee", Host_Manager(missing, state_).uuid());
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
  EXPECT_EQ("", app_specific_uuid("uninitialized"));
}

std::string hex(const host::Sha256_Digest& d) {
  std::string s;
  char b[3];
  for (std::uint8_t v : d) {
    std::snprintf(b, sizeof b, "%02x", v);
    s += b;
  }
  return s;
}

TEST(Host_Identity, DigestsMatchPublishedVectors) {
  EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
            hex(host::sha256("abc")));
  // Two blocks of padding.
  EXPECT_EQ("248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1",
            hex(host::sha256("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")));
  EXPECT_EQ("5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843",
            hex(host::hmac_sha256("Jefe", "what do ya want for nothing?")));
  // A key longer than a block is hashed first.
  EXPECT_EQ("60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54",
            hex(host::hmac_sha256(std::string(131, '\xaa'),
                                  "Test Using Larger Than Block-Size Key - Hash Key First")));
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
