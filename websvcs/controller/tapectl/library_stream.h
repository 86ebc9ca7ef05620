// The array of library objects that the list and inventory replies carry,
// written as a JSON_Stream: the opening of each library object (its keys
// and drives) in one piece, its slots SLOTS_PER_PIECE at a time, so the
// server sends a library of any size in bounded memory.
//
// The text is exactly what writing the array in one go gives
// (tape_generator_helper.h describes the objects). Null libraries, drives
// and slots are skipped. The records are only read, never changed.
#ifndef WEBSVCS_CONTROLLER_TAPECTL_LIBRARY_STREAM_H
#define WEBSVCS_CONTROLLER_TAPECTL_LIBRARY_STREAM_H

#include <cstddef>

#include "d2t/util/changer.h"
#include "websvcs/framework/json_stream.h"
#include "websvcs/framework/yajl_gen.h"

class Library_Stream : public JSON_Stream {
 public:
  static const std::size_t SLOTS_PER_PIECE = 512;

  bool next(yajl_gen_t* g, bool& done) override;

 protected:
  // How many libraries there are, and library `i` (may be null: skipped).
  virtual std::size_t library_count() const = 0;
  virtual const d2t::Changer* library(std::size_t i) const = 0;
  // The drive objects of library `i` (its "drives" array is open).
  virtual void write_drives(YAJL_Gen& g, std::size_t i) const = 0;
  // Slot `m` of library `i` (the list reply's slot object by default).
  virtual void write_slot(YAJL_Gen& g, std::size_t i, const d2t::Media& m) const;
  // Keys written after "slots" in library `i`'s object (none by default).
  virtual void write_after_slots(YAJL_Gen& g, std::size_t i) const;

 private:
  bool started_ = false;
  std::size_t library_ = 0;  // the library being written
  bool in_slots_ = false;    // its "slots" array is open
  std::size_t slot_ = 0;     // next slot to write
};

// Runs `stream` to its end on `g` in one go; true when it completed.
bool write_whole(JSON_Stream& stream, yajl_gen_t* g);

#endif
