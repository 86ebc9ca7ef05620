// Library objects written piece by piece.
#include "websvcs/controller/tapectl/library_stream.h"

#include "websvcs/controller/tapectl/tape_generator_helper.h"

void Library_Stream::write_slot(YAJL_Gen& g, std::size_t, const d2t::Media& m) const {
  YAJL_Map_Guard slot(g);
  write_media_keys(g, m);
}

void Library_Stream::write_after_slots(YAJL_Gen&, std::size_t) const {}

bool Library_Stream::next(yajl_gen_t* raw, bool& done) {
  YAJL_Gen g(raw, false);
  if (!started_) {
    started_ = true;
    g.note(yajl_gen_array_open(raw));
  }
  // Skips to the next library that is not null, then opens it.
  while (!in_slots_ && library_ < library_count() && library(library_) == nullptr) ++library_;
  if (library_ == library_count()) {
    g.note(yajl_gen_array_close(raw));
    done = true;
    return g.ok();
  }
  const d2t::Changer& c = *library(library_);
  if (!in_slots_) {
    g.note(yajl_gen_map_open(raw));
    write_changer_keys(g, c);
    g << YAJL_Gen::Str("drives", 6);
    g.note(yajl_gen_array_open(raw));
    write_drives(g, library_);
    g.note(yajl_gen_array_close(raw));
    g << YAJL_Gen::Str("slots", 5);
    g.note(yajl_gen_array_open(raw));
    in_slots_ = true;
    slot_ = 0;
    return g.ok();
  }
  const std::vector<d2t::Media_var>& slots = c.medias();
  for (std::size_t n = 0; n < SLOTS_PER_PIECE && slot_ < slots.size(); ++slot_) {
    if (slots[slot_].get() == nullptr) continue;
    write_slot(g, library_, *slots[slot_]);
    ++n;
  }
  if (slot_ == slots.size()) {
    g.note(yajl_gen_array_close(raw));
    write_after_slots(g, library_);
    g.note(yajl_gen_map_close(raw));
    in_slots_ = false;
    ++library_;
  }
  return g.ok();
}

bool write_whole(JSON_Stream& stream, yajl_gen_t* g) {
  bool done = false;
  while (!done) {
    if (!stream.next(g, done)) return false;
  }
  return true;
}
