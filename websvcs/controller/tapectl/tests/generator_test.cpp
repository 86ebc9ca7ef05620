// The JSON shapes of the device list: key order, which keys a slot carries
// in each state, null entries skipped.
#include <gtest/gtest.h>

#include <vector>

#include "d2t/controller/refresh_status.h"
#include "d2t/util/changer.h"
#include "json_spirit/json_spirit.h"
#include "websvcs/controller/tapectl/json_list_tape_generator.h"
#include "websvcs/controller/tapectl/refresh_stream.h"
#include "websvcs/controller/tapectl/tape_generator_helper.h"
#include "websvcs/framework/json_restful_channel.h"
#include "websvcs/framework/yajl_gen.h"

namespace {

d2t::Media_var slot(int number, d2t::Media_State state, const std::string& tag = "",
                    bool porter = false) {
  d2t::Media_var m(new d2t::Media());
  m->slot_number(number);
  m->state(state);
  m->media_tag(tag);
  m->is_porter(porter);
  return m;
}

d2t::Drive_var drive(unsigned number, const std::string& serial, bool faulty = false) {
  d2t::Drive_var d(new d2t::Drive());
  d->drive_number(number);
  d->vendor("EMULATED");
  d->model("LTO-9");
  d->serial_number(serial);
  d->lun(0);
  d->target_name("2:0:" + std::to_string(number));
  d->dev_name("/dev/st" + std::to_string(number));
  d->sg_name("/dev/sg2" + std::to_string(number));
  d->faulty(faulty);
  return d;
}

d2t::Changer_var changer(const std::string& serial) {
  d2t::Changer_var c(new d2t::Changer());
  c->target_name("1:0:0");
  c->lun(1);
  c->vendor("EMULATED");
  c->model("TAPE LIBRARY");
  c->serial_number(serial);
  c->sg_name("/dev/sg10");
  c->type("virtual");
  return c;
}

template <typename T>
std::string render(const T& record) {
  YAJL_Gen g;
  g << record;
  EXPECT_TRUE(g.ok());
  return g.text();
}

std::string render_list(const std::vector<d2t::Changer_var>& list) {
  YAJL_Gen g;
  JSON_List_Tape_Generator gen(list);
  EXPECT_TRUE(gen.generate(g.get()));
  return g.text();
}

// The text `stream` sends through a channel, read `piece` bytes at a time.
std::string streamed(JSON_Stream* stream, std::size_t piece) {
  JSON_RESTful_Channel ch;
  EXPECT_EQ(0, ch.send_stream(std::unique_ptr<JSON_Stream>(stream)));
  std::string text;
  std::vector<char> buf(piece);
  long n = 0;
  while (ch.stream() && (n = ch.stream()->read(buf.data(), piece)) > 0) text.append(buf.data(), n);
  EXPECT_EQ(0, n);
  return text;
}

TEST(Slot_Object, KeysDependOnStateLabelAndPool) {
  d2t::Media_var blank = slot(1, d2t::MST_BLANK, "T0001L9");
  blank->capacity(18000000000000ULL);
  d2t::Media_var full = slot(2, d2t::MST_FULL, "T0002L9");
  full->capacity(d2t::MAX_TAPE_CAPACITY);
  full->used(18446744073709551615ULL);
  full->label("weekly");
  full->media_pool_uuid("0c6f3c1e-6d1a-4c36-9d8e-1f1f2b3c4d5e");
  d2t::Media_var no_pool = slot(2, d2t::MST_FULL, "T0002L9");
  no_pool->capacity(d2t::MAX_TAPE_CAPACITY);
  no_pool->used(1);
  no_pool->label("weekly");
  const std::vector<std::pair<d2t::Media_var, std::string>> rows = {
      {slot(5, d2t::MST_EMPTY, "IGNORED"),
       R"({"slot_number":5,"state":"empty","is_porter":false})"},
      {slot(6, d2t::MST_CLEAN, "CLN001L1"),
       R"({"slot_number":6,"state":"clean","is_porter":false,"media_tag":"CLN001L1"})"},
      {slot(9, d2t::MST_UNKNOWN, "", true),
       R"({"slot_number":9,"state":"unknown","is_porter":true,"media_tag":""})"},
      // A usable cartridge without label or pool: no "label", no "media_pool_uuid".
      {blank, R"({"slot_number":1,"state":"blank","is_porter":false,"media_tag":"T0001L9",)"
              R"("capacity":18000000000000,"used":0})"},
      // The full unsigned range, label and pool.
      {full, R"({"slot_number":2,"state":"full","is_porter":false,"media_tag":"T0002L9",)"
             R"("capacity":211106232532992,"used":18446744073709551615,"label":"weekly",)"
             R"("media_pool_uuid":"0c6f3c1e-6d1a-4c36-9d8e-1f1f2b3c4d5e"})"},
      // Label without pool: only the label.
      {no_pool, R"({"slot_number":2,"state":"full","is_porter":false,"media_tag":"T0002L9",)"
                R"("capacity":211106232532992,"used":1,"label":"weekly"})"},
  };
  for (const auto& row : rows) EXPECT_EQ(row.second, render(row.first));
  EXPECT_EQ(R"({"drive_number":1,"vendor":"EMULATED","model":"LTO-9","serial_number":"D-1",)"
            R"("lun":0,"target_name":"2:0:1","dev_name":"/dev/st1","sg_name":"/dev/sg21",)"
            R"("faulty":true})",
            render(drive(1, "D-1", true)));
}

// Null libraries, drives and slots are skipped.
TEST(List_Generator, LibrariesInListOrderWithDrivesAndSlots) {
  d2t::Changer_var a = changer("LIB-A");
  a->add_drive(drive(0, "A-0"));
  a->add_drive(d2t::Drive_var());
  a->add_drive(drive(1, "A-1"));
  a->add_media(d2t::Media_var());
  a->add_media(slot(1, d2t::MST_CLEAN, "CLN1"));
  d2t::Changer_var b = changer("LIB-B");
  b->type("");
  const std::string text = render_list({d2t::Changer_var(), a, d2t::Changer_var(), b});
  const std::string lib_a =
      R"({"target_name":"1:0:0","lun":1,"vendor":"EMULATED","model":"TAPE LIBRARY",)"
      R"("serial_number":"LIB-A","sg_name":"/dev/sg10","type":"virtual","drives":[)" +
      render(a->drives()[0]) + "," + render(a->drives()[2]) +
      R"(],"slots":[{"slot_number":1,"state":"clean","is_porter":false,"media_tag":"CLN1"}]})";
  const std::string lib_b =
      R"({"target_name":"1:0:0","lun":1,"vendor":"EMULATED","model":"TAPE LIBRARY",)"
      R"("serial_number":"LIB-B","sg_name":"/dev/sg10","type":"","drives":[],"slots":[]})";
  EXPECT_EQ("[" + lib_a + "," + lib_b + "]", text);
  // Empty and all-null lists give an empty array.
  EXPECT_EQ("[]", render_list({}));
  EXPECT_EQ("[]", render_list({d2t::Changer_var(), d2t::Changer_var()}));
}

TEST(List_Generator, StreamedReplyIsTheWholeOneByteForByte) {
  // Two libraries of several pieces of slots each, in every slot shape.
  std::vector<d2t::Changer_var> list;
  for (const char* serial : {"LIB-A", "LIB-B"}) {
    d2t::Changer_var c = changer(serial);
    c->add_drive(drive(0, std::string(serial) + "-0"));
    for (int i = 1; i <= 3 * static_cast<int>(Library_Stream::SLOTS_PER_PIECE) + 7; ++i) {
      const d2t::Media_State state = i % 3 == 0   ? d2t::MST_EMPTY
                                     : i % 7 == 0 ? d2t::MST_CLEAN
                                                  : d2t::MST_FULL;
      d2t::Media_var m = slot(i, state, "T" + std::to_string(i) + "L9", i % 11 == 0);
      m->capacity(18000000000000ULL);
      if (i % 5 == 0) m->label("weekly \"" + std::to_string(i) + "\"");
      c->add_media(m);
    }
    c->add_media(d2t::Media_var());
    list.push_back(c);
  }
  const std::string whole = "[" + render(list[0]) + "," + render(list[1]) + "]";
  ASSERT_GT(whole.size(), 3 * JSON_RESTful_Channel::STREAM_PRIME_BYTES);
  EXPECT_EQ(whole, streamed(new List_Tape_Stream(list), 4093));
  EXPECT_EQ(whole, render_list(list));
}

TEST(Refresh_Stream, WritesTheWholeReplyTextPieceByPiece) {
  d2t::Changer_var c = changer("LIB-R");
  c->add_drive(drive(0, "R-0"));
  c->drives()[0]->slot_number(4);
  c->drives()[0]->media_tag("T4L9");
  c->add_drive(d2t::Drive_var());
  for (int i = 1; i <= 3 * static_cast<int>(Refresh_Stream::SLOTS_PER_PIECE) + 3; ++i) {
    // Tags a writer may escape differently: quotes, control and non-ASCII.
    const std::string tag =
        i % 9 == 0 ? "Q\"\\\t\x01\xc3\xa9" + std::to_string(i) : "T" + std::to_string(i);
    c->add_media(slot(i, i % 4 == 0 ? d2t::MST_EMPTY : d2t::MST_FULL, i % 4 ? tag : "", i > 1500));
  }
  c->add_media(d2t::Media_var());
  json_spirit::Object whole;
  write_refresh_status(*c, whole);
  EXPECT_EQ(json_spirit::write(whole), streamed(new Refresh_Stream(c), 999));
}

TEST(List_Generator, ReportsAFailedGenerator) {
  // A generator that already holds a complete value refuses more writes.
  YAJL_Gen g;
  g << 1;
  std::vector<d2t::Changer_var> list{changer("LIB-1")};
  JSON_List_Tape_Generator gen(list);
  EXPECT_FALSE(gen.generate(g.get()));
}

}  // namespace
