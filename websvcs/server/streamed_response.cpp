// Streamed reply bodies on libmicrohttpd's callback responses.
#include "websvcs/server/streamed_response.h"

#include <new>
#include <utility>

namespace {

// Pieces handed to the connection at a time.
const std::size_t BLOCK_BYTES = 32768;

struct Streamed_Body {
  std::unique_ptr<JSON_Stream_Reader> reader;
  std::shared_ptr<std::uint64_t> sent;
};

ssize_t read_body(void* cls, uint64_t, char* buf, size_t max) {
  Streamed_Body* body = static_cast<Streamed_Body*>(cls);
  const long n = body->reader->read(buf, max);
  if (n < 0) return MHD_CONTENT_READER_END_WITH_ERROR;
  if (n == 0) return MHD_CONTENT_READER_END_OF_STREAM;
  if (body->sent) *body->sent += static_cast<std::uint64_t>(n);
  return static_cast<ssize_t>(n);
}

void free_body(void* cls) { delete static_cast<Streamed_Body*>(cls); }

}  // namespace

struct MHD_Response* make_streamed_response(std::unique_ptr<JSON_Stream_Reader> reader,
                                            std::shared_ptr<std::uint64_t> sent) {
  Streamed_Body* body = new (std::nothrow) Streamed_Body{std::move(reader), std::move(sent)};
  if (!body || !body->reader) {
    delete body;
    return nullptr;
  }
  struct MHD_Response* resp =
      MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, BLOCK_BYTES, read_body, body, free_body);
  if (!resp) delete body;
  return resp;
}
