// RAII wrappers over a YAJL generator.
#include "websvcs/framework/yajl_gen.h"

#include <cmath>
#include <cstdio>

YAJL_Gen::YAJL_Gen() : g_(yajl_gen_alloc(nullptr)), delete_gen_(true), rc_(yajl_gen_status_ok) {}

YAJL_Gen::YAJL_Gen(yajl_gen g, bool delete_gen)
    : g_(g), delete_gen_(delete_gen), rc_(yajl_gen_status_ok) {}

YAJL_Gen::~YAJL_Gen() {
  if (delete_gen_ && g_) yajl_gen_free(g_);
}

std::string YAJL_Gen::text() const {
  if (!g_) return std::string();
  const unsigned char* buf = nullptr;
  size_t len = 0;
  if (yajl_gen_get_buf(g_, &buf, &len) != yajl_gen_status_ok) return std::string();
  return std::string(reinterpret_cast<const char*>(buf), len);
}

bool YAJL_Gen::note(yajl_gen_status st) {
  if (rc_ == yajl_gen_status_ok && st != yajl_gen_status_ok) rc_ = st;
  return ok();
}

// Every write goes through here: nothing more is written after a failure,
// and a missing generator counts as a failure.
#define YAJL_GEN_WRITE(call)                                    \
  do {                                                          \
    if (!ok()) return *this;                                    \
    if (!g_) {                                                  \
      rc_ = yajl_gen_invalid_string;                            \
      return *this;                                             \
    }                                                           \
    note(call);                                                 \
    return *this;                                               \
  } while (0)

YAJL_Gen& YAJL_Gen::operator<<(const Str& s) {
  YAJL_GEN_WRITE(yajl_gen_string(g_, reinterpret_cast<const unsigned char*>(s.ptr ? s.ptr : ""),
                                 s.ptr ? s.len : 0));
}

YAJL_Gen& YAJL_Gen::operator<<(const char* s) {
  if (!s) YAJL_GEN_WRITE(yajl_gen_null(g_));
  YAJL_GEN_WRITE(yajl_gen_string(g_, reinterpret_cast<const unsigned char*>(s), std::strlen(s)));
}

YAJL_Gen& YAJL_Gen::operator<<(const std::string& s) {
  YAJL_GEN_WRITE(
      yajl_gen_string(g_, reinterpret_cast<const unsigned char*>(s.data()), s.size()));
}

YAJL_Gen& YAJL_Gen::operator<<(bool b) { YAJL_GEN_WRITE(yajl_gen_bool(g_, b ? 1 : 0)); }

YAJL_Gen& YAJL_Gen::operator<<(int i) { YAJL_GEN_WRITE(yajl_gen_integer(g_, i)); }

YAJL_Gen& YAJL_Gen::operator<<(unsigned int i) { YAJL_GEN_WRITE(yajl_gen_integer(g_, i)); }

YAJL_Gen& YAJL_Gen::operator<<(long i) { YAJL_GEN_WRITE(yajl_gen_integer(g_, i)); }

YAJL_Gen& YAJL_Gen::operator<<(long long i) { YAJL_GEN_WRITE(yajl_gen_integer(g_, i)); }

YAJL_Gen& YAJL_Gen::operator<<(unsigned long i) {
  return *this << static_cast<unsigned long long>(i);
}

YAJL_Gen& YAJL_Gen::operator<<(unsigned long long i) {
  // yajl_gen_integer takes a signed value; write the digits ourselves so
  // values above INT64_MAX keep their meaning.
  char buf[32];
  int n = std::snprintf(buf, sizeof buf, "%llu", i);
  YAJL_GEN_WRITE(yajl_gen_number(g_, buf, static_cast<size_t>(n)));
}

YAJL_Gen& YAJL_Gen::operator<<(double d) { YAJL_GEN_WRITE(yajl_gen_double(g_, d)); }

YAJL_Gen& YAJL_Gen::operator<<(std::nullptr_t) { YAJL_GEN_WRITE(yajl_gen_null(g_)); }

#undef YAJL_GEN_WRITE

namespace {

yajl_gen_status open_or_fail(yajl_gen g, bool map) {
  if (!g) return yajl_gen_invalid_string;
  return map ? yajl_gen_map_open(g) : yajl_gen_array_open(g);
}

// Closes what a guard opened; nothing when the open failed, since the
// document is already broken and a close would fail too.
void close_guard(yajl_gen g, yajl_gen_status opened, YAJL_Gen* owner, bool map) {
  if (!g || opened != yajl_gen_status_ok) return;
  yajl_gen_status st = map ? yajl_gen_map_close(g) : yajl_gen_array_close(g);
  if (owner) owner->note(st);
}

}  // namespace

YAJL_Map_Guard::YAJL_Map_Guard(yajl_gen g) : g_(g), rc_(open_or_fail(g, true)), owner_(nullptr) {}

YAJL_Map_Guard::YAJL_Map_Guard(YAJL_Gen& g)
    : g_(g.get()), rc_(g.ok() ? open_or_fail(g.get(), true) : g.rc()), owner_(&g) {
  g.note(rc_);
}

YAJL_Map_Guard::~YAJL_Map_Guard() { close_guard(g_, rc_, owner_, true); }

YAJL_Array_Guard::YAJL_Array_Guard(yajl_gen g)
    : g_(g), rc_(open_or_fail(g, false)), owner_(nullptr) {}

YAJL_Array_Guard::YAJL_Array_Guard(YAJL_Gen& g)
    : g_(g.get()), rc_(g.ok() ? open_or_fail(g.get(), false) : g.rc()), owner_(&g) {
  g.note(rc_);
}

YAJL_Array_Guard::~YAJL_Array_Guard() { close_guard(g_, rc_, owner_, false); }
