// A JSON reply body produced piece by piece while the connection sends it,
// so that a large reply (a library of many thousand slots) is never held
// whole in memory.
//
// A JSON_Stream writes its document into one YAJL generator in several
// calls of next(); between the calls the reader takes the text written so
// far out of the generator and clears its buffer, so memory stays at about
// one piece. The concatenated pieces are exactly the document that writing
// it in one go would give.
//
// A JSON_Stream_Reader turns a stream into bytes for the server (a
// libmicrohttpd callback response) or for a test. Neither is thread-safe:
// one reader is read by one thread at a time.
#ifndef WEBSVCS_FRAMEWORK_JSON_STREAM_H
#define WEBSVCS_FRAMEWORK_JSON_STREAM_H

#include <yajl/yajl_gen.h>

#include <cstddef>
#include <cstdint>
#include <memory>

class JSON_Stream {
 public:
  virtual ~JSON_Stream() {}
  // Writes the next piece of the document into `g` (the same generator on
  // every call; the caller owns it). Sets `done` once the document is
  // complete; next() is then not called again. Returns false when the
  // document cannot be produced; nothing more is asked of the stream.
  virtual bool next(yajl_gen_t* g, bool& done) = 0;
};

class JSON_Stream_Reader {
 public:
  // Takes the stream; `stream` must not be null.
  explicit JSON_Stream_Reader(std::unique_ptr<JSON_Stream> stream);
  ~JSON_Stream_Reader();
  JSON_Stream_Reader(const JSON_Stream_Reader&) = delete;
  JSON_Stream_Reader& operator=(const JSON_Stream_Reader&) = delete;

  // Produces pieces until at least `bytes` are waiting or the document is
  // complete. False when the stream failed (or wrote an invalid document).
  bool fill(std::size_t bytes);
  // Copies up to `max` bytes of the document into `buf`, producing more
  // when none are waiting. Returns the number copied, 0 at the end of the
  // document, -1 when the stream failed (the document is then cut short).
  long read(char* buf, std::size_t max);
  // True when the whole document has been produced (it may still be
  // waiting to be read).
  bool complete() const { return done_; }
  // Bytes produced and not yet read.
  std::size_t waiting() const;
  // Bytes handed out by read() so far.
  std::uint64_t bytes_read() const { return read_total_; }

 private:
  bool produce();

  std::unique_ptr<JSON_Stream> stream_;
  yajl_gen g_;
  std::size_t offset_ = 0;  // of the generator's buffer already read
  bool done_ = false;
  bool failed_ = false;
  std::uint64_t read_total_ = 0;
};

#endif
