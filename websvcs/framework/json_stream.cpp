// Reading a JSON reply body piece by piece.
#include "websvcs/framework/json_stream.h"

#include <cstring>
#include <exception>
#include <utility>

JSON_Stream_Reader::JSON_Stream_Reader(std::unique_ptr<JSON_Stream> stream)
    : stream_(std::move(stream)), g_(yajl_gen_alloc(nullptr)) {
  if (!g_ || !stream_) failed_ = true;
}

JSON_Stream_Reader::~JSON_Stream_Reader() {
  stream_.reset();
  if (g_) yajl_gen_free(g_);
}

std::size_t JSON_Stream_Reader::waiting() const {
  if (!g_) return 0;
  const unsigned char* buf = nullptr;
  size_t len = 0;
  if (yajl_gen_get_buf(g_, &buf, &len) != yajl_gen_status_ok) return 0;
  return len - offset_;
}

// One more piece, after the text read so far is dropped from the buffer.
bool JSON_Stream_Reader::produce() {
  if (failed_) return false;
  if (done_) return true;
  if (waiting() == 0) {
    yajl_gen_clear(g_);
    offset_ = 0;
  }
  bool ok = false;
  try {
    ok = stream_->next(g_, done_);
  } catch (const std::exception&) {
    ok = false;
  }
  // A finished document refuses any further value; anything else means the
  // stream claimed to be done with the document still open.
  if (ok && done_) ok = yajl_gen_null(g_) == yajl_gen_generation_complete;
  if (!ok) failed_ = true;
  return ok;
}

bool JSON_Stream_Reader::fill(std::size_t bytes) {
  while (!failed_ && !done_ && waiting() < bytes) produce();
  return !failed_;
}

long JSON_Stream_Reader::read(char* buf, std::size_t max) {
  while (!failed_ && !done_ && waiting() == 0) produce();
  if (failed_) return -1;
  const unsigned char* text = nullptr;
  size_t len = 0;
  if (yajl_gen_get_buf(g_, &text, &len) != yajl_gen_status_ok) return -1;
  std::size_t n = len - offset_;
  if (n > max) n = max;
  std::memcpy(buf, text + offset_, n);
  offset_ += n;
  read_total_ += n;
  return static_cast<long>(n);
}
