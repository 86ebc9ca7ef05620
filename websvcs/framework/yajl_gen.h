// Thin RAII wrappers over a YAJL generator, for replies that are written
// straight into the generator instead of being built as a value tree first.
//
// Writing never throws. The first failing YAJL call is remembered (rc())
// and every later write is skipped, so a caller can chain writes and check
// once at the end.
#ifndef WEBSVCS_FRAMEWORK_YAJL_GEN_H
#define WEBSVCS_FRAMEWORK_YAJL_GEN_H

#include <cstddef>
#include <cstring>
#include <string>

#include <yajl/yajl_gen.h>

class YAJL_Gen {
 public:
  // A key or string value given by pointer and exact length; the text need
  // not be NUL-terminated.
  struct Str {
    Str(const char* p, std::size_t n) : ptr(p), len(n) {}
    const char* ptr;
    std::size_t len;
  };

  // A generator of its own (compact output), freed on destruction. get() is
  // null when YAJL could not allocate it; every write then fails.
  YAJL_Gen();
  // Wraps `g`, which the caller keeps; when `delete_gen` is true the wrapper
  // takes ownership and frees it on destruction.
  explicit YAJL_Gen(yajl_gen g, bool delete_gen = false);
  ~YAJL_Gen();
  YAJL_Gen(const YAJL_Gen&) = delete;
  YAJL_Gen& operator=(const YAJL_Gen&) = delete;

  yajl_gen get() const { return g_; }
  // yajl_gen_status_ok, or the status of the first write that failed.
  yajl_gen_status rc() const { return rc_; }
  bool ok() const { return rc_ == yajl_gen_status_ok; }

  // The text written so far (empty when there is no generator).
  std::string text() const;

  // Each writes one value (a string written where a key is expected is the
  // key) and returns *this for chaining.
  YAJL_Gen& operator<<(const Str& s);
  YAJL_Gen& operator<<(const char* s);  // null writes JSON null
  YAJL_Gen& operator<<(const std::string& s);
  YAJL_Gen& operator<<(bool b);
  YAJL_Gen& operator<<(int i);
  YAJL_Gen& operator<<(unsigned int i);
  YAJL_Gen& operator<<(long i);
  YAJL_Gen& operator<<(unsigned long i);  // full unsigned 64-bit range
  YAJL_Gen& operator<<(long long i);
  YAJL_Gen& operator<<(unsigned long long i);
  YAJL_Gen& operator<<(double d);  // NaN and infinities fail (not JSON)
  YAJL_Gen& operator<<(std::nullptr_t);

  // Records the outcome of a raw YAJL call made on get(); returns ok().
  bool note(yajl_gen_status st);

 private:
  yajl_gen g_;
  bool delete_gen_;
  yajl_gen_status rc_;
};

// Opens a JSON object on construction and closes it on destruction.
// rc() is the status of the open call.
class YAJL_Map_Guard {
 public:
  explicit YAJL_Map_Guard(yajl_gen g);
  explicit YAJL_Map_Guard(YAJL_Gen& g);
  ~YAJL_Map_Guard();
  YAJL_Map_Guard(const YAJL_Map_Guard&) = delete;
  YAJL_Map_Guard& operator=(const YAJL_Map_Guard&) = delete;
  yajl_gen_status rc() const { return rc_; }

 private:
  yajl_gen g_;
  yajl_gen_status rc_;
  YAJL_Gen* owner_;  // when built on a YAJL_Gen: where the close status goes
};

// The same for a JSON array.
class YAJL_Array_Guard {
 public:
  explicit YAJL_Array_Guard(yajl_gen g);
  explicit YAJL_Array_Guard(YAJL_Gen& g);
  ~YAJL_Array_Guard();
  YAJL_Array_Guard(const YAJL_Array_Guard&) = delete;
  YAJL_Array_Guard& operator=(const YAJL_Array_Guard&) = delete;
  yajl_gen_status rc() const { return rc_; }

 private:
  yajl_gen g_;
  yajl_gen_status rc_;
  YAJL_Gen* owner_;
};

#endif
