// The refresh reply written piece by piece: the text of
// json_spirit::write of write_refresh_status's object (refresh_status.h),
// byte for byte, with the slots SLOTS_PER_PIECE at a time, so the reply of
// a large library is never built whole.
#ifndef WEBSVCS_CONTROLLER_TAPECTL_REFRESH_STREAM_H
#define WEBSVCS_CONTROLLER_TAPECTL_REFRESH_STREAM_H

#include <cstddef>

#include "d2t/util/changer.h"
#include "json_spirit/json_spirit_value.h"
#include "websvcs/framework/json_stream.h"

class Refresh_Stream : public JSON_Stream {
 public:
  static const std::size_t SLOTS_PER_PIECE = 512;

  // Keeps the refreshed library (only read).
  explicit Refresh_Stream(d2t::Changer_var changer);
  bool next(yajl_gen_t* g, bool& done) override;

 private:
  d2t::Changer_var changer_;
  // The reply's keys in their written order; "slots" is null here and
  // written from the record.
  json_spirit::Object head_;
  json_spirit::Object::const_iterator key_;
  bool started_ = false;
  bool in_slots_ = false;
  std::size_t slot_ = 0;
};

#endif
